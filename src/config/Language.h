// The user's locale code ("de_DE", "en"), chosen from the Windows language identifier.
#pragma once

#include <string>

namespace vexlo {

// The code of a language identifier by the fixed table: the full identifier first, then its primary language.
std::string selectLocaleCode(unsigned short languageId);

// The user's locale code, from the user interface language.
std::string languageSelection();

}  // namespace vexlo
