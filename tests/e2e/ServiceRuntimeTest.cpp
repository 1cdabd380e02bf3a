// The launcher as a real service under Wine's service control manager: the child copy it starts, the stop
// protocol, the final reports, the priority and the job that holds the child. Every test installs services of
// its own name and removes them.
#include <gtest/gtest.h>

#include <windows.h>
#include <winsvc.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "Services.h"
#include "StandinRuntimes.h"
#include "TestText.h"
#include "TestSupport.h"
#include "common/Handles.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

// Launcher settings of a test service: configuration id and value.
using Settings = std::vector<std::pair<int, std::string>>;

std::wstring uniqueName(const wchar_t* tag) {
    return L"VexloSrt" + std::wstring(tag) + std::to_wstring(GetCurrentProcessId());
}

// Registers `commandLine` as an on-demand service of its own process.
void registerService(const std::wstring& name, const std::wstring& commandLine) {
    unique_sc_handle manager = openManager();
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
        if (entry.th32ParentProcessID == parentId && entry.th32ProcessID != parentId)
            ids.push_back(entry.th32ProcessID);
    return ids;
}

// Whether the process runs this very executable (its full path compared without case).
bool runsExecutable(DWORD processId, const std::wstring& exe) {
    unique_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    wchar_t image[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    return process && QueryFullProcessImageNameW(process.get(), 0, image, &size) &&
           _wcsicmp(longPathOf(std::wstring(image, size)).c_str(), longPathOf(exe).c_str()) == 0;
}

// Processes running this very executable: another test's copy of the same name, still ending, is not counted.
int countProcesses(const std::wstring& exe) {
    const std::wstring name = exe.substr(exe.find_last_of(L'\\') + 1);
    int count = 0;
    unique_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (_wcsicmp(entry.szExeFile, name.c_str()) == 0 && runsExecutable(entry.th32ProcessID, exe)) ++count;
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

// Asks the service process for a copy of its event reports in a file, for as long as it lives.
struct EventCopy {
    std::wstring name, file;
    EventCopy(std::wstring serviceName, std::wstring path) : name(std::move(serviceName)), file(std::move(path)) {
        unique_hkey key;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tarnwick\\vexlo\\eventcopy", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                       static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
    }
    ~EventCopy() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tarnwick\\vexlo\\eventcopy", name.c_str()); }
    std::vector<std::string> lines() const {
        std::vector<std::string> found;
        std::string text = readFileBytes(file).value_or("");
        for (size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            found.push_back(text.substr(start, end - start));
        }
        return found;
    }
};

std::wstring registryText(const std::wstring& key, const wchar_t* value) {
    wchar_t text[1024] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, text, &size) != ERROR_SUCCESS)
        return L"<none>";
    return text;
}

DWORD registryDword(const std::wstring& key, const wchar_t* value) {
    DWORD data = 0, size = sizeof data;
    return RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_DWORD, nullptr, &data, &size) ==
                   ERROR_SUCCESS
               ? data
               : 0xFFFFFFFF;
}

std::wstring serviceLogFile(const std::wstring& exe, const std::wstring& name) {
    return exe.substr(0, exe.find_last_of(L'\\') + 1) + L"logs\\" + name + L".service.log";
}

std::string serviceLogOf(const std::wstring& exe, const std::wstring& name) {
    return readFileBytes(serviceLogFile(exe, name)).value_or("<no service log>");
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

    // A started service and its child. Without a script the child is busy for two minutes: its runtime's
    // java.exe sleeps through the version probe. With one, the stand-in virtual machine's main follows it.
    struct Started {
        std::wstring exe;
        unique_handle service;  // the service process
        unique_handle child;
        DWORD childId = 0;
        // Whatever the test did, its processes are gone when it ends: a later test counts processes.
        ~Started() {
            for (HANDLE process : {service.get(), child.get()})
                if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 1);
            for (HANDLE process : {service.get(), child.get()})
                if (process) WaitForSingleObject(process, 10000);
        }
    };
    std::wstring runtimeHome() const { return dir.path() + L"\\rt"; }
    std::wstring recordFile() const { return dir.path() + L"\\record.txt"; }
    void TearDown() override { forgetCachedRuntimes(runtimeHome()); }

    std::vector<std::string> records(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& line : splitCrLfLines(readFileBytes(recordFile()).value_or("")))
            if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
        return found;
    }

    // Lays out the runtime and the launcher copy and installs it through its own word.
    void install(const std::wstring& name, const std::string& script, Started& started, const Settings& settings = {}) {
        layOutRuntime(runtimeHome());
        if (script.empty()) ASSERT_TRUE(writeFileBytes(runtimeHome() + L"\\bin\\hang.txt", "120000"));
        else
            ASSERT_TRUE(writeFileBytes(runtimeHome() + L"\\bin\\server\\script.txt",
                                       "record " + wideToUtf8(recordFile()) + "\n" + script));
        pack::Block block = searchBlock();
        block.set(128, "A" + wideToUtf8(runtimeHome()));
        for (const auto& [id, value] : settings) block.set(id, value);
        started.exe = makeCopy(L"Service Apps", L"svcapp.exe", block);
        ASSERT_FALSE(started.exe.empty());
        ASSERT_EQ(word(started.exe, {L"/install", name}).exitCode, 0u);
    }

    // Starts the service and waits until its child's main has recorded its arguments (or, without a script,
    // until the child probes its runtime).
    void start(const std::wstring& name, const std::vector<std::wstring>& startArguments, bool scripted,
               Started& started) {
        size_t mainsBefore = records("main-ready").size();
        std::vector<std::wstring> words = {L"/start", name};
        words.insert(words.end(), startArguments.begin(), startArguments.end());
        ASSERT_EQ(word(started.exe, words).exitCode, 0u);
        ASSERT_TRUE(waitForState(name, SERVICE_RUNNING));
        DWORD serviceId = queryStatus(name).dwProcessId;
        started.service.reset(OpenProcess(PROCESS_ALL_ACCESS, FALSE, serviceId));
        ASSERT_TRUE(started.service);
        started.childId = 0;
        auto ready = [&] {
            return scripted ? records("main-ready").size() > mainsBefore
                            : fileExists(runtimeHome() + L"\\bin\\runs.txt");
        };
        // Running is reported before the child exists. A parent id alone is no proof: Wine soon reuses the id
        // of a process that ended, so a process of another test may name the service process as its parent.
        ULONGLONG end = GetTickCount64() + 15000;
        while (GetTickCount64() < end && !(started.childId != 0 && ready())) {
            for (DWORD id : childProcesses(serviceId))
                if (started.childId == 0 && runsExecutable(id, started.exe)) started.childId = id;
            Sleep(20);
        }
        ASSERT_NE(started.childId, 0u) << "no child of the service process";
        started.child.reset(OpenProcess(PROCESS_ALL_ACCESS, FALSE, started.childId));
        ASSERT_TRUE(started.child);
        ASSERT_TRUE(ready()) << "the child did not get going\n" << readFileBytes(recordFile()).value_or("<no record>");
    }

    void startBusy(const std::wstring& name, const std::vector<std::wstring>& startArguments, Started& started) {
        install(name, "", started);
        if (!HasFatalFailure()) start(name, startArguments, false, started);
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
        ServiceGuard guard{name, {}};
        registerService(name, c.commandLine);
        ASSERT_TRUE(startService(name, c.startArguments)) << GetLastError();
        ASSERT_TRUE(waitForState(name, SERVICE_STOPPED));
        SERVICE_STATUS_PROCESS status = queryStatus(name);
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR)) << wideToUtf8(c.tag);
        EXPECT_EQ(status.dwServiceSpecificExitCode, 5000u) << wideToUtf8(c.tag);
    }
}

// The child finds no Java runtime and ends with 1 by itself: the service reports stopped with 1066 and the
// child's code, its log holds the start, the launcher's own message and the end, the error event carries the
// message, /status tells the code and the line, and the event source lives from /install to /uninstall.
TEST_F(ServiceRuntimeE2E, AChildThatFailsSaysWhyInTheManagerTheLogTheEventAndStatus) {
    const std::wstring name = uniqueName(L"Fails");
    ServiceGuard guard{name, {}};
    EventCopy events(name, dir.file(L"events.txt"));
    pack::Block block = searchBlock();
    block.set(128, "A" + wideToUtf8(dir.path()) + "\\no runtime here");
    std::wstring exe = makeCopy(L"apps", L"fails.exe", block);
    ASSERT_FALSE(exe.empty());
    const std::wstring sourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + name;
    ASSERT_EQ(word(exe, {L"/install", name}).exitCode, 0u);
    EXPECT_EQ(registryText(sourceKey, L"EventMessageFile"), longPathOf(exe));
    EXPECT_EQ(registryDword(sourceKey, L"TypesSupported"), 7u);

    ASSERT_EQ(word(exe, {L"/start", name}).exitCode, 0u);
    ASSERT_TRUE(waitForState(name, SERVICE_STOPPED));
    SERVICE_STATUS_PROCESS status = queryStatus(name);
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status.dwServiceSpecificExitCode, 1u);

    std::string log = serviceLogOf(exe, name);
    for (const std::string& expected :
         {"service '" + wideToUtf8(name) + "' started: vexlo ", std::string("child| No Java 64"),
          std::string("child ended with exit code 1 after "),
          std::string("reporting state STOPPED with error 1066 and service-specific code 1")})
        EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
    std::vector<std::string> reported = events.lines();
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back().rfind("error|", 0), 0u) << reported.back();
    EXPECT_NE(reported.back().find("exit code 1. Its last output: | No Java 64"), std::string::npos) << reported.back();

    RunResult shown = word(exe, {L"/status", name});
    EXPECT_EQ(shown.exitCode, 3u);
    EXPECT_EQ(shown.out.rfind("Not running.\r\n", 0), 0u) << shown.out;
    EXPECT_NE(shown.out.find("Last exit code: 1\r\nLast error: No Java 64\r\n"), std::string::npos) << shown.out;

    ASSERT_EQ(word(exe, {L"/uninstall", name}).exitCode, 0u);
    unique_hkey gone;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, sourceKey.c_str(), 0, KEY_READ, gone.put()), ERROR_SUCCESS);
}

// A name with a blank, two start arguments: the child's command line quotes what needs it and ends with the
// marker; the manager and the status word see the service running, and an interrogation changes nothing.
TEST_F(ServiceRuntimeE2E, TheChildGetsTheServiceNameAndStartArgumentsAndTheServiceRuns) {
    const std::wstring name = uniqueName(L" Busy ");
    ServiceGuard guard{name, {}};
    Started busy;
    startBusy(name, {L"a", L"b c"}, busy);
    if (HasFatalFailure()) return;

    EXPECT_EQ(processCommandLine(busy.child.get()),
              L"\"" + longPathOf(busy.exe) + L"\" \"" + name + L"\" a \"b c\" __qdr_restart");
    RunResult status = word(busy.exe, {L"/status", name});
    EXPECT_EQ(status.exitCode, 0u);
    // The first line is the one scripts read; the details follow it.
    EXPECT_EQ(status.out.rfind("Running.\r\nProcess id: " + std::to_string(busy.childId) + " (service process ", 0), 0u)
        << status.out;
    EXPECT_NE(status.out.find("\r\nRunning since: "), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("\r\nAccount: LocalSystem\r\n"), std::string::npos) << status.out;

    unique_sc_handle service = openService(name, SERVICE_INTERROGATE | SERVICE_QUERY_STATUS);
    SERVICE_STATUS answer{};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &answer)) << GetLastError();
    SERVICE_STATUS_PROCESS after = queryStatus(name);
    EXPECT_EQ(after.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(after.dwCheckPoint, 0u);
    EXPECT_EQ(after.dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN));
    EXPECT_EQ(after.dwServiceType & SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    TerminateProcess(busy.service.get(), 1);
}

// Killing the service process ends its child and what the child started, through the job that holds them.
TEST_F(ServiceRuntimeE2E, KillingTheServiceProcessEndsTheChildAndItsChildren) {
    const std::wstring name = uniqueName(L"Job");
    ServiceGuard guard{name, {}};
    Started busy;
    startBusy(name, {}, busy);
    if (HasFatalFailure()) return;
    std::vector<DWORD> grandchildren = childProcesses(busy.childId);
    ASSERT_EQ(grandchildren.size(), 1u) << "the probe's java.exe";
    unique_handle java(OpenProcess(SYNCHRONIZE, FALSE, grandchildren.front()));
    ASSERT_TRUE(java);

    ASSERT_TRUE(TerminateProcess(busy.service.get(), 1));
    EXPECT_EQ(WaitForSingleObject(busy.child.get(), 10000), WAIT_OBJECT_0) << "the child outlived the service process";
    EXPECT_EQ(WaitForSingleObject(java.get(), 10000), WAIT_OBJECT_0) << "java.exe outlived the service process";

    // The service starts again afterwards (Windows has recorded an unexpected end; Wine's manager still shows
    // it running and takes the start all the same).
    forgetCachedRuntimes(runtimeHome());
    DeleteFileW((runtimeHome() + L"\\bin\\runs.txt").c_str());
    Started again;
    again.exe = busy.exe;
    start(name, {}, false, again);
    if (HasFatalFailure()) return;
    EXPECT_NE(again.childId, busy.childId);
    TerminateProcess(again.service.get(), 1);
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
        ServiceGuard guard{name, {}};
        ASSERT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, c.type, c.bytes.data(),
                                 static_cast<DWORD>(c.bytes.size())),
                  ERROR_SUCCESS);
        Started busy;
        startBusy(name, {}, busy);
        RegDeleteValueW(key.get(), name.c_str());
        if (HasFatalFailure()) return;
        EXPECT_EQ(GetPriorityClass(busy.child.get()), c.expected) << wideToUtf8(c.tag);
        TerminateProcess(busy.service.get(), 1);
        WaitForSingleObject(busy.child.get(), 10000);
        forgetCachedRuntimes(runtimeHome());
    }
}

// A stop: stop pending with the long wait hint at once, the child reads "0" and then the end of its input, ends,
// and the service reports stopped; the service process ends with 0. The child's virtual machine ran as a
// service's (-Xrs, vexlo.isService) with the service name first among main's arguments.
TEST_F(ServiceRuntimeE2E, AStopSendsTheLineTheChildEndsAndTheServiceStops) {
    const std::wstring name = uniqueName(L"Stop");
    ServiceGuard guard{name, {}};
    Started started;
    install(name, "read-stdin\nstdin-end\nsleep 300\n", started);
    if (HasFatalFailure()) return;
    start(name, {L"x y"}, true, started);
    if (HasFatalFailure()) return;
    std::vector<std::string> options = records("option|");
    EXPECT_NE(std::find(options.begin(), options.end(), "-Xrs"), options.end())
        << readFileBytes(recordFile()).value_or("");
    EXPECT_NE(std::find(options.begin(), options.end(), "-Dvexlo.isService=true"), options.end());
    // The program's arguments come after the runtime launcher's own.
    std::vector<std::string> arguments = records("main-arg|");
    ASSERT_GE(arguments.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(arguments.end() - 2, arguments.end()),
              (std::vector<std::string>{wideToUtf8(name), "x y"}));

    unique_sc_handle service = openService(name, SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS answer{};
    ULONGLONG begin = GetTickCount64();
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &answer)) << GetLastError();
    EXPECT_EQ(answer.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(answer.dwWaitHint, 30000u + 5000u + 2000u) << "the stop time, the grace period and one step";
    ASSERT_TRUE(waitForState(name, SERVICE_STOPPED));
    std::printf("stop request to STOPPED: %llu ms (the child sleeps 300 ms after the line)\n",
                GetTickCount64() - begin);
    EXPECT_EQ(queryStatus(name).dwWin32ExitCode, 0u);
    EXPECT_EQ(records("stdin|"), (std::vector<std::string>{"0"}));
    EXPECT_EQ(records("stdin-end|"), (std::vector<std::string>{"0"}));

    DWORD childExit = 99, serviceExit = 99;
    ASSERT_EQ(WaitForSingleObject(started.child.get(), 5000), WAIT_OBJECT_0);
    GetExitCodeProcess(started.child.get(), &childExit);
    EXPECT_EQ(childExit, 0u);
    ASSERT_EQ(WaitForSingleObject(started.service.get(), 5000), WAIT_OBJECT_0);
    GetExitCodeProcess(started.service.get(), &serviceExit);
    EXPECT_EQ(serviceExit, 0u);
}

// A child that ends by itself: with 0 a clean stop (information events only); with 3 stopped with 1066 and
// code 3 and an error event. The service process ends with 0 either way.
TEST_F(ServiceRuntimeE2E, AChildEndingByItselfStopsTheServiceWithItsExitCode) {
    struct Case {
        const wchar_t* tag;
        const char* script;
        DWORD code;
        const char* lastEvent;
    };
    const Case cases[] = {
        {L"Zero", "sleep 300\nexit 0\n", 0, "information|The service '%s' stopped (exit code 0)."},
        {L"Three", "print-error going down\nsleep 300\nexit 3\n", 3,
         "error|The service '%s' ended with exit code 3. Its last output: | going down"},
    };
    for (const Case& c : cases) {
        const std::wstring name = uniqueName(c.tag);
        ServiceGuard guard{name, {}};
        EventCopy events(name, dir.file(std::wstring(c.tag) + L"-events.txt"));
        Started started;
        install(name, c.script, started);
        if (HasFatalFailure()) return;
        start(name, {}, true, started);
        if (HasFatalFailure()) return;
        ASSERT_EQ(WaitForSingleObject(started.service.get(), 15000), WAIT_OBJECT_0) << wideToUtf8(c.tag);
        DWORD childExit = 99, serviceExit = 99;
        GetExitCodeProcess(started.child.get(), &childExit);
        GetExitCodeProcess(started.service.get(), &serviceExit);
        EXPECT_EQ(serviceExit, 0u) << wideToUtf8(c.tag);
        EXPECT_EQ(childExit, c.code);
        SERVICE_STATUS_PROCESS status = queryStatus(name);
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(status.dwWin32ExitCode, c.code == 0 ? 0u : static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
        EXPECT_EQ(status.dwServiceSpecificExitCode, c.code);
        std::vector<std::string> reported = events.lines();
        ASSERT_EQ(reported.size(), 2u) << wideToUtf8(c.tag) << "\n" << serviceLogOf(started.exe, name);
        EXPECT_EQ(reported.front().rfind("information|The service '" + wideToUtf8(name) + "' started (process id ", 0),
                  0u);
        std::string expected = c.lastEvent;
        expected.replace(expected.find("%s"), 2, wideToUtf8(name));
        EXPECT_EQ(reported.back(), expected);
    }
}

// Twenty starts and stops through the launcher's own words: each reaches stopped, the manager agrees, and no
// process of the launcher (service or child) is left behind.
TEST_F(ServiceRuntimeE2E, TwentyStartsAndStopsLeaveNothingBehind) {
    const std::wstring name = uniqueName(L"Cycle");
    ServiceGuard guard{name, {}};
    Started started;
    install(name, "read-stdin\n", started);
    if (HasFatalFailure()) return;
    const std::string n = wideToUtf8(name);
    ULONGLONG fastest = ~0ull, slowest = 0;
    for (int cycle = 1; cycle <= 20; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        start(name, {}, true, started);
        if (HasFatalFailure()) return;
        EXPECT_EQ(countProcesses(started.exe), 2);
        ULONGLONG begin = GetTickCount64();
        RunResult stopped = word(started.exe, {L"/stop", name});
        ULONGLONG took = GetTickCount64() - begin;
        fastest = std::min(fastest, took);
        slowest = std::max(slowest, took);
        EXPECT_EQ(stopped.exitCode, 0u);
        EXPECT_EQ(stopped.out, "Stopping service '" + n + "'.\r\nService stopped\r\n");
        SERVICE_STATUS_PROCESS status = queryStatus(name);
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(status.dwWin32ExitCode, 0u);
        EXPECT_EQ(WaitForSingleObject(started.service.get(), 5000), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(started.child.get(), 5000), WAIT_OBJECT_0);
        EXPECT_EQ(countProcesses(started.exe), 0);
        EXPECT_EQ(records("stdin|0").size(), static_cast<size_t>(cycle));
    }
    std::printf("\"/stop\" (its own process, with the manager's wait) took %llu to %llu ms\n", fastest, slowest);
}

// After a stop the service always ends: a child that neither reads its input nor exits is ended through its job
// once the stop time (here 1 s) and the grace period of 5 s have passed, with the check point advancing while
// it is pending; a child that ends with an error code after the stop is reported with that code. Both count as
// forced stops (1066 with a service-specific code), and no process is left.
TEST_F(ServiceRuntimeE2E, AStopEndsWithinTheStopTimeAndReportsAForcedEnd) {
    struct Case {
        const wchar_t* tag;
        const char* script;
        DWORD specific;
        ULONGLONG atLeastMs, atMostMs;
    };
    const Case cases[] = {
        {L"Wedged", "sleep 600000\n", 5002, 6000, 10000},
        {L"Halted", "read-stdin\nexit 7\n", 7, 0, 4000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(wideToUtf8(c.tag));
        const std::wstring name = uniqueName(c.tag);
        ServiceGuard guard{name, {}};
        Started started;
        install(name, c.script, started, {{ids::kServiceStopTimeout, "1000"}});
        if (HasFatalFailure()) return;
        start(name, {}, true, started);
        if (HasFatalFailure()) return;
        EXPECT_EQ(records("option|-Dvexlo.stopTimeout=").back(), "1");

        unique_sc_handle service = openService(name, SERVICE_STOP | SERVICE_QUERY_STATUS);
        SERVICE_STATUS answer{};
        ULONGLONG begin = GetTickCount64();
        ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &answer)) << GetLastError();
        EXPECT_EQ(answer.dwWaitHint, 1000u + 5000u + 2000u);
        std::vector<DWORD> checkPoints;
        SERVICE_STATUS_PROCESS status;
        while ((status = queryStatus(name)).dwCurrentState == SERVICE_STOP_PENDING &&
               GetTickCount64() - begin < 15000) {
            if (checkPoints.empty() || checkPoints.back() != status.dwCheckPoint)
                checkPoints.push_back(status.dwCheckPoint);
            Sleep(100);
        }
        ULONGLONG took = GetTickCount64() - begin;
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_GE(took, c.atLeastMs);
        EXPECT_LE(took, c.atMostMs);
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
        EXPECT_EQ(status.dwServiceSpecificExitCode, c.specific);
        if (c.atLeastMs > 0) {
            EXPECT_GE(checkPoints.size(), 2u) << "the check point never advanced";
        }
        EXPECT_TRUE(std::is_sorted(checkPoints.begin(), checkPoints.end()));
        EXPECT_EQ(WaitForSingleObject(started.child.get(), 5000), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(started.service.get(), 5000), WAIT_OBJECT_0);
        EXPECT_EQ(countProcesses(started.exe), 0);
        forgetCachedRuntimes(runtimeHome());
    }
}

// 50 MB on the child's standard output: the drain keeps up, the log rotates within its limits, and
// the start-to-stop time is printed beside that of a quiet child and of the same child without a service log.
TEST_F(ServiceRuntimeE2E, AChildWriting50MegabytesKeepsTheLogWithinItsCap) {
    struct Case {
        const wchar_t* tag;
        const char* script;
        std::optional<std::string> logSetting;
        ULONGLONG took = 0;
    };
    Case cases[] = {{L"Quiet", "exit 0\n", std::nullopt},
                    {L"LoudNoLog", "print-bytes 52428800\nexit 0\n", std::string()},
                    {L"Loud", "print-bytes 52428800\nexit 0\n", std::nullopt}};
    for (Case& c : cases) {
        const std::wstring name = uniqueName(c.tag);
        ServiceGuard guard{name, {}};
        Started started;
        install(name, c.script, started, c.logSetting ? Settings{{ids::kServiceLogPath, *c.logSetting}} : Settings{});
        if (HasFatalFailure()) return;
        ULONGLONG begin = GetTickCount64();
        ASSERT_EQ(word(started.exe, {L"/start", name}).exitCode, 0u);
        ASSERT_TRUE(waitForState(name, SERVICE_STOPPED, 180000));
        c.took = GetTickCount64() - begin;
        EXPECT_EQ(queryStatus(name).dwWin32ExitCode, 0u);
        forgetCachedRuntimes(runtimeHome());
        if (std::wstring(c.tag) != L"Loud") continue;
        // Without settings: 10 MB files, five older ones.
        std::wstring log = serviceLogFile(started.exe, name);
        std::wstring stem = log.substr(0, log.size() - 4);
        auto current = readFileBytes(log);
        ASSERT_TRUE(current);
        EXPECT_LE(current->size(), 10u * 1024 * 1024);
        EXPECT_NE(current->find("reporting state STOPPED"), std::string::npos);
        for (int n = 1; n <= 5; ++n) {
            auto older = readFileBytes(stem + L"." + std::to_wstring(n) + L".log");
            ASSERT_TRUE(older) << n;
            EXPECT_LE(older->size(), 10u * 1024 * 1024);
        }
        EXPECT_FALSE(readFileBytes(stem + L".6.log"));
    }
    std::printf("start to STOPPED: quiet child %llu ms; child writing 50 MB: %llu ms without a service log, %llu ms "
                "with it\n",
                cases[0].took, cases[1].took, cases[2].took);
}

// A log that cannot be written (its folder cannot be created, or another program holds the file; Wine as root
// writes a read-only file all the same): the application runs and stops as a service all the same, and the
// warning event names the log.
TEST_F(ServiceRuntimeE2E, AServiceLogThatCannotBeWrittenIsReportedAndTheServiceRuns) {
    std::wstring blocker = dir.file(L"a file");
    ASSERT_TRUE(writeFileBytes(blocker, "not a folder"));
    std::wstring held = dir.file(L"held.log");
    ASSERT_TRUE(writeFileBytes(held, ""));
    unique_file holder(CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    struct Case {
        const wchar_t* tag;
        std::wstring path;
    };
    const Case cases[] = {{L"Folder", blocker + L"\\logs\\svc.log"}, {L"Held", held}};
    for (const Case& c : cases) {
        const std::wstring name = uniqueName(c.tag);
        ServiceGuard guard{name, {}};
        EventCopy events(name, dir.file(std::wstring(c.tag) + L"-events.txt"));
        Started started;
        install(name, "read-stdin\n", started, {{ids::kServiceLogPath, wideToUtf8(c.path)}});
        if (HasFatalFailure()) return;
        start(name, {}, true, started);
        if (HasFatalFailure()) return;
        RunResult stopped = word(started.exe, {L"/stop", name});
        EXPECT_NE(stopped.out.find("Service stopped"), std::string::npos) << stopped.out;
        EXPECT_EQ(queryStatus(name).dwWin32ExitCode, 0u);
        std::vector<std::string> reported = events.lines();
        ASSERT_FALSE(reported.empty()) << wideToUtf8(c.tag);
        EXPECT_EQ(reported.front().rfind("warning|The service log " + wideToUtf8(c.path) + " could not be opened", 0),
                  0u)
            << reported.front();
        forgetCachedRuntimes(runtimeHome());
    }
}

// A pre-shut-down control sends the stop line as a stop does, and the service stops.
TEST_F(ServiceRuntimeE2E, APreShutdownControlSendsTheStopLine) {
    const std::wstring name = uniqueName(L"Pre");
    ServiceGuard guard{name, {}};
    Started started;
    install(name, "read-stdin\n", started);
    if (HasFatalFailure()) return;
    start(name, {}, true, started);
    if (HasFatalFailure()) return;
    unique_sc_handle service = openService(name, SERVICE_ALL_ACCESS);
    SERVICE_STATUS answer{};
    if (!ControlService(service.get(), SERVICE_CONTROL_PRESHUTDOWN, &answer)) {
        DWORD error = GetLastError();
        TerminateProcess(started.service.get(), 1);
        GTEST_SKIP() << "this service manager does not pass the pre-shut-down control on (" << error << ")";
    }
    ASSERT_TRUE(waitForState(name, SERVICE_STOPPED));
    EXPECT_EQ(records("stdin|"), (std::vector<std::string>{"0"}));
}

// [service.environment]: a value reaches the child with launcher variables expanded, "" removes a variable.
TEST_F(ServiceRuntimeE2E, TheServiceEnvironmentReachesTheChild) {
    const std::wstring name = uniqueName(L"Env");
    ServiceGuard guard{name, {}};
    Started started;
    install(name, "env VEXLO_TEST_HOME\nenv PATHEXT\nread-stdin\n", started,
            {{ids::kServiceEnvironment, "VEXLO_TEST_HOME=[${VEXLO_EXEDIR}]\nPATHEXT="}});
    if (HasFatalFailure()) return;
    start(name, {}, true, started);
    if (HasFatalFailure()) return;
    std::string exeDir = wideToUtf8(longPathOf(started.exe));
    exeDir.erase(exeDir.find_last_of('\\'));
    std::vector<std::string> env = records("env|");
    ASSERT_EQ(env.size(), 2u);
    EXPECT_TRUE(_stricmp(env[0].c_str(), ("VEXLO_TEST_HOME=[" + exeDir + "\\]").c_str()) == 0) << env[0];
    EXPECT_EQ(env[1], "PATHEXT=<unset>");
    TerminateProcess(started.service.get(), 1);
}

}  // namespace
}  // namespace vexlo::test
