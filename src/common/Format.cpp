#include "common/Format.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace vexlo {

std::wstring formatWideV(const wchar_t* format, va_list args) {
    std::vector<wchar_t> buffer(512);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        // _vsnwprintf returns -1 when the text does not fit; grow and try again.
        int n = _vsnwprintf(buffer.data(), buffer.size() - 1, format, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size() - 1)
            return std::wstring(buffer.data(), static_cast<size_t>(n));
        if (buffer.size() > (64u << 20)) return std::wstring(buffer.data(), buffer.size() - 1);
        buffer.resize(buffer.size() * 4);
    }
}

std::wstring formatWideUnchecked(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = formatWideV(format, args);
    va_end(args);
    return text;
}

std::wstring widenBytes(std::string_view text) {
    std::wstring wide(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return wide;
}

std::string narrowAscii(std::wstring_view text) {
    std::string narrow(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i) narrow[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return narrow;
}

}  // namespace vexlo
