#include "process/LauncherState.h"

#include <windows.h>

#include "log/Log.h"

namespace vexlo {

bool serviceFlag = false;
bool noRedirectFlag = false;
bool noMessageBoxFlag = false;
char launcherKind = 0;
std::wstring serviceName;
std::vector<std::wstring> argumentList;

namespace {
void (*exitCleanup)() = nullptr;

BOOL WINAPI logConsoleEvent(DWORD) {
    logMessage(L"ConsoleCtrlHandler event");
    return TRUE;
}
}  // namespace

void outliveConsoleEvents() {
    logMessage(L"registering ConsoleCtrlHandler");
    SetConsoleCtrlHandler(logConsoleEvent, TRUE);
}

void setExitCleanup(void (*cleanup)()) { exitCleanup = cleanup; }

void exitLauncher(int exitCode) {
    if (exitCleanup) exitCleanup();
    ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace vexlo
