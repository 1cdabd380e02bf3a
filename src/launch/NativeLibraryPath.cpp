#include "launch/NativeLibraryPath.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "common/ProcAddress.h"
#include "common/TextLists.h"
#include "config/ConfigTables.h"
#include "config/ConfigIds.h"
#include "launch/LauncherVariables.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/PathForms.h"

namespace vexlo {

void reducePath() {
    if (getConfigInt(ids::kReducePath) == 0) return;
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0) return;
    std::wstring path(size, L'\0');
    DWORD got = GetEnvironmentVariableW(L"PATH", path.data(), size);
    if (got == 0 || got >= size) return;
    path.resize(got);

    wchar_t windowsDir[260];
    UINT n = GetWindowsDirectoryW(windowsDir, 260);
    if (n == 0 || n >= 260) return;
    logMessage(L"reducing PATH %d %d %s", static_cast<int>(n), static_cast<int>(size), path.c_str());

    std::wstring reduced;
    for (const std::wstring& entry : splitList(std::wstring_view(path))) {
        if (entry.size() >= n &&
            CompareStringOrdinal(entry.c_str(), static_cast<int>(n), windowsDir, static_cast<int>(n), TRUE) ==
                CSTR_EQUAL) {
            if (!reduced.empty()) reduced += L';';
            reduced += entry;
        }
    }
    logMessage(L"reduced PATH %d to %s", static_cast<int>(reduced.size()), reduced.c_str());
    if (!reduced.empty() && !SetEnvironmentVariableW(L"PATH", reduced.c_str())) logMessage(L"ERROR setting path");
}

std::string readPathVariable(bool* found) {
    if (found) *found = false;
    DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
    // PATH may grow between the two calls; ask again with the newer size.
    for (int attempt = 0; size > 0 && attempt < 3; ++attempt) {
        std::string value(size, '\0');
        DWORD got = GetEnvironmentVariableA("PATH", value.data(), size);
        if (got < size) {
            value.resize(got);
            if (found) *found = true;
            return value;
        }
        size = got;
    }
    return {};
}

bool setPathEverywhere(const std::string& value, unsigned long* error) {
    bool ok = SetEnvironmentVariableA("PATH", value.c_str()) != FALSE;
    if (error) *error = ok ? 0 : GetLastError();
    // The runtime library keeps its own copy, which the loaded runtime reads through getenv.
    std::string entry = "PATH=" + value;
    _putenv(entry.c_str());
    return ok;
}

void prepareNativeLibraryPath() {
    std::string configured;
    appendConfigText(ids::kNativeLibraryDirectories, configured);
    logMessage(L"native lib dir is %S", configured.c_str());
    expandLauncherVariables(configured);

    std::string value;
    resolvePathList(value, configured, [](const std::string& directory) {
        if (!directory.empty()) addDllDirectory(directory);
    });
    if (!value.empty() && value.back() != ';') value += ';';
    value += readPathVariable(nullptr);

    unsigned long error = 0;
    if (setPathEverywhere(value, &error))
        logMessage(L"Setting PATH (native libs) %S", value.c_str());
    else
        logMessage(L"Setting PATH (native libs) %S failed with error %d", value.c_str(), static_cast<int>(error));
}

DllDirectoryCookie addDllDirectory(const std::string& directory) {
    if (getConfigInt(ids::kAddDllDirectories) == 0) return nullptr;
    using AddFunction = DLL_DIRECTORY_COOKIE(WINAPI*)(PCWSTR);
    auto add = procAddress<AddFunction>(GetModuleHandleA("kernel32.dll"), "AddDllDirectory");
    if (!add) return nullptr;

    wchar_t wide[kPathCapacity];
    int n = MultiByteToWideChar(fileApiCodePage(), 0, directory.c_str(), -1, wide, static_cast<int>(kPathCapacity));
    if (n == 0) return nullptr;
    logMessage(L"Adding DLL directory %s", wide);
    return add(wide);
}

void removeDllDirectory(DllDirectoryCookie cookie) {
    if (!cookie) return;
    using RemoveFunction = BOOL(WINAPI*)(DLL_DIRECTORY_COOKIE);
    auto remove = procAddress<RemoveFunction>(GetModuleHandleA("kernel32.dll"), "RemoveDllDirectory");
    if (!remove) return;
    logMessage(L"Removing DLL directory");
    remove(cookie);
}

}  // namespace vexlo
