#include "launch/NativeLibraryPath.h"

#include <windows.h>

#include <optional>
#include <string>

#include "common/Environment.h"
#include "common/TextLists.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "jvm/JvmLoader.h"
#include "jvm/SelectedRuntime.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/LauncherVariables.h"
#include "paths/PathForms.h"

namespace vexlo {

void reducePath() {
    if (getConfigInt(ids::kReducePath) == 0) return;
    const std::optional<std::wstring> path = environmentValue(L"PATH");
    if (!path || path->empty()) return;

    wchar_t windowsDir[MAX_PATH];
    UINT n = GetWindowsDirectoryW(windowsDir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    // The size counts the terminator, as the system's answer does.
    logMessage(L"reducing PATH %d %d %s", static_cast<int>(n), static_cast<int>(path->size() + 1), path->c_str());

    std::wstring reduced;
    for (const std::wstring& entry : splitList(std::wstring_view(*path))) {
        if (entry.size() >= n && CompareStringOrdinal(entry.c_str(), static_cast<int>(n), windowsDir,
                                                      static_cast<int>(n), TRUE) == CSTR_EQUAL) {
            if (!reduced.empty()) reduced += L';';
            reduced += entry;
        }
    }
    logMessage(L"reduced PATH %d to %s", static_cast<int>(reduced.size()), reduced.c_str());
    if (!reduced.empty() && !SetEnvironmentVariableW(L"PATH", reduced.c_str())) logMessage(L"ERROR setting path");
}

void prepareNativeLibraryPath() {
    std::string configured;
    appendConfigText(ids::kNativeLibraryDirectories, configured);
    logMessage(L"native lib dir is %S", configured.c_str());
    expandLauncherVariables(configured, launcherVariableValues(selectedJavaHome()));

    std::string value;
    resolvePathList(value, configured, [](const std::string& directory) {
        if (!directory.empty()) addConfiguredDllDirectory(directory);
    });
    if (!value.empty() && value.back() != ';') value += ';';
    value += environmentValue("PATH").value_or(std::string());

    unsigned long error = 0;
    if (setPathEverywhere(value, &error)) logMessage(L"Setting PATH (native libs) %S", value.c_str());
    else logMessage(L"Setting PATH (native libs) %S failed with error %d", value.c_str(), static_cast<int>(error));
}

}  // namespace vexlo
