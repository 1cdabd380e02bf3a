// The launcher as a real service under Wine's service control manager: the child copy it starts, the stop
// protocol, the final reports, the priority and the job that holds the child. Every test installs services of
// its own name and removes them.
#include <gtest/gtest.h>

#include <windows.h>
#include <winsvc.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "StandinRuntimes.h"
#include "TestSupport.h"
#include "common/Handles.h"

namespace vexlo::test {
namespace {

std::wstring uniqueName(const wchar_t* tag) {
    return L"VexloSrt" + std::wstring(tag) + std::to_wstring(GetCurrentProcessId());
}

unique_sc_handle openService(const std::wstring& name, DWORD access) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
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

::testing::AssertionResult waitForState(const std::wstring& name, DWORD state, DWORD timeoutMs = 15000) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    SERVICE_STATUS_PROCESS status;
    while ((status = queryStatus(name)).dwCurrentState != state) {
        if (GetTickCount64() > end) {
            unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
            bool alive = process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
            return ::testing::AssertionFailure() << (alive ? "live " : "ended ")
                   << "state " << status.dwCurrentState << " (exit codes " << status.dwWin32ExitCode << "/"
                   << status.dwServiceSpecificExitCode << ", process " << status.dwProcessId << ", check point "
                   << status.dwCheckPoint << "), not " << state;
        }
        Sleep(20);
    }
    return ::testing::AssertionSuccess();
}

// Stops and deletes the service when the test ends, whatever state the test left it in.
struct ServiceGuard {
    std::wstring name;
    ~ServiceGuard() {
        unique_sc_handle service = openService(name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
        if (!service) return;
        SERVICE_STATUS status{};
        // A service whose process is gone without a report takes no control; it is only deleted.
        if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) (void)waitForState(name, SERVICE_STOPPED, 15000);
        DeleteService(service.get());
    }
};

// Registers `commandLine` as an on-demand service of its own process.
void registerService(const std::wstring& name, const std::wstring& commandLine) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager);
    unique_sc_handle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                            commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << "CreateServiceW failed: " << GetLastError();
}

bool startService(const std::wstring& name, std::vector<std::wstring> arguments = {}) {
    unique_sc_handle service = openService(name, SERVICE_START);
    std::vector<const wchar_t*> pointers;
    for (const auto& a : arguments) pointers.push_back(a.c_str());
    return service && StartServiceW(service.get(), static_cast<DWORD>(pointers.size()),
                                    pointers.empty() ? nullptr : pointers.data());
}

// The processes whose parent is `parentId`.
[[maybe_unused]] std::vector<DWORD> childProcesses(DWORD parentId) {
    std::vector<DWORD> ids;
    unique_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ParentProcessID == parentId && entry.th32ProcessID != parentId) ids.push_back(entry.th32ProcessID);
    return ids;
}

// Processes running an executable of this name (compared without case).
[[maybe_unused]] int countProcesses(const std::wstring& exeName) {
    int count = 0;
    unique_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (_wcsicmp(entry.szExeFile, exeName.c_str()) == 0) ++count;
    return count;
}

// Another process's command line, read from its process parameters.
[[maybe_unused]] std::wstring processCommandLine(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic{};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) return {};
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (!ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
        !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr))
        return {};
    std::wstring text(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(), parameters.CommandLine.Length, nullptr))
        return {};
    return text;
}

class ServiceRuntimeE2E : public ::testing::Test {
protected:
    ServiceManagerLock serviceLock;  // first in, last out: held while the guards clean up
    TempDir dir{L"service runtime"};

    std::wstring makeCopy(const std::wstring& subdir, const std::wstring& name, const pack::Block& block) {
        return makeLauncher(dir.subdir(subdir), name, block);
    }
};

// A child that cannot be created ends the service at once with the launcher's own error code: a registration
// whose first piece, split the launcher's way, names no program, and a start argument too long for any
// command line.
TEST_F(ServiceRuntimeE2E, AChildThatCannotBeCreatedStopsTheServiceWith1066And5000) {
    std::wstring exe = makeCopy(L"apps", L"nochild.exe", pack::Block{});
    ASSERT_FALSE(exe.empty());
    struct Case {
        const wchar_t* tag;
        std::wstring commandLine;
        std::vector<std::wstring> startArguments;
    };
    const Case cases[] = {
        {L"Name", L"\"" + exe + L"\"x", {}},
        {L"Long", L"\"" + exe + L"\"", {std::wstring(33000, L'x')}},
    };
    for (const Case& c : cases) {
        const std::wstring name = uniqueName(c.tag);
        ServiceGuard guard{name};
        registerService(name, c.commandLine);
        ASSERT_TRUE(startService(name, c.startArguments)) << GetLastError();
        ASSERT_TRUE(waitForState(name, SERVICE_STOPPED));
        SERVICE_STATUS_PROCESS status = queryStatus(name);
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR)) << wideToUtf8(c.tag);
        EXPECT_EQ(status.dwServiceSpecificExitCode, 5000u) << wideToUtf8(c.tag);
    }
}

// The child finds no Java runtime and ends with 1 by itself. The service process ends with 0 and makes no
// stopped report, so the manager cannot take it for a clean stop: Windows records an unexpected end (stopped
// with a Win32 error); Wine's manager does not watch the process and keeps showing running.
TEST_F(ServiceRuntimeE2E, AChildThatFailsOnItsOwnEndsTheServiceWithoutAStoppedReport) {
    const std::wstring name = uniqueName(L"Fails");
    ServiceGuard guard{name};
    std::wstring exe = makeCopy(L"apps", L"fails.exe", pack::Block{});
    ASSERT_FALSE(exe.empty());
    registerService(name, L"\"" + exe + L"\"");

    ASSERT_TRUE(startService(name)) << GetLastError();
    unique_handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, queryStatus(name).dwProcessId));
    ASSERT_TRUE(process) << "service process gone before it could be watched";
    ASSERT_EQ(WaitForSingleObject(process.get(), 15000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    Sleep(500);
    SERVICE_STATUS_PROCESS status = queryStatus(name);
    std::printf("after the unexpected end the manager shows state %lu with %lu/%lu\n", status.dwCurrentState,
                status.dwWin32ExitCode, status.dwServiceSpecificExitCode);
    if (status.dwCurrentState == SERVICE_STOPPED) {
        EXPECT_NE(status.dwWin32ExitCode, 0u);
    } else {
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    }
}

}  // namespace
}  // namespace vexlo::test
