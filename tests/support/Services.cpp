#include "Services.h"

#include "TestSupport.h"

namespace vexlo::test {

unique_sc_handle openManager() { return unique_sc_handle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

unique_sc_handle openService(const std::wstring& name, DWORD access) {
    unique_sc_handle manager = openManager();
    if (!manager) return {};
    return unique_sc_handle(OpenServiceW(manager.get(), name.c_str(), access));
}

SERVICE_STATUS_PROCESS queryStatus(const std::wstring& name) {
    SERVICE_STATUS_PROCESS status{};
    unique_sc_handle service = openService(name, SERVICE_QUERY_STATUS);
    DWORD needed = 0;
    if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                          sizeof status, &needed))
        status.dwCurrentState = 0;
    return status;
}

::testing::AssertionResult waitForState(const std::wstring& name, DWORD state, DWORD timeoutMs) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    SERVICE_STATUS_PROCESS status;
    while ((status = queryStatus(name)).dwCurrentState != state) {
        if (GetTickCount64() > end) {
            unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
            bool alive = process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
            return ::testing::AssertionFailure()
                   << "state " << status.dwCurrentState << ", not " << state << " (exit codes "
                   << status.dwWin32ExitCode << "/" << status.dwServiceSpecificExitCode << ", check point "
                   << status.dwCheckPoint << ", process " << status.dwProcessId << (alive ? " running)" : " gone)");
        }
        Sleep(20);
    }
    return ::testing::AssertionSuccess();
}

ServiceGuard::~ServiceGuard() {
    if (!releaseFile.empty()) writeFileBytes(releaseFile, "");
    unique_sc_handle service = openService(name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) return;
    SERVICE_STATUS status{};
    // A service whose process is gone without a report takes no control; it is only deleted.
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) (void)waitForState(name, SERVICE_STOPPED, 10000);
    DeleteService(service.get());
}

}  // namespace vexlo::test
