#include "common/Environment.h"

#include <windows.h>

#include <cstdlib>

#include "common/CharApi.h"
#include "common/ProcAddress.h"

namespace vexlo {
namespace {

using charapi::getEnvironmentVariable;

template <typename Char>
std::optional<std::basic_string<Char>> readVariable(const Char* name) {
    std::basic_string<Char> value;
    // An empty value also answers 0; only the error code tells it from an absent name.
    SetLastError(ERROR_SUCCESS);
    DWORD size = getEnvironmentVariable(name, static_cast<Char*>(nullptr), 0);
    while (size > 0) {
        value.resize(size);
        DWORD got = getEnvironmentVariable(name, value.data(), size);
        if (got < size) {
            value.resize(got);
            return value;
        }
        size = got;  // grew in between
    }
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::basic_string<Char>();
}

template <typename Char>
std::optional<std::basic_string<Char>> readBounded(const Char* name, std::size_t capacity) {
    std::optional<std::basic_string<Char>> value = readVariable(name);
    if (value && (value->empty() || value->size() >= capacity)) value.reset();
    return value;
}

}  // namespace

std::optional<std::string> environmentValue(const char* name) { return readVariable(name); }
std::optional<std::wstring> environmentValue(const wchar_t* name) { return readVariable(name); }
std::optional<std::string> environmentValue(const char* name, std::size_t capacity) {
    return readBounded(name, capacity);
}
std::optional<std::wstring> environmentValue(const wchar_t* name, std::size_t capacity) {
    return readBounded(name, capacity);
}

bool setPathEverywhere(const std::string& value, unsigned long* error) {
    bool ok = SetEnvironmentVariableA("PATH", value.c_str()) != FALSE;
    if (error) *error = ok ? 0 : GetLastError();
    // The runtime library keeps its own copy, which the loaded runtime reads through getenv.
    std::string entry = "PATH=" + value;
    _putenv(entry.c_str());
    return ok;
}

DllDirectoryCookie addDllDirectory(const std::wstring& directory) {
    using AddFunction = DLL_DIRECTORY_COOKIE(WINAPI*)(PCWSTR);
    auto add = procAddress<AddFunction>(GetModuleHandleA("kernel32.dll"), "AddDllDirectory");
    return add ? add(directory.c_str()) : nullptr;
}

bool removeDllDirectory(DllDirectoryCookie cookie) {
    if (!cookie) return false;
    using RemoveFunction = BOOL(WINAPI*)(DLL_DIRECTORY_COOKIE);
    auto remove = procAddress<RemoveFunction>(GetModuleHandleA("kernel32.dll"), "RemoveDllDirectory");
    if (!remove) return false;
    remove(cookie);
    return true;
}

}  // namespace vexlo
