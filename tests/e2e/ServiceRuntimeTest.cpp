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
std::vector<DWORD> childProcesses(DWORD parentId) {
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
std::wstring processCommandLine(HANDLE process) {
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

    RunResult word(const std::wstring& exe, std::vector<std::wstring> args) {
        RunOptions options;
        options.args = std::move(args);
        options.env = isolatedEnvironment(dir.path(), false);
        options.timeoutMs = 60000;
        return runProcess(exe, options);
    }

    // A service whose child is busy for two minutes: its runtime's java.exe sleeps through the version probe.
    struct Busy {
        std::wstring exe;
        unique_handle service;  // the service process
        unique_handle child;
        DWORD childId = 0;
    };
    std::wstring runtimeHome() const { return dir.path() + L"\\rt"; }
    void TearDown() override { forgetCachedRuntimes(runtimeHome()); }

    void startBusy(const std::wstring& name, const std::vector<std::wstring>& startArguments, Busy& busy) {
        layOutRuntime(runtimeHome());
        ASSERT_TRUE(writeFileBytes(runtimeHome() + L"\\bin\\hang.txt", "120000"));
        pack::Block block = searchBlock();
        block.set(128, "A" + wideToUtf8(runtimeHome()));
        busy.exe = makeCopy(L"Busy Apps", L"busy.exe", block);
        ASSERT_FALSE(busy.exe.empty());
        ASSERT_EQ(word(busy.exe, {L"/install", name}).exitCode, 0u);
        std::vector<std::wstring> start = {L"/start", name};
        start.insert(start.end(), startArguments.begin(), startArguments.end());
        ASSERT_EQ(word(busy.exe, start).exitCode, 0u);
        ASSERT_TRUE(waitForState(name, SERVICE_RUNNING));
        DWORD serviceId = queryStatus(name).dwProcessId;
        busy.service.reset(OpenProcess(PROCESS_ALL_ACCESS, FALSE, serviceId));
        ASSERT_TRUE(busy.service);
        // Running is reported before the child exists; the probe's java.exe shows that the child got going.
        ULONGLONG end = GetTickCount64() + 15000;
        while (GetTickCount64() < end && !(busy.childId != 0 && fileExists(runtimeHome() + L"\\bin\\runs.txt"))) {
            std::vector<DWORD> children = childProcesses(serviceId);
            if (busy.childId == 0 && !children.empty()) busy.childId = children.front();
            Sleep(20);
        }
        ASSERT_NE(busy.childId, 0u) << "no child of the service process";
        busy.child.reset(OpenProcess(PROCESS_ALL_ACCESS, FALSE, busy.childId));
        ASSERT_TRUE(busy.child);
        ASSERT_TRUE(fileExists(runtimeHome() + L"\\bin\\runs.txt")) << "the child never probed its runtime";
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

// A name with a blank, two start arguments: the child's command line quotes what needs it and ends with the
// marker; the manager and the status word see the service running, and an interrogation changes nothing.
TEST_F(ServiceRuntimeE2E, TheChildGetsTheServiceNameAndStartArgumentsAndTheServiceRuns) {
    const std::wstring name = uniqueName(L" Busy ");
    ServiceGuard guard{name};
    Busy busy;
    startBusy(name, {L"a", L"b c"}, busy);
    if (HasFatalFailure()) return;

    wchar_t longExe[4096];
    DWORD n = GetLongPathNameW(busy.exe.c_str(), longExe, 4096);
    EXPECT_EQ(processCommandLine(busy.child.get()),
              L"\"" + std::wstring(longExe, n) + L"\" \"" + name + L"\" a \"b c\" __qdr_restart");
    RunResult status = word(busy.exe, {L"/status", name});
    EXPECT_EQ(status.exitCode, 0u);
    EXPECT_EQ(status.out, "Running.\r\n");

    unique_sc_handle service = openService(name, SERVICE_INTERROGATE | SERVICE_QUERY_STATUS);
    SERVICE_STATUS answer{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &answer)) << GetLastError();
    SERVICE_STATUS_PROCESS after = queryStatus(name);
    EXPECT_EQ(after.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(after.dwCheckPoint, 0u);
    EXPECT_EQ(after.dwControlsAccepted, 5u);
    EXPECT_EQ(after.dwServiceType & SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    TerminateProcess(busy.service.get(), 1);
}

// Killing the service process ends its child and what the child started, through the job that holds them.
TEST_F(ServiceRuntimeE2E, KillingTheServiceProcessEndsTheChildAndItsChildren) {
    const std::wstring name = uniqueName(L"Job");
    ServiceGuard guard{name};
    Busy busy;
    startBusy(name, {}, busy);
    if (HasFatalFailure()) return;
    std::vector<DWORD> grandchildren = childProcesses(busy.childId);
    ASSERT_EQ(grandchildren.size(), 1u) << "the probe's java.exe";
    unique_handle java(OpenProcess(SYNCHRONIZE, FALSE, grandchildren.front()));
    ASSERT_TRUE(java);

    ASSERT_TRUE(TerminateProcess(busy.service.get(), 1));
    EXPECT_EQ(WaitForSingleObject(busy.child.get(), 10000), WAIT_OBJECT_0) << "the child outlived the service process";
    EXPECT_EQ(WaitForSingleObject(java.get(), 10000), WAIT_OBJECT_0) << "java.exe outlived the service process";
}

// The priority value under the service's name chooses the child's priority class; one of 2 bytes is ignored.
TEST_F(ServiceRuntimeE2E, ThePriorityValueSetsTheChildsPriorityClass) {
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tarnwick\\vexlo\\priority", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    struct Case {
        const wchar_t* tag;
        DWORD type;
        std::vector<BYTE> bytes;
        DWORD expected;
    };
    const Case cases[] = {
        {L"Below", REG_DWORD, {0x00, 0x40, 0x00, 0x00}, BELOW_NORMAL_PRIORITY_CLASS},
        {L"Short", REG_BINARY, {0x00, 0x40}, NORMAL_PRIORITY_CLASS},
    };
    for (const Case& c : cases) {
        const std::wstring name = uniqueName(c.tag);
        ServiceGuard guard{name};
        ASSERT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size())),
                  ERROR_SUCCESS);
        Busy busy;
        startBusy(name, {}, busy);
        RegDeleteValueW(key.get(), name.c_str());
        if (HasFatalFailure()) return;
        EXPECT_EQ(GetPriorityClass(busy.child.get()), c.expected) << wideToUtf8(c.tag);
        TerminateProcess(busy.service.get(), 1);
        WaitForSingleObject(busy.child.get(), 10000);
        forgetCachedRuntimes(runtimeHome());
    }
}

}  // namespace
}  // namespace vexlo::test
