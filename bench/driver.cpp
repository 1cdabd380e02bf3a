// Measures what the launcher costs against a bare process and prints raw samples, one figure a line:
//   sample|<figure>|<unit>|<v1>,<v2>,...      missing|<figure>|<reason>      ratio|<figure>|<figure a>|<figure b>
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
    for (const std::string& line : splitCrLfLines(readFileBytes(path).value_or("")))
        if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
    return found;
}

size_t lineCount(const std::wstring& path) { return splitCrLfLines(readFileBytes(path).value_or("")).size(); }

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
    return (ticks(exited) - ticks(created)) / 10000.0;
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
        unsigned long long created = std::strtoull(entries[0].substr(entries[0].find("created=") + 8).c_str(), nullptr, 10);
        sample.ms = (entry - created) / 10000.0;
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

// ---- the service ----

SERVICE_STATUS_PROCESS queryStatus(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
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
    if (!process || !GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                          sizeof counters))
        return;
    // Wine answers 0 for another process's private bytes: that is no measurement.
    add("memory: " + who + " private bytes", counters.PrivateUsage ? counters.PrivateUsage / 1024.0 : -1);
    add("memory: " + who + " working set", counters.WorkingSetSize / 1024.0);
}

// Start, wait until the stand-in application's main runs, sample memory, stop and time the stop.
std::string serviceCycles(int runs, const TempDir& temp) {
    const std::wstring home = temp.path() + L"\\svcrt";
    const std::wstring record = temp.file(L"svc-record.txt");
    layOutRuntime(home);
    // The service gets no environment from here, so the script names the record file.
    writeFileBytes(home + L"\\bin\\server\\script.txt", "record " + wideToUtf8(record) + "\nread-stdin\n");
    const std::wstring exe = makeLauncher(temp.subdir(L"svc"), L"svcapp.exe", launcherBlock(home));
    const std::wstring name = L"VexloBench" + std::to_wstring(GetCurrentProcessId());
    ServiceManagerLock lock;
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const std::wstring commandLine = L"\"" + exe + L"\"";
    unique_sc_handle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                            commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) return "CreateServiceW failed with " + std::to_string(GetLastError());
    std::string failure;
    for (int i = 0; i < runs && failure.empty(); ++i) {
        size_t mainsBefore = recordLines(record, "call|").size();
        if (!StartServiceW(service.get(), 0, nullptr)) {
            failure = "StartServiceW failed with " + std::to_string(GetLastError());
            break;
        }
        if (!waitFor(service.get(), SERVICE_RUNNING, 15000)) {
            failure = "the service did not reach RUNNING";
            break;
        }
        ULONGLONG end = GetTickCount64() + 15000;
        while (recordLines(record, "call|").size() == mainsBefore && GetTickCount64() < end) Sleep(5);
        if (recordLines(record, "call|").size() == mainsBefore) {
            failure = "the application's main was not called";
            break;
        }
        DWORD serviceId = queryStatus(service.get()).dwProcessId;
        sampleMemory("service process", serviceId);
        sampleMemory("child (stand-in VM)", childOf(serviceId));
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
        add("stop: ControlService(STOP) to STOPPED, stand-in VM", (nowTicks() - begin) / 10000.0);
        // The service process may still be on its way out; the next start needs it gone.
        unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, serviceId));
        if (process) WaitForSingleObject(process.get(), 10000);
    }
    SERVICE_STATUS status{};
    if (queryStatus(service.get()).dwCurrentState != SERVICE_STOPPED) {
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        waitFor(service.get(), SERVICE_STOPPED, 15000);
    }
    DeleteService(service.get());
    forgetCachedRuntimes(home);
    return failure;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 11;
    TempDir temp(L"vexlo-bench");
    startUp(runs, temp);
    std::string serviceFailure = serviceCycles(runs, temp);

    for (const std::string& figure : order) {
        std::string unit = figure.rfind("memory:", 0) == 0 ? "KiB" : figure.find("runs") != std::string::npos ? "count" : "ms";
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
    std::printf("ratio|start: warm cache / bare|start: launcher warm cache, creation to JNI_CreateJavaVM|"
                "start: bare process, creation to end\n");
    std::printf("ratio|start: cold cache / bare|start: launcher cold cache, creation to JNI_CreateJavaVM|"
                "start: bare process, creation to end\n");
    return 0;
}
