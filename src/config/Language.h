// The user's locale code ("de_DE", "en"), chosen from the Windows language identifier.
#pragma once

#include <string>
#include <vector>

namespace vexlo {

// The code of a language identifier by the fixed table: the full identifier first, then its primary language.
std::string selectLocaleCode(unsigned short languageId);

// The user's locale code; the argument list is accepted but not consulted.
std::string languageSelection(const std::vector<std::wstring>* args);

}  // namespace vexlo
