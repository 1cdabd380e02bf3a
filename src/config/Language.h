// The user's locale code ("de_DE", "en"), chosen from the Windows language identifier.
#pragma once

#include <string>

namespace vexlo {

// The user's locale code, from the user interface language.
std::string languageSelection();

// Steps of the operations above, declared for their tests.
namespace detail {
// The code of a language identifier by the fixed table: the full identifier first, then its primary language.
std::string selectLocaleCode(unsigned short languageId);
}  // namespace detail

}  // namespace vexlo
