#include "log/Log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <share.h>

#include "common/Buffers.h"
#include "common/Environment.h"
#include "common/Format.h"
#include "common/Handles.h"
#include "common/ModuleFileName.h"
#include "paths/LogDirectory.h"

namespace vexlo {
namespace {

struct LogState {
    CRITICAL_SECTION lock;
    bool lockReady = false;
    bool initialised = false;
    std::wstring path;
    unique_cfile stream;  // open only while a line is written
    long long startMillis = 0;
};

LogState& state() {
    static LogState s;
    return s;
}

long long nowMillis() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return static_cast<long long>(v.QuadPart / 10000);
}

bool envEqualsYes(const char* name) { return environmentValue(name) == "yes"; }

// A drive root always exists; otherwise a directory search must find an entry.
bool logPathExists(const std::wstring& path) {
    if (path.size() <= 3 && path.size() >= 2 && path[1] == L':') return true;
    WIN32_FIND_DATAW data;
    unique_find find(FindFirstFileW(path.c_str(), &data));
    return find.valid();
}

void activate(LogState& s) {
    s.initialised = true;
    if (!envEqualsYes("VEXLO_LOG") && !envEqualsYes("QUANDREL_LOG")) return;

    std::wstring dir = logDirectory();
    if (dir.empty()) {
        dir = L"c:\\";
    } else if (dir.back() != L'\\' && dir.back() != L'/') {
        dir += L'\\';
    }
    for (int i = 1; i <= 1000; ++i) {
        s.path = formatWide(L"%sqdr_nlog_%d.log", dir.c_str(), i);
        if (i == 1000 || !logPathExists(s.path)) break;
    }
    s.stream.reset(_wfsopen(s.path.c_str(), L"w,ccs=UTF-8", _SH_DENYNO));
    if (!s.stream) {
        s.path = L"c:\\qdr_nlog";
        s.stream.reset(_wfsopen(s.path.c_str(), L"w,ccs=UTF-8", _SH_DENYNO));
        if (!s.stream) return;
    }
    std::wstring exe = moduleFileName();
    time_t now = time(nullptr);
    const char* when = ctime(&now);
    // The runtime's own wide printf reads "%s" as 8-bit under libstdc++; our formatter keeps the wide rules.
    fputws(formatWide(L"Started executable %s at %S\n", exe.c_str(), when ? when : "\n").c_str(), s.stream.get());
    fflush(s.stream.get());
    s.startMillis = nowMillis();
}

LogObserver observer = nullptr;

void writeLine(bool isError, const wchar_t* format, va_list args) {
    LastErrorGuard keepError;  // a log line must not change the error a caller reports next
    LogState& s = state();
    if (!s.lockReady) {
        InitializeCriticalSection(&s.lock);
        s.lockReady = true;
    }
    EnterCriticalSection(&s.lock);
    if (observer) {
        va_list copy;
        va_copy(copy, args);
        observer(isError, formatWideV(format, copy));
        va_end(copy);
    }
    if (!s.path.empty() && !s.stream) s.stream.reset(_wfsopen(s.path.c_str(), L"a,ccs=UTF-8", _SH_DENYNO));
    if (!s.initialised) activate(s);
    if (s.stream) {
        // Both times are cut to 32 bits; subtract without signed overflow when the low bits wrap.
        int elapsed = static_cast<int>(static_cast<unsigned>(nowMillis()) - static_cast<unsigned>(s.startMillis));
        std::wstring text = formatWideV(format, args);
        fputws(formatWide(L"[%d:%d] %s%s\n", elapsed / 1000, elapsed % 1000, isError ? L"ERROR: " : L"", text.c_str())
                   .c_str(),
               s.stream.get());
        s.stream.reset();
    }
    LeaveCriticalSection(&s.lock);
}

}  // namespace

void detail::writeLogLine(bool isError, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(isError, format, args);
    va_end(args);
}

void logErrorFromLibrary(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(true, format, args);
    va_end(args);
}

void setLogObserver(LogObserver newObserver) { observer = newObserver; }

std::wstring getLogPath() {
    LogState& s = state();
    if (!s.lockReady) return std::wstring();
    EnterCriticalSection(&s.lock);
    std::wstring path = s.path;
    LeaveCriticalSection(&s.lock);
    return path;
}

}  // namespace vexlo
