#include "launcher/ProcessSettings.h"

#include <windows.h>

#include <string>

#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "jvm/SelectedRuntime.h"
#include "log/Log.h"
#include "paths/LauncherVariables.h"
#include "paths/PathForms.h"

namespace vexlo {

void applyWorkingDirectory() {
    std::wstring configured;
    appendConfigWide(ids::kWorkingDirectory, configured);
    if (configured.empty()) {
        logMessage(L"working directory unchanged");
        return;
    }
    expandLauncherVariables(configured, launcherVariableValuesWide(selectedJavaHome(), true));
    const std::wstring directory = canonicalPathWide(configured, true, true);
    // An unusable directory is not an error: the launch goes on in the inherited one.
    SetCurrentDirectoryW(directory.c_str());
    logMessage(L"change working directory to %s", directory.c_str());
}

}  // namespace vexlo
