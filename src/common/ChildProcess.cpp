#include "common/ChildProcess.h"

#include <algorithm>
#include <vector>

#include "common/Handles.h"

namespace vexlo {
namespace {

constexpr DWORD kPipeChunk = 512;

DWORD remainingMs(ULONGLONG deadline) {
    ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

// Reads while anything is to be read; a child that has ended is looked at once more, so that what it wrote
// just before its end is not lost.
void readUntilEnd(HANDLE readEnd, HANDLE process, ULONGLONG deadline, std::size_t limit, std::string& output) {
    char chunk[kPipeChunk];
    bool drainedAfterExit = false;
    for (;;) {
        if (limit != 0 && output.size() >= limit) return;
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) return;  // every writer is gone
        if (available > 0) {
            DWORD want = std::min<DWORD>(available, kPipeChunk);
            if (limit != 0) want = std::min<DWORD>(want, static_cast<DWORD>(limit - output.size()));
            DWORD got = 0;
            if (!ReadFile(readEnd, chunk, want, &got, nullptr) || got == 0) return;
            output.append(chunk, got);
            continue;
        }
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
            if (drainedAfterExit) return;
            drainedAfterExit = true;
            continue;
        }
        if (GetTickCount64() >= deadline) return;
        WaitForSingleObject(process, 10);
    }
}

}  // namespace

SetupFailure createInheritablePipe(unique_handle& readEnd, unique_handle& writeEnd, bool keepWriteEnd) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) return {L"CreatePipe", GetLastError()};
    if (!SetHandleInformation(keepWriteEnd ? writeEnd.get() : readEnd.get(), HANDLE_FLAG_INHERIT, 0))
        return {L"SetHandleInformation", GetLastError()};
    return {};
}

unique_handle createKillOnCloseJob(DWORD extraLimitFlags, SetupFailure& failure) {
    unique_handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        failure = {L"CreateJobObject", GetLastError()};
        return job;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | extraLimitFlags;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        failure = {L"SetInformationJobObject", GetLastError()};
        job.reset();
    }
    return job;
}

ChildProcessResult runChildProcess(const ChildProcessRequest& request) {
    ChildProcessResult result;
    unique_handle readEnd;
    unique_handle writeEnd;
    if (SetupFailure failure = createInheritablePipe(readEnd, writeEnd, false); failure.call) {
        result.status = readEnd ? ChildProcessStatus::InheritFailed : ChildProcessStatus::PipeFailed;
        result.error = failure.error;
        return result;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    if (request.hideWindow) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    startup.hStdOutput = request.captureOutput ? writeEnd.get() : nullptr;
    startup.hStdError = request.captureError ? writeEnd.get() : nullptr;
    std::vector<wchar_t> commandLine(request.commandLine.begin(), request.commandLine.end());
    commandLine.push_back(L'\0');  // CreateProcessW may write into its command line
    PROCESS_INFORMATION info{};
    // Started suspended so that it is in the job before it can start anything of its own.
    BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                  request.creationFlags | CREATE_SUSPENDED, nullptr, nullptr, &startup, &info);
    DWORD startError = started ? 0 : GetLastError();
    writeEnd.reset();  // our copy must go, or the pipe never reports its end
    if (!started) {
        result.status = ChildProcessStatus::StartFailed;
        result.error = startError;
        return result;
    }
    unique_handle process(info.hProcess);
    unique_handle thread(info.hThread);
    SetupFailure jobFailure;
    unique_handle job = createKillOnCloseJob(0, jobFailure);
    if (job && !AssignProcessToJobObject(job.get(), process.get())) job.reset();
    ResumeThread(thread.get());

    const ULONGLONG deadline = GetTickCount64() + request.timeoutMs;
    readUntilEnd(readEnd.get(), process.get(), deadline, request.outputLimit, result.output);
    readEnd.reset();
    WaitForSingleObject(process.get(), remainingMs(deadline));

    result.exitCode = 1;
    GetExitCodeProcess(process.get(), &result.exitCode);
    result.status = ChildProcessStatus::Finished;
    if (result.exitCode == STILL_ACTIVE) {
        result.status = ChildProcessStatus::TimedOut;
        if (!job || !TerminateJobObject(job.get(), 1)) TerminateProcess(process.get(), 1);
    }
    return result;
}

}  // namespace vexlo
