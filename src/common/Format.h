// Formatting with the Microsoft runtime's wide printf rules: "%s" wide, "%S" 8-bit, "%I64d" 64-bit.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace vexlo {

std::wstring formatWideV(const wchar_t* format, va_list args);
std::wstring formatWide(const wchar_t* format, ...);

// Widens 8-bit text byte by byte: each byte becomes the code unit of the same value.
std::wstring widenBytes(std::string_view text);

// Narrows wide text that is known to be ASCII (numbers, fixed words); other units become '?'.
std::string narrowAscii(std::wstring_view text);

}  // namespace vexlo
