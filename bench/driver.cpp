// Measures what the launcher costs against a bare process and prints raw samples, one figure a line:
//   sample|<figure>|<unit>|<v1>,<v2>,...      missing|<figure>|<reason>
//   ratio|<figure>|<figure a>|<figure b>|<largest value wanted, or ->
// bench/table.py turns them into the table. Usage: bench_driver [runs]
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winsvc.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "StandinRuntimes.h"
#include "TestSupport.h"
#include "TestText.h"
#include "common/Handles.h"

using namespace vexlo;
using namespace vexlo::test;

namespace {

unsigned long long ticks(const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

unsigned long long nowTicks() {
    FILETIME t;
    GetSystemTimePreciseAsFileTime(&t);
    return ticks(t);
}

std::map<std::string, std::vector<double>> samples;
std::vector<std::string> order;

void add(const std::string& figure, double value) {
    if (!samples.count(figure)) order.push_back(figure);
    samples[figure].push_back(value);
}

std::vector<std::string> recordLines(const std::wstring& path, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : splitLines(readFileBytes(path).value_or("")))
        if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
    return found;
}

size_t lineCount(const std::wstring& path) { return splitLines(readFileBytes(path).value_or("")).size(); }

// Process creation to its end, from the system's own times of the process.
double bareRun(const std::wstring& exe) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = L"\"" + exe + L"\"";
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    unique_handle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(pi.hProcess, 30000);
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user)) return -1;
    return static_cast<double>(ticks(exited) - ticks(created)) / 10000.0;
}

// Process creation to JNI_CreateJavaVM entry, from the stand-in VM's record; also counts java.exe runs.
struct LaunchSample {
    double ms = -1;
    size_t javaRuns = 0;
};

LaunchSample launcherRun(const std::wstring& exe, const TempDir& temp, const std::wstring& home) {
    const std::wstring record = temp.file(L"record.txt");
    const std::wstring runs = home + L"\\bin\\runs.txt";
    size_t runsBefore = lineCount(runs);
    RunOptions options;
    options.args = {L"-run"};
    options.env = isolatedEnvironment(temp.path(), false);
    options.env[L"VEXLO_STANDIN_JVM_RECORD"] = record;
    DeleteFileW(record.c_str());
    runProcess(exe, options);
    LaunchSample sample;
    sample.javaRuns = lineCount(runs) - runsBefore;
    std::vector<std::string> entries = recordLines(record, "entry-time|");
    if (entries.size() == 1) {
        unsigned long long entry = std::strtoull(entries[0].c_str(), nullptr, 10);
        unsigned long long created = std::strtoull(entries[0].substr(entries[0].find("created=") + 8).c_str(), nullptr,
                                                   10);
        sample.ms = static_cast<double>(entry - created) / 10000.0;
    }
    return sample;
}

pack::Block launcherBlock(const std::wstring& home) {
    pack::Block block = searchBlock();
    block.set(128, "A" + wideToUtf8(home));  // the runtime directory only: no other search step
    return block;
}

void startUp(int runs, const TempDir& temp) {
    const std::wstring home = temp.path() + L"\\rt";
    layOutRuntime(home);
    const std::wstring exe = makeLauncher(temp.subdir(L"app"), L"app.exe", launcherBlock(home));
    const std::wstring bare = binDir() + L"\\bench_bare.exe";
    launcherRun(exe, temp, home);  // fills the probe cache and the file cache once
    bareRun(bare);
    for (int i = 0; i < runs; ++i) {
        add("start: bare process, creation to end", bareRun(bare));
        LaunchSample warm = launcherRun(exe, temp, home);
        add("start: launcher warm cache, creation to JNI_CreateJavaVM", warm.ms);
        add("start: java.exe runs, warm cache", static_cast<double>(warm.javaRuns));
        forgetCachedRuntimes(home);
        LaunchSample cold = launcherRun(exe, temp, home);
        add("start: launcher cold cache, creation to JNI_CreateJavaVM", cold.ms);
        add("start: java.exe runs, cold cache", static_cast<double>(cold.javaRuns));
    }
    forgetCachedRuntimes(home);
}

// ---- the real VM (the host JDK behind the bridge's jvm.dll) ----

std::wstring benchJar() { return binDir() + L"\\bench-app.jar"; }
std::wstring bridgeHome() { return binDir() + L"\\hostjvm\\home"; }

// Process creation (the system's time of the process) to the application's main, which records its entry.
double toMain(const std::wstring& exe, const std::wstring& args, const std::wstring& record) {
    DeleteFileW(record.c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = L"\"" + exe + L"\" " + args;
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    unique_handle process(pi.hProcess), thread(pi.hThread);
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);
        return -1;
    }
    FILETIME created, exited, kernel, user;
    std::vector<std::string> entries = recordLines(record, "entry|");
    if (entries.size() != 1 || !GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user)) return -1;
    return static_cast<double>(std::strtoll(entries[0].c_str(), nullptr, 10) - static_cast<long long>(ticks(created))) /
           10000.0;
}

pack::Block realVmBlock(const std::wstring& args) {
    pack::Block block = launcherBlock(bridgeHome());
    block.set(121, "A1" + wideToUtf8(binDir() + L"\\vexlo-runtime.jar") + ";A1" + wideToUtf8(benchJar()));
    block.set(122, "bench.BenchApp");
    block.set(124, wideToUtf8(args));
    return block;
}

// The two launchers alternate run by run, so that a slow phase of the machine hits both alike.
void realStartUp(int runs, const TempDir& temp) {
    const std::wstring record = temp.file(L"real-entry.txt");
    const std::wstring exe = makeLauncher(temp.subdir(L"realapp"), L"realapp.exe", realVmBlock(L"\"" + record + L"\""));
    const std::wstring minimal = binDir() + L"\\bench_minimal_launcher.exe";
    const std::wstring minimalArgs = L"\"" + bridgeHome() + L"\\bin\\server\\jvm.dll\" \"" + benchJar() +
                                     L"\" bench/BenchApp \"" + record + L"\"";
    toMain(exe, L"-run", record);  // fills the probe cache and warms the JDK's files
    toMain(minimal, minimalArgs, record);
    for (int i = 0; i < runs; ++i) {
        add("start: smallest launcher to main, real VM", toMain(minimal, minimalArgs, record));
        add("start: vexlo -run to main, real VM (warm cache)", toMain(exe, L"-run", record));
    }
    forgetCachedRuntimes(bridgeHome());
}

// ---- the service ----

SERVICE_STATUS_PROCESS queryStatus(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed))
        status.dwCurrentState = 0;
    return status;
}

bool waitFor(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    while (queryStatus(service).dwCurrentState != state) {
        if (GetTickCount64() > end) return false;
        Sleep(1);
    }
    return true;
}

DWORD childOf(DWORD parent) {
    unique_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent) return entry.th32ProcessID;
    return 0;
}

void sampleMemory(const std::string& who, DWORD processId) {
    unique_handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!process ||
        !GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return;
    // Only the working set: Wine answers 0 for another process's private bytes.
    add("memory: " + who + " working set", static_cast<double>(counters.WorkingSetSize) / 1024.0);
}

// The working set of the bare program once it has started and waits: the baseline of the service process's.
void sampleBareMemory() {
    const std::wstring exe = binDir() + L"\\bench_bare.exe";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring line = L"\"" + exe + L"\" hold";
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    unique_handle process(pi.hProcess), thread(pi.hThread);
    Sleep(300);
    sampleMemory("bare process,", pi.dwProcessId);
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
}

struct ServiceSetup {
    std::string vm;          // ends each figure's name: "stand-in VM" or "real VM"
    std::wstring exe;        // the launcher the service runs
    std::wstring record;     // where the application's main leaves a line
    std::string mainPrefix;  // the start of that line
};

// Start, wait until the application's main runs, sample memory, stop and time the stop.
std::string serviceCycles(int runs, const ServiceSetup& setup) {
    const std::wstring& exe = setup.exe;
    const std::wstring& record = setup.record;
    const std::string& mainPrefix = setup.mainPrefix;
    const std::wstring name = L"VexloBench" + std::to_wstring(GetCurrentProcessId()) + std::to_wstring(setup.vm.size());
    ServiceManagerLock lock;
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const std::wstring commandLine = L"\"" + exe + L"\"";
    unique_sc_handle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                            commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) return "CreateServiceW failed with " + std::to_string(GetLastError());
    std::string failure;
    for (int i = 0; i < runs && failure.empty(); ++i) {
        size_t mainsBefore = recordLines(record, mainPrefix).size();
        if (!StartServiceW(service.get(), 0, nullptr)) {
            failure = "StartServiceW failed with " + std::to_string(GetLastError());
            break;
        }
        if (!waitFor(service.get(), SERVICE_RUNNING, 15000)) {
            failure = "the service did not reach RUNNING";
            break;
        }
        ULONGLONG end = GetTickCount64() + 20000;
        while (recordLines(record, mainPrefix).size() == mainsBefore && GetTickCount64() < end) Sleep(5);
        if (recordLines(record, mainPrefix).size() == mainsBefore) {
            failure = "the application's main was not called in start " + std::to_string(i + 1) +
                      " (the service is RUNNING)";
            break;
        }
        DWORD serviceId = queryStatus(service.get()).dwProcessId;
        sampleMemory("service process, " + setup.vm, serviceId);
        sampleBareMemory();
        DWORD childId = childOf(serviceId);
        sampleMemory("child, " + setup.vm, childId);
        SERVICE_STATUS answer{};
        unsigned long long begin = nowTicks();
        if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &answer)) {
            failure = "ControlService failed with " + std::to_string(GetLastError());
            break;
        }
        if (!waitFor(service.get(), SERVICE_STOPPED, 15000)) {
            failure = "the service did not reach STOPPED";
            break;
        }
        add("stop: ControlService(STOP) to STOPPED, " + setup.vm, static_cast<double>(nowTicks() - begin) / 10000.0);
        // The service process may still be on its way out; the next start needs it gone.
        for (DWORD id : {childId, serviceId}) {
            unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, id));
            if (process) WaitForSingleObject(process.get(), 10000);
        }
    }
    SERVICE_STATUS status{};
    if (queryStatus(service.get()).dwCurrentState != SERVICE_STOPPED) {
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        waitFor(service.get(), SERVICE_STOPPED, 15000);
    }
    DeleteService(service.get());
    return failure;
}

std::string standinService(int runs, const TempDir& temp) {
    const std::wstring home = temp.path() + L"\\svcrt";
    const std::wstring record = temp.file(L"svc-record.txt");
    layOutRuntime(home);
    // The service gets no environment from here, so the script names the record file.
    writeFileBytes(home + L"\\bin\\server\\script.txt", "record " + wideToUtf8(record) + "\nread-stdin\n");
    std::string failure = serviceCycles(runs, {"stand-in VM",
                                               makeLauncher(temp.subdir(L"svc"), L"svcapp.exe", launcherBlock(home)),
                                               record, "call|"});
    forgetCachedRuntimes(home);
    return failure;
}

// The service reaches the bridge only because wine-env.sh set WINEDLLPATH as the prefix's wineserver started.
std::string realService(int runs, const TempDir& temp) {
    const std::wstring record = temp.file(L"real-svc-entry.txt");
    std::wstring exe = makeLauncher(temp.subdir(L"realsvc"), L"realsvc.exe",
                                    realVmBlock(L"\"" + record + L"\" --wait"));
    std::string failure = serviceCycles(runs, {"real VM", exe, record, "entry|"});
    forgetCachedRuntimes(bridgeHome());
    return failure;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 11;
    TempDir temp(L"vexlo-bench");
    startUp(runs, temp);
    std::string serviceFailure = standinService(runs, temp);
    const bool bridge = GetFileAttributesW(benchJar().c_str()) != INVALID_FILE_ATTRIBUTES &&
                        GetFileAttributesW((bridgeHome() + L"\\bin\\server\\jvm.dll").c_str()) !=
                            INVALID_FILE_ATTRIBUTES;
    std::string realFailure = "the bridge's runtime home or bench-app.jar is not built";
    if (bridge) {
        realStartUp(runs, temp);
        realFailure = realService(runs, temp);
    }

    for (const std::string& figure : order) {
        std::string unit = figure.rfind("memory:", 0) == 0            ? "KiB"
                           : figure.find("runs") != std::string::npos ? "count"
                                                                      : "ms";
        std::printf("sample|%s|%s|", figure.c_str(), unit.c_str());
        const char* separator = "";
        for (double v : samples[figure]) {
            if (v < 0) continue;  // a run that recorded nothing
            std::printf("%s%.3f", separator, v);
            separator = ",";
        }
        std::printf("\n");
    }
    if (!serviceFailure.empty()) std::printf("missing|stop and memory, stand-in VM|%s\n", serviceFailure.c_str());
    if (!realFailure.empty()) std::printf("missing|stop and memory, real VM|%s\n", realFailure.c_str());
    std::printf("ratio|start: warm cache / bare|start: launcher warm cache, creation to JNI_CreateJavaVM|"
                "start: bare process, creation to end|1.3\n");
    std::printf("ratio|start: cold cache / bare|start: launcher cold cache, creation to JNI_CreateJavaVM|"
                "start: bare process, creation to end|-\n");
    std::printf("ratio|start: vexlo -run / smallest launcher, real VM|start: vexlo -run to main, real VM (warm cache)|"
                "start: smallest launcher to main, real VM|1.1\n");
    std::printf("ratio|memory: service process / bare process, working set|"
                "memory: service process, stand-in VM working set|memory: bare process, working set|1.2\n");
    return 0;
}
