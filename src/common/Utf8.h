// UTF-8 forms of wide text and back: the service log, its events and the child's error text are UTF-8 files
// and pipes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace vexlo {

inline std::string toUtf8(std::wstring_view text) {
    const int length = static_cast<int>(text.size());
    const int size = length > 0 ? WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr)
                                : 0;
    std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

inline std::wstring fromUtf8(std::string_view bytes) {
    const int length = static_cast<int>(bytes.size());
    const int size = length > 0 ? MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0) : 0;
    std::wstring text(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, text.data(), size);
    return text;
}

}  // namespace vexlo
