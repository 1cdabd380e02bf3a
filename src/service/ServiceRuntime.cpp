#include "service/ServiceRuntime.h"

#include <cstdlib>

#include "common/ChildProcess.h"
#include "common/Format.h"
#include "common/Handles.h"
#include "common/CommandLine.h"
#include "process/LauncherState.h"
#include "log/Log.h"

namespace vexlo {

namespace {

constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
constexpr size_t kNameCapacity = 6000;
constexpr DWORD kOutputChunk = 6000;
constexpr size_t kCommandLineLimit = 32767;  // code units, without the terminator
constexpr char kPriorityKey[] = "SOFTWARE\\tarnwick\\vexlo\\priority";

// The control handler runs on the dispatcher thread, the service main on its own: the record, the status
// handle and the child's input pipe are only touched under this lock, and never across a blocking call.
// A slim lock: std::mutex would bring the thread library's error classes into the executable.
SRWLOCK statusLock = SRWLOCK_INIT;
struct StatusGuard {
    StatusGuard() { AcquireSRWLockExclusive(&statusLock); }
    ~StatusGuard() { ReleaseSRWLockExclusive(&statusLock); }
    StatusGuard(const StatusGuard&) = delete;
    StatusGuard& operator=(const StatusGuard&) = delete;
};
SERVICE_STATUS statusRecord{};
SERVICE_STATUS_HANDLE statusHandle = nullptr;
unique_handle childInput;  // write end of the child's standard input

enum class StatusChange { unchanged, running, stopPending, shutdownPending, stopped };

// The one owner of the status record: applies a change and reports the record. A stop request is never
// undone by a later "running" report. Returns 0 or the error of SetServiceStatus.
DWORD reportStatus(StatusChange change, DWORD serviceSpecificExitCode = 0) {
    StatusGuard guard;
    switch (change) {
    case StatusChange::unchanged:
        break;
    case StatusChange::running:
        if (statusRecord.dwCurrentState != SERVICE_STOP_PENDING) statusRecord.dwCurrentState = SERVICE_RUNNING;
        break;
    case StatusChange::shutdownPending:
        ++statusRecord.dwCheckPoint;
        statusRecord.dwCurrentState = SERVICE_STOP_PENDING;
        break;
    case StatusChange::stopPending:
        statusRecord.dwCurrentState = SERVICE_STOP_PENDING;
        break;
    case StatusChange::stopped:
        statusRecord.dwCurrentState = SERVICE_STOPPED;
        if (serviceSpecificExitCode != 0) {
            statusRecord.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
            statusRecord.dwServiceSpecificExitCode = serviceSpecificExitCode;
        }
        break;
    }
    SERVICE_STATUS copy = statusRecord;
    if (SetServiceStatus(statusHandle, &copy)) return 0;
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

bool stopRequested() {
    StatusGuard guard;
    return statusRecord.dwCurrentState == SERVICE_STOP_PENDING;
}

// Hands the child's input to the control handler unless a stop came first; then the child must not run.
bool publishChildInput(unique_handle& input) {
    StatusGuard guard;
    if (statusRecord.dwCurrentState == SERVICE_STOP_PENDING) return false;
    childInput = std::move(input);
    return true;
}

// Quoted when the launcher's own splitting would otherwise change the piece: a blank or tab would split it,
// an empty piece would vanish, a quote would open a quoted part. Inside quotes a doubled quote is one quote.
void appendPiece(std::wstring& line, const std::wstring& piece) {
    if (!line.empty()) line += L' ';
    if (!piece.empty() && piece.find_first_of(L" \t\"") == std::wstring::npos) {
        line += piece;
        return;
    }
    line += L'"';
    for (wchar_t c : piece) {
        line += c;
        if (c == L'"') line += L'"';
    }
    line += L'"';
}

// The kill-on-close job ends the child and everything it started when this process goes, however it goes.
// Breakaway stays allowed for programs that must outlive the service.
unique_handle createChildJob() {
    SetupFailure failure;
    unique_handle job = createKillOnCloseJob(JOB_OBJECT_LIMIT_BREAKAWAY_OK, failure);
    if (failure.call) logError(L"%s error (%d)", failure.call, static_cast<int>(failure.error));
    return job;
}

// The second pipe's log lines carry " 2", so that the log tells the two apart.
bool createChildPipe(unique_handle& readEnd, unique_handle& writeEnd, bool keepWriteEnd, const wchar_t* tag) {
    SetupFailure failure = createInheritablePipe(readEnd, writeEnd, keepWriteEnd);
    if (failure.call) logMessage(L"%s error%s (%d)", failure.call, tag, static_cast<int>(failure.error));
    return failure.call == nullptr;
}

bool isPriorityClass(DWORD value) {
    switch (value) {
    case IDLE_PRIORITY_CLASS:
    case BELOW_NORMAL_PRIORITY_CLASS:
    case NORMAL_PRIORITY_CLASS:
    case ABOVE_NORMAL_PRIORITY_CLASS:
    case HIGH_PRIORITY_CLASS:
    case REALTIME_PRIORITY_CLASS:
        return true;
    default:
        return false;
    }
}

}  // namespace

SERVICE_STATUS currentServiceStatus() {
    StatusGuard guard;
    return statusRecord;
}

void resetServiceStatus() {
    StatusGuard guard;
    statusRecord = SERVICE_STATUS{};
    statusRecord.dwServiceType = SERVICE_WIN32;
    statusRecord.dwCurrentState = SERVICE_RUNNING;
    statusRecord.dwControlsAccepted = kAcceptedControls;
    statusRecord.dwWaitHint = kServiceWaitHintMs;
    childInput.reset();
}

std::wstring buildChildCommandLine(std::wstring_view processCommandLine, const std::wstring& name,
                                   const std::vector<std::wstring>& serviceArguments) {
    std::vector<std::wstring> processArguments;
    splitCommandLine(processCommandLine, processArguments);
    std::wstring line;
    appendPiece(line, processArguments.empty() ? std::wstring() : processArguments.front());
    appendPiece(line, name);
    for (size_t i = 1; i < processArguments.size(); ++i) appendPiece(line, processArguments[i]);
    for (const std::wstring& argument : serviceArguments) appendPiece(line, argument);
    appendPiece(line, kRestartMarker);
    return line;
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
    logMessage(L"service main");
    resetServiceStatus();
    std::wstring first = argc > 0 && argv[0] ? std::wstring(argv[0]) : std::wstring();
    serviceName = !first.empty() && first.size() < kNameCapacity ? first : std::wstring(L"unknown");
    logMessage(L"service name is '%s'", serviceName.c_str());

    statusHandle = RegisterServiceCtrlHandlerW(serviceName.c_str(), serviceControlHandler);
    if (!statusHandle) return;

    std::vector<std::wstring> serviceArguments;
    for (DWORD i = 1; i < argc; ++i) serviceArguments.emplace_back(argv[i] ? argv[i] : L"");
    // When the child never ran, the stopped report ends the dispatcher and with it the process.
    if (runServiceChild(serviceArguments) != ChildRun::ended) return;
    logMessage(L"exiting");
    std::exit(0);
}

ChildRun runServiceChild(const std::vector<std::wstring>& serviceArguments) {
    reportStatus(StatusChange::running);
    if (stopRequested()) {
        logMessage(L"stop requested before the child was started");
        reportStatus(StatusChange::stopped);
        return ChildRun::stoppedBeforeStart;
    }

    std::wstring commandLine = buildChildCommandLine(GetCommandLineW(), serviceName, serviceArguments);

    unique_handle outputRead, outputWrite, inputRead, inputWrite;
    if (!createChildPipe(outputRead, outputWrite, false, L"") || !createChildPipe(inputRead, inputWrite, true, L" 2")) {
        reportStatus(StatusChange::stopped, kChildPipesFailedCode);
        return ChildRun::pipesFailed;
    }

    unique_handle job = createChildJob();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead.get();
    startup.hStdOutput = outputWrite.get();
    startup.hStdError = outputWrite.get();
    PROCESS_INFORMATION created{};
    std::vector<wchar_t> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back(L'\0');
    // Suspended until it is in the job, so nothing it starts can escape the job.
    DWORD priority = readServicePriority();
    DWORD flags = priority | DETACHED_PROCESS | CREATE_SUSPENDED;
    // Some systems cut a longer command line instead of refusing it; the child would then lose its marker.
    bool tooLong = commandLine.size() > kCommandLineLimit;
    if (tooLong) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (tooLong || !CreateProcessW(nullptr, commandBuffer.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                   &startup, &created)) {
        logMessage(L"could not start process %s (%d)", commandLine.c_str(), static_cast<int>(GetLastError()));
        reportStatus(StatusChange::stopped, kChildNotStartedCode);
        return ChildRun::notStarted;
    }
    unique_handle process(created.hProcess);
    unique_handle thread(created.hThread);
    if (job && !AssignProcessToJobObject(job.get(), process.get()))
        logError(L"AssignProcessToJobObject error (%d)", static_cast<int>(GetLastError()));
    // Some systems ignore the class among the creation flags; set it again while the child cannot run yet.
    if (GetPriorityClass(process.get()) != priority && !SetPriorityClass(process.get(), priority))
        logError(L"SetPriorityClass error (%d)", static_cast<int>(GetLastError()));

    outputWrite.reset();
    inputRead.reset();
    if (!publishChildInput(inputWrite)) {
        logMessage(L"stop requested before the child was started");
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), INFINITE);
        reportStatus(StatusChange::stopped);
        return ChildRun::stoppedBeforeStart;
    }
    ResumeThread(thread.get());

    // The consumer owns the read end from here on.
    HANDLE outputPipe = outputRead.release();
    unique_handle consumer(CreateThread(nullptr, 0, consumeChildOutput, outputPipe, 0, nullptr));
    if (!consumer) {
        // Without a reader the child would block on a full pipe; closed, its writes fail instead.
        logError(L"could not start the output consumer (%d)", static_cast<int>(GetLastError()));
        CloseHandle(outputPipe);
    }
    reportStatus(StatusChange::running);

    logMessage(L"registering ConsoleCtrlHandler");
    SetConsoleCtrlHandler(consoleEventHandler, TRUE);

    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    logMessage(L"process terminated with exit code %d", static_cast<int>(exitCode));
    if (exitCode == 0 || stopRequested()) {
        if (DWORD error = reportStatus(StatusChange::stopped))
            logMessage(L"SetServiceStatus 10 failed %d", static_cast<int>(error));
        logMessage(L"service stopped set");
    }
    return ChildRun::ended;
}

void WINAPI serviceControlHandler(DWORD control) {
    logMessage(L"control handler request %d", static_cast<int>(control));
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (DWORD error = reportStatus(StatusChange::stopPending))
            logMessage(L"SetServiceStatus 2 failed %d", static_cast<int>(error));
        sendShutdown(0);
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        if (DWORD error = reportStatus(StatusChange::shutdownPending))
            logMessage(L"SetServiceStatus 1 failed %d", static_cast<int>(error));
        sendShutdown(0);
        break;
    default:
        if (DWORD error = reportStatus(StatusChange::unchanged))
            logMessage(L"SetServiceStatus 3 failed %d", static_cast<int>(error));
        break;
    }
}

void sendShutdown(unsigned char code) {
    logMessage(L"sending shutdown1 %d", static_cast<int>(code));
    unique_handle pipe;
    {
        StatusGuard guard;
        pipe = std::move(childInput);
    }
    if (!pipe) {
        // No child yet (the service main sees the pending stop and does not start one), or the line went out.
        logMessage(L"no child input to send the shutdown to");
        return;
    }
    std::string line = narrowAscii(formatWide(L"%d\n", static_cast<int>(code)));
    DWORD written = 0;
    if (!WriteFile(pipe.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
        DWORD error = GetLastError();
        logMessage(L"sending shutdown failed");
        logMessage(L"error code %d", static_cast<int>(error));
    }
    pipe.reset();
    logMessage(L"shutdown sent");
}

DWORD WINAPI consumeChildOutput(LPVOID outputPipe) {
    unique_handle pipe(static_cast<HANDLE>(outputPipe));
    logMessage(L"consuming output");
    char buffer[kOutputChunk];
    DWORD got = 0;
    while (ReadFile(pipe.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    logMessage(L"consuming output done");
    return 0;
}

DWORD readServicePriority() {
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPriorityKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return NORMAL_PRIORITY_CLASS;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key.get(), serviceName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        size != sizeof value)
        return NORMAL_PRIORITY_CLASS;
    // The value becomes creation flags: anything but a priority class (a suspended or debugged child, a
    // console) would break the service.
    if (!isPriorityClass(value)) {
        logError(L"ignoring priority %d: not a priority class", static_cast<int>(value));
        return NORMAL_PRIORITY_CLASS;
    }
    logMessage(L"using priority %d", static_cast<int>(value));
    return value;
}

BOOL WINAPI consoleEventHandler(DWORD) {
    logMessage(L"ConsoleCtrlHandler event");
    return TRUE;
}

}  // namespace vexlo
