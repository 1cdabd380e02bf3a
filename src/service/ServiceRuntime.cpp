#include "service/ServiceRuntime.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "common/ChildProcess.h"
#include "common/Format.h"
#include "common/Handles.h"
#include "common/SlimLock.h"
#include "common/Utf8.h"
#include "common/CommandLine.h"
#include "common/Version.h"
#include "paths/ExecutablePath.h"
#include "process/LauncherState.h"
#include "log/Log.h"
#include "service/EventLog.h"
#include "service/ServiceLog.h"
#include "service/ServiceSettings.h"

namespace vexlo {

namespace {

constexpr DWORD kAcceptedControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
// While a stop is pending the check point advances this often; the wait hint covers the time left plus this.
constexpr DWORD kStopProgressMs = 2000;
constexpr size_t kNameCapacity = 6000;
// Large reads: every read becomes one write of the service log, and a loud child must not wait for it.
constexpr DWORD kOutputChunk = 64 * 1024;
constexpr size_t kCommandLineLimit = 32767;  // code units, without the terminator
constexpr char kPriorityKey[] = "SOFTWARE\\tarnwick\\vexlo\\priority";
constexpr DWORD kDrainFinishMs = 2000;

// The control handler runs on the dispatcher thread, the service main on its own: the record, the status
// handle and the child's input pipe are only touched under this lock, and never across a blocking call.
SRWLOCK statusLock = SRWLOCK_INIT;
SERVICE_STATUS statusRecord{};
SERVICE_STATUS_HANDLE statusHandle = nullptr;
unique_handle childInput;  // write end of the child's standard input
// Set by the control handler at the first stop, shut-down or pre-shut-down request; the service main then
// watches the clock. The event exists before the handler is registered.
unique_handle stopSignal;
std::atomic<ULONGLONG> stopRequestedAt{0};
DWORD stopTimeoutMs = kDefaultStopTimeoutMs;

enum class StatusChange { unchanged, running, stopPending, shutdownPending, stopProgress, stopped };

// The one owner of the status record: applies a change and reports the record. A stop request is never
// undone by a later "running" report. Returns 0 or the error of SetServiceStatus.
// For stopProgress the second argument is the wait hint.
DWORD reportStatus(StatusChange change, DWORD serviceSpecificExitCode = 0) {
    SlimLockGuard guard(statusLock);
    switch (change) {
        case StatusChange::unchanged: break;
        case StatusChange::running:
            if (statusRecord.dwCurrentState != SERVICE_STOP_PENDING) statusRecord.dwCurrentState = SERVICE_RUNNING;
            break;
        case StatusChange::shutdownPending:
            ++statusRecord.dwCheckPoint;
            statusRecord.dwCurrentState = SERVICE_STOP_PENDING;
            statusRecord.dwWaitHint = stopTimeoutMs + kStopGraceMs + kStopProgressMs;
            break;
        case StatusChange::stopPending:
            statusRecord.dwCurrentState = SERVICE_STOP_PENDING;
            statusRecord.dwWaitHint = stopTimeoutMs + kStopGraceMs + kStopProgressMs;
            break;
        case StatusChange::stopProgress:
            ++statusRecord.dwCheckPoint;
            statusRecord.dwWaitHint = serviceSpecificExitCode;
            serviceSpecificExitCode = 0;
            break;
        case StatusChange::stopped:
            statusRecord.dwCurrentState = SERVICE_STOPPED;
            statusRecord.dwCheckPoint = 0;
            statusRecord.dwWaitHint = 0;
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
    SlimLockGuard guard(statusLock);
    return statusRecord.dwCurrentState == SERVICE_STOP_PENDING;
}

// Hands the child's input to the control handler unless a stop came first; then the child must not run.
bool publishChildInput(unique_handle& input) {
    SlimLockGuard guard(statusLock);
    if (statusRecord.dwCurrentState == SERVICE_STOP_PENDING) return false;
    childInput = std::move(input);
    return true;
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

// The first stop-like request starts the clock of the stop time; later ones (a shut-down after a
// pre-shut-down) do not restart it.
void noteStopRequest() {
    ULONGLONG none = 0;
    stopRequestedAt.compare_exchange_strong(none, GetTickCount64());
    if (stopSignal) SetEvent(stopSignal.get());
}

// Waits for the child. Once a stop is requested it reports progress about every two seconds, with a wait hint
// that covers the time left; when the stop time and the grace period have passed, it ends the child's job (every
// process the application started). Returns whether it had to.
bool waitForChildEnd(HANDLE process, HANDLE job) {
    HANDLE handles[] = {process, stopSignal.get()};
    DWORD count = stopSignal ? 2 : 1;
    if (WaitForMultipleObjects(count, handles, FALSE, INFINITE) == WAIT_OBJECT_0) return false;
    const ULONGLONG limit = static_cast<ULONGLONG>(stopTimeoutMs) + kStopGraceMs;
    for (;;) {
        ULONGLONG elapsed = GetTickCount64() - stopRequestedAt.load();
        if (elapsed >= limit) break;
        DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(kStopProgressMs, limit - elapsed));
        if (WaitForSingleObject(process, slice) == WAIT_OBJECT_0) return false;
        elapsed = GetTickCount64() - stopRequestedAt.load();
        DWORD left = elapsed >= limit ? 0 : static_cast<DWORD>(limit - elapsed);
        reportStatus(StatusChange::stopProgress, left + kStopProgressMs);
    }
    logError(L"the application did not end within %d ms of the stop request; ending its processes",
             static_cast<int>(limit));
    serviceLog(L"the application did not end within %d ms of the stop request; ending its processes",
               static_cast<int>(limit));
    if (!job || !TerminateJobObject(job, kChildKilledCode)) {
        logError(L"TerminateJobObject error (%d); ending the child alone", static_cast<int>(GetLastError()));
        TerminateProcess(process, kChildKilledCode);
    }
    WaitForSingleObject(process, kStopGraceMs);
    return true;
}

bool isPriorityClass(DWORD value) {
    switch (value) {
        case IDLE_PRIORITY_CLASS:
        case BELOW_NORMAL_PRIORITY_CLASS:
        case NORMAL_PRIORITY_CLASS:
        case ABOVE_NORMAL_PRIORITY_CLASS:
        case HIGH_PRIORITY_CLASS:
        case REALTIME_PRIORITY_CLASS: return true;
        default: return false;
    }
}

// A log that cannot be written is said once, where the administrator looks next.
void reportServiceLogFailure() {
    if (std::optional<std::wstring> failure = takeServiceLogFailure()) {
        logError(L"%s", failure->c_str());
        reportServiceEvent(serviceName, EventKind::warning, *failure);
    }
}

void openLogForService() {
    std::wstring path = serviceLogPath(serviceName);
    if (path.empty()) return;
    openServiceLog(path);
    serviceLog(L"service '%s' started: vexlo %s, executable %s", serviceName.c_str(), kVexloVersion,
               executablePathLong().c_str());
    reportServiceLogFailure();
}

// The child's last lines: the launcher's own message, or the virtual machine's, tell why it ended.
std::wstring lastChildText() {
    std::wstring text;
    for (const std::string& line : lastChildLines()) {
        if (!text.empty()) text += L"\n";
        text += fromUtf8(line);
    }
    return text;
}

// Drain thread first: its last lines belong in the log and the event before the end line. A grandchild that
// still holds the pipe must not hold the service, hence the limit.
void finishDrain(HANDLE consumer) {
    if (consumer && WaitForSingleObject(consumer, kDrainFinishMs) == WAIT_TIMEOUT)
        serviceLog(L"the child's output is still open (a process it started holds it); not waiting for it");
    endChildOutput();
}

// The final report after the child's end. A clean end is a stop. Any other end carries the child's code (or
// the code of a forced end) as the service-specific code, so that monitoring tells a forced or failed stop from
// a clean one and recovery acts on an unrequested failure. The log and the event come first: once stopped is
// reported, the dispatcher may end the process at any moment.
void reportChildEnd(DWORD exitCode, ULONGLONG ranMs, bool killed) {
    serviceLog(L"child ended with exit code %d after %I64d.%03d s", static_cast<int>(exitCode),
               static_cast<long long>(ranMs / 1000), static_cast<int>(ranMs % 1000));
    DWORD code = killed ? kChildKilledCode : exitCode;
    if (killed) {
        reportServiceEvent(serviceName, EventKind::error,
                           formatWide(L"The service '%s' did not end within its stop time of %d ms; its processes "
                                      L"were ended.",
                                      serviceName.c_str(), static_cast<int>(stopTimeoutMs)));
    } else if (exitCode == 0 || stopRequested()) {
        reportServiceEvent(serviceName, exitCode == 0 ? EventKind::information : EventKind::warning,
                           formatWide(L"The service '%s' stopped (exit code %d).", serviceName.c_str(),
                                      static_cast<int>(exitCode)));
    } else {
        std::wstring last = lastChildText();
        reportServiceEvent(serviceName, EventKind::error,
                           formatWide(L"The service '%s' ended with exit code %d.", serviceName.c_str(),
                                      static_cast<int>(exitCode)) +
                               (last.empty() ? std::wstring(L" It wrote nothing.") : L" Its last output:\n" + last));
    }
    if (code == 0) serviceLog(L"reporting state STOPPED");
    else serviceLog(L"reporting state STOPPED with error 1066 and service-specific code %d", static_cast<int>(code));
    closeServiceLog();
    if (DWORD error = reportStatus(StatusChange::stopped, code))
        logMessage(L"SetServiceStatus 10 failed %d", static_cast<int>(error));
    logMessage(L"service stopped set");
}

}  // namespace

SERVICE_STATUS currentServiceStatus() {
    SlimLockGuard guard(statusLock);
    return statusRecord;
}

void resetServiceStatus() {
    SlimLockGuard guard(statusLock);
    statusRecord = SERVICE_STATUS{};
    statusRecord.dwServiceType = SERVICE_WIN32;
    statusRecord.dwCurrentState = SERVICE_RUNNING;
    statusRecord.dwControlsAccepted = kAcceptedControls;
    statusRecord.dwWaitHint = kServiceWaitHintMs;
    childInput.reset();
    stopTimeoutMs = serviceStopTimeoutMs();
    stopRequestedAt = 0;
    stopSignal.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

std::wstring buildChildCommandLine(std::wstring_view processCommandLine, const std::wstring& name,
                                   const std::vector<std::wstring>& serviceArguments) {
    std::vector<std::wstring> processArguments;
    splitCommandLine(processCommandLine, processArguments);
    std::wstring line;
    appendArgument(line, processArguments.empty() ? std::wstring() : processArguments.front());
    appendArgument(line, name);
    for (size_t i = 1; i < processArguments.size(); ++i) appendArgument(line, processArguments[i]);
    for (const std::wstring& argument : serviceArguments) appendArgument(line, argument);
    appendArgument(line, kRestartMarker);
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
    openLogForService();

    std::vector<std::wstring> serviceArguments;
    for (DWORD i = 1; i < argc; ++i) serviceArguments.emplace_back(argv[i] ? argv[i] : L"");
    // When the child never ran, the stopped report ends the dispatcher and with it the process.
    if (runServiceChild(serviceArguments) != ChildRun::ended) return;
    logMessage(L"exiting");
    std::exit(0);
}

namespace {

bool createSuspendedChild(const std::wstring& commandLine, HANDLE input, HANDLE output, DWORD priority,
                          PROCESS_INFORMATION& created) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::vector<wchar_t> commandBuffer(commandLine.begin(), commandLine.end());
    commandBuffer.push_back(L'\0');
    // Some systems cut a longer command line instead of refusing it; the child would then lose its marker.
    if (commandLine.size() > kCommandLineLimit) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return CreateProcessW(nullptr, commandBuffer.data(), nullptr, nullptr, TRUE,
                          priority | DETACHED_PROCESS | CREATE_SUSPENDED, nullptr, nullptr, &startup, &created);
}

void reportChildNotStarted(const std::wstring& commandLine, DWORD error) {
    logMessage(L"could not start process %s (%d)", commandLine.c_str(), static_cast<int>(error));
    serviceLog(L"could not start the child %s (error %d); reporting state STOPPED with code %d", commandLine.c_str(),
               static_cast<int>(error), static_cast<int>(kChildNotStartedCode));
    reportServiceEvent(serviceName, EventKind::error,
                       formatWide(L"The service '%s' could not start its process %s (error %d).", serviceName.c_str(),
                                  commandLine.c_str(), static_cast<int>(error)));
    reportStatus(StatusChange::stopped, kChildNotStartedCode);
}

// The consumer owns the read end once it runs. Without a reader the child would block on a full pipe; closed,
// its writes fail instead.
unique_handle startOutputConsumer(unique_handle& outputRead) {
    unique_handle consumer(CreateThread(nullptr, 0, consumeChildOutput, outputRead.get(), 0, nullptr));
    if (consumer) {
        outputRead.release();
    } else {
        logError(L"could not start the output consumer (%d)", static_cast<int>(GetLastError()));
        outputRead.reset();
    }
    return consumer;
}

}  // namespace

ChildRun runServiceChild(const std::vector<std::wstring>& serviceArguments) {
    reportStatus(StatusChange::running);
    if (stopRequested()) {
        logMessage(L"stop requested before the child was started");
        serviceLog(L"stop requested before the child was started; reporting state STOPPED");
        reportStatus(StatusChange::stopped);
        return ChildRun::stoppedBeforeStart;
    }

    std::wstring commandLine = buildChildCommandLine(GetCommandLineW(), serviceName, serviceArguments);

    unique_handle outputRead, outputWrite, inputRead, inputWrite;
    if (!createChildPipe(outputRead, outputWrite, false, L"") || !createChildPipe(inputRead, inputWrite, true, L" 2")) {
        serviceLog(L"the child's pipes could not be created; reporting state STOPPED with code %d",
                   static_cast<int>(kChildPipesFailedCode));
        reportServiceEvent(serviceName, EventKind::error,
                           formatWide(L"The service '%s' could not create the pipes for its process.",
                                      serviceName.c_str()));
        reportStatus(StatusChange::stopped, kChildPipesFailedCode);
        return ChildRun::pipesFailed;
    }

    unique_handle job = createChildJob();
    // Suspended until it is in the job, so nothing it starts can escape the job.
    DWORD priority = readServicePriority();
    PROCESS_INFORMATION created{};
    if (!createSuspendedChild(commandLine, inputRead.get(), outputWrite.get(), priority, created)) {
        reportChildNotStarted(commandLine, GetLastError());
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
        serviceLog(L"stop requested before the child was started; reporting state STOPPED");
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), INFINITE);
        reportStatus(StatusChange::stopped);
        return ChildRun::stoppedBeforeStart;
    }
    ResumeThread(thread.get());
    ULONGLONG startedAt = GetTickCount64();
    serviceLog(L"child started: process id %d, command line %s", static_cast<int>(created.dwProcessId),
               commandLine.c_str());

    unique_handle consumer = startOutputConsumer(outputRead);
    reportStatus(StatusChange::running);
    reportServiceEvent(serviceName, EventKind::information,
                       formatWide(L"The service '%s' started (process id %d).", serviceName.c_str(),
                                  static_cast<int>(created.dwProcessId)));

    outliveConsoleEvents();

    bool killed = waitForChildEnd(process.get(), job.get());
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    logMessage(L"process terminated with exit code %d", static_cast<int>(exitCode));
    finishDrain(consumer.get());
    reportChildEnd(exitCode, GetTickCount64() - startedAt, killed);
    return ChildRun::ended;
}

void WINAPI serviceControlHandler(DWORD control) {
    logMessage(L"control handler request %d", static_cast<int>(control));
    switch (control) {
        case SERVICE_CONTROL_STOP:
            noteStopRequest();
            serviceLog(L"stop request: sending the line \"0\"");
            if (DWORD error = reportStatus(StatusChange::stopPending))
                logMessage(L"SetServiceStatus 2 failed %d", static_cast<int>(error));
            sendShutdown(0);
            break;
        // Pre-shut-down comes first at a system shut-down: shutdown hooks get the stop time there too.
        case SERVICE_CONTROL_PRESHUTDOWN:
        case SERVICE_CONTROL_SHUTDOWN:
            noteStopRequest();
            serviceLog(L"%s request: sending the line \"0\"",
                       control == SERVICE_CONTROL_PRESHUTDOWN ? L"pre-shut-down" : L"shut-down");
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
        SlimLockGuard guard(statusLock);
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
    std::vector<char> buffer(kOutputChunk);
    DWORD got = 0;
    while (ReadFile(pipe.get(), buffer.data(), kOutputChunk, &got, nullptr) && got > 0) {
        writeChildOutput(std::string_view(buffer.data(), got));
        reportServiceLogFailure();
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

}  // namespace vexlo
