// What the tests share: temporary directories, launcher copies with a block, child processes with captured
// output, the diagnostic log's files and the message boxes of a child.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BlockWriter.h"

namespace vexlo::test {

// ---- text ----
std::wstring utf8ToWide(std::string_view text);
std::string wideToUtf8(std::wstring_view text);

// ---- temporary directories ----

// Registers, for the whole test program, the diagnostic log switched on into a private temporary directory
// (named after the hint) before anything logs.
void logIntoPrivateTemp(std::wstring_view hint);

// A fresh directory below the test process's temporary directory, removed with everything in it on destruction.
// The hint becomes part of the name and may hold any characters (Cyrillic, Japanese ...).
class TempDir {
public:
    explicit TempDir(std::wstring_view hint = L"vexlo");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    // The path of a name inside the directory (no file is created).
    std::wstring file(std::wstring_view name) const;
    // Creates a subdirectory (and its parents) and returns its path.
    std::wstring subdir(std::wstring_view name) const;

private:
    std::wstring path_;
};

bool removeTree(const std::wstring& path);
bool writeFileBytes(const std::wstring& path, std::string_view bytes);
std::optional<std::string> readFileBytes(const std::wstring& path);
bool fileExists(const std::wstring& path);

// ---- the launcher under test ----

// The directory that holds vexlo.exe and the test programs (Windows form of the build's bin directory).
std::wstring binDir();
std::wstring launcherPath();

// A copy of vexlo.exe named `name` in `dir` with the block appended; records a test failure and returns an
// empty path when the copy cannot be written.
std::wstring makeLauncher(const std::wstring& dir, const std::wstring& name, const pack::Block& block);
// The same with raw block bytes, for damaged blocks.
std::wstring makeLauncherWithBytes(const std::wstring& dir, const std::wstring& name,
                                   const std::vector<uint8_t>& bytes);

// A small file shaped like a PE32+ image (headers and one 512-byte section) for reading blocks in-process,
// and such a file with the block (or raw bytes) appended; the block starts at kMinimalImageBlockOffset.
inline constexpr uint64_t kMinimalImageBlockOffset = 0x400;
std::vector<uint8_t> minimalPeImage();
std::wstring writeBlockFile(const std::wstring& path, const pack::Block& block);
std::wstring writeBlockFileBytes(const std::wstring& path, const std::vector<uint8_t>& blockBytes);

// ---- child processes ----

struct MessageBoxInfo {
    std::wstring title;
    std::wstring text;  // the texts of the box's "Static" controls, joined by "\n"
};

struct RunOptions {
    std::vector<std::wstring> args;  // quoted so that the launcher's splitting gives them back unchanged
    // When set: the whole command line, used as it is (the program path included); `args` is then ignored.
    std::optional<std::wstring> commandLine;
    // Changes on top of the current environment: a value sets the variable, none removes it.
    std::map<std::wstring, std::optional<std::wstring>> env;
    std::wstring workingDirectory;  // empty: the test's own
    DWORD timeoutMs = 30000;
    // While the child runs, find its message boxes, record them and close them with OK.
    bool closeMessageBoxes = false;
    std::string stdinData;   // written to the child's standard input, which is then closed
    DWORD stdinDelayMs = 0;  // how long the child waits for it (a service child's stop line comes late)
};

struct RunResult {
    bool started = false;
    DWORD startError = 0;
    DWORD processId = 0;
    bool timedOut = false;  // the child was killed after the timeout
    DWORD exitCode = 0;
    std::string out;  // raw bytes of standard output
    std::string err;  // raw bytes of standard error
    std::vector<MessageBoxInfo> boxes;
};

// One argument quoted for the launcher's splitting rule (doubled quotes inside a quoted part).
std::wstring quoteArgument(const std::wstring& arg);
RunResult runProcess(const std::wstring& exe, const RunOptions& options);
// Runs every program with the same options, `parallel` at a time (slow exits under Wine add up otherwise).
std::vector<RunResult> runProcesses(const std::vector<std::wstring>& programs, const RunOptions& options, int parallel);

// Runs a Windows program through the Unix shell, so that Unix-side variables in `options.env` (LC_ALL,
// LANG ...) reach the Wine process started for it: a Windows child reads its user interface language from
// them, and a Windows parent cannot set them for a Windows child directly. Only `args`, `env` and
// `timeoutMs` are used; standard input is empty and message boxes are not watched. TEMP and TMP do not
// pass this way: the program gets the prefix's own temporary directory.
RunResult runWithUnixEnvironment(const std::wstring& exe, const RunOptions& options);
bool runningUnderWine();

// Held for the whole of a test that starts services or that enters the service control dispatcher outside the
// service control manager. Wine's dispatcher connects to the control pipe of whichever service the manager is
// starting at that moment, so such tests running side by side (ctest -j) take each other's services.
class ServiceManagerLock {
public:
    ServiceManagerLock() : mutex_(CreateMutexW(nullptr, FALSE, L"VexloTestsServiceManagerLock")) {
        if (mutex_) WaitForSingleObject(mutex_, INFINITE);
    }
    ~ServiceManagerLock() {
        if (mutex_) {
            ReleaseMutex(mutex_);
            CloseHandle(mutex_);
        }
    }
    ServiceManagerLock(const ServiceManagerLock&) = delete;
    ServiceManagerLock& operator=(const ServiceManagerLock&) = delete;

private:
    HANDLE mutex_;
};

// Environment changes that give the child its own temporary directory (TEMP and TMP) and no log switches
// inherited from the test's environment.
std::map<std::wstring, std::optional<std::wstring>> isolatedEnvironment(const std::wstring& tempDir, bool logOn);

// ---- message boxes ----

// The visible dialog-class ("#32770") windows of a process.
std::vector<HWND> findMessageBoxes(DWORD processId);
MessageBoxInfo readMessageBox(HWND box);
void closeMessageBox(HWND box);

// ---- the diagnostic log ----

// The log files ("qdr_nlog_N.log") in a directory, ordered by N.
std::vector<std::wstring> logFiles(const std::wstring& dir);
// The one with the highest N, or empty.
std::wstring newestLog(const std::wstring& dir);

struct LogContent {
    bool hasBom = false;
    bool crlfOnly = true;                // every line end is CR LF
    std::wstring text;                   // UTF-8 decoded, line ends as "\n"
    std::wstring header;                 // the first line
    std::vector<std::wstring> lines;     // every line after the header and its empty line, prefix included
    std::vector<std::wstring> messages;  // the same lines with the "[s:ms] " prefix removed
};
LogContent readLog(const std::wstring& path);
// Whether some message of the log equals `message` or (when `prefixOnly`) starts with it.
bool logHas(const LogContent& log, std::wstring_view message, bool prefixOnly = false);

}  // namespace vexlo::test
