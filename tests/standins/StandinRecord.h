// What the stand-ins share: appending one line (ended by CR LF) to a record file. Several processes may
// append at once; FILE_APPEND_DATA keeps each write whole.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

inline void appendRecordLine(const std::string& path, const std::string& line) {
    if (path.empty()) return;
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

// The record file named by the variable; empty when it is unset or too long.
inline std::string recordPathFrom(const char* variable) {
    char path[MAX_PATH * 4];
    DWORD n = GetEnvironmentVariableA(variable, path, sizeof path);
    return n == 0 || n >= sizeof path ? std::string() : std::string(path, n);
}

}  // namespace standin
