// Running a helper program (the command interpreter, a runtime's java.exe) and reading what it writes, with
// a time limit that also covers the reading.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "common/Handles.h"

namespace vexlo {

struct ChildProcessRequest {
    std::wstring commandLine;
    bool captureOutput = true;  // standard output into the pipe
    bool captureError = true;   // standard error into the pipe
    DWORD creationFlags = 0;
    bool hideWindow = false;
    DWORD timeoutMs = 10000;
    std::size_t outputLimit = 0;  // bytes kept at the most; 0 keeps everything
};

enum class ChildProcessStatus {
    PipeFailed,     // CreatePipe failed; `error` holds its error
    InheritFailed,  // the parent's end could not be made private; `error` holds its error
    StartFailed,    // CreateProcessW failed; `error` holds its error
    Finished,       // the child ended within the time limit; `exitCode` is its code
    TimedOut,       // the child and everything it started were ended; `exitCode` is STILL_ACTIVE
};

struct ChildProcessResult {
    ChildProcessStatus status = ChildProcessStatus::StartFailed;
    DWORD error = 0;
    DWORD exitCode = 0;
    std::string output;
    bool started() const { return status == ChildProcessStatus::Finished || status == ChildProcessStatus::TimedOut; }
};

// The call that failed while a pipe or job was made, for the caller's own log line.
struct SetupFailure {
    const wchar_t* call = nullptr;  // null when nothing failed
    DWORD error = 0;
};

// A pipe whose ends a child inherits, except the end this process keeps.
SetupFailure createInheritablePipe(unique_handle& readEnd, unique_handle& writeEnd, bool keepWriteEnd);

// A job that ends every process in it when its last handle closes, so nothing outlives its owner's end.
unique_handle createKillOnCloseJob(DWORD extraLimitFlags, SetupFailure& failure);

// Starts the command with a pipe for its output, reads until every writer has gone or the limit has passed,
// waits for its end within the same limit, and ends it with everything it started when it overruns.
ChildProcessResult runChildProcess(const ChildProcessRequest& request);

}  // namespace vexlo
