#pragma once
// Windows paths in double-quoted TOML strings: "C:\tools" silently holds a TAB. These checks point at such
// values and suggest the single-quoted (literal) string the user most likely meant.
#include <string>
#include <string_view>
#include <vector>

#include "PackConfig.h"

namespace vexlo::pack {

// "file:line:column: warning: ..." for every value (message texts aside) holding a character that only an
// escape can write: TAB, backspace, form feed, CR or LF. Nothing for a file that does not parse.
std::vector<std::string> escapeWarnings(std::string_view tomlText, const std::string& displayName);

// For an error about an escape sequence: the same hint, with the string as written; "" for other errors.
std::string escapeHint(std::string_view tomlText, const Diagnostic& error);

}  // namespace vexlo::pack
