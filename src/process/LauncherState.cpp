#include "process/LauncherState.h"

#include <windows.h>

namespace vexlo {

bool serviceFlag = false;
bool noRedirectFlag = false;
bool noMessageBoxFlag = false;
char launcherKind = 0;
std::wstring serviceName;
std::vector<std::wstring> argumentList;

namespace {
void (*exitCleanup)() = nullptr;
}  // namespace

void setExitCleanup(void (*cleanup)()) { exitCleanup = cleanup; }

void exitLauncher(int exitCode) {
    if (exitCleanup) exitCleanup();
    ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace vexlo
