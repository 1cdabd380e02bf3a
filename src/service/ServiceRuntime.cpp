#include "service/ServiceRuntime.h"

#include "launcher/Launcher.h"
#include "log/Log.h"

namespace vexlo {

namespace {
SERVICE_STATUS_HANDLE statusHandle = nullptr;

DWORD WINAPI controlHandler(DWORD, DWORD, LPVOID, LPVOID) { return NO_ERROR; }
}  // namespace

// Running the application as a service (child process, stop protocol) is not built yet: report the
// failure to the service control manager instead of pretending to run.
void WINAPI serviceMain(DWORD, LPWSTR*) {
    logError(L"service runtime is not available in this build");
    statusHandle = RegisterServiceCtrlHandlerExW(serviceName.c_str(), controlHandler, nullptr);
    if (!statusHandle) return;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = 1;
    SetServiceStatus(statusHandle, &status);
}

}  // namespace vexlo
