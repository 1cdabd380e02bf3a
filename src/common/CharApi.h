// The Win32 calls that come in an 8-bit ("A") and a wide ("W") form, as overloads on the character type, so
// that one template serves both forms of a path operation.
#pragma once

#include <windows.h>

#include <type_traits>

namespace vexlo::charapi {

template <typename Char>
using FindData = std::conditional_t<std::is_same_v<Char, char>, WIN32_FIND_DATAA, WIN32_FIND_DATAW>;

inline DWORD getFullPathName(const char* path, DWORD size, char* buffer, char** filePart) {
    return GetFullPathNameA(path, size, buffer, filePart);
}
inline DWORD getFullPathName(const wchar_t* path, DWORD size, wchar_t* buffer, wchar_t** filePart) {
    return GetFullPathNameW(path, size, buffer, filePart);
}

inline HANDLE findFirstFile(const char* pattern, WIN32_FIND_DATAA* data) { return FindFirstFileA(pattern, data); }
inline HANDLE findFirstFile(const wchar_t* pattern, WIN32_FIND_DATAW* data) { return FindFirstFileW(pattern, data); }

inline UINT getWindowsDirectory(char* buffer, UINT size) { return GetWindowsDirectoryA(buffer, size); }
inline UINT getWindowsDirectory(wchar_t* buffer, UINT size) { return GetWindowsDirectoryW(buffer, size); }

inline DWORD getTempPath(DWORD size, char* buffer) { return GetTempPathA(size, buffer); }
inline DWORD getTempPath(DWORD size, wchar_t* buffer) { return GetTempPathW(size, buffer); }

inline BOOL createDirectory(const char* path) { return CreateDirectoryA(path, nullptr); }
inline BOOL createDirectory(const wchar_t* path) { return CreateDirectoryW(path, nullptr); }

inline BOOL removeDirectory(const char* path) { return RemoveDirectoryA(path); }
inline BOOL removeDirectory(const wchar_t* path) { return RemoveDirectoryW(path); }

inline DWORD getEnvironmentVariable(const char* name, char* buffer, DWORD size) {
    return GetEnvironmentVariableA(name, buffer, size);
}
inline DWORD getEnvironmentVariable(const wchar_t* name, wchar_t* buffer, DWORD size) {
    return GetEnvironmentVariableW(name, buffer, size);
}

}  // namespace vexlo::charapi
