#include "service/ServiceLog.h"

#include <deque>

#include "common/Handles.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "paths/ExecutablePath.h"

namespace vexlo {

namespace {

// A line the child never ends is cut here, so that one endless line cannot hold memory or the last lines.
constexpr size_t kLongestChildLine = 16 * 1024;

// The drain thread, the service main and the control handler all write: one lock, held only for the write.
// A slim lock: std::mutex would bring the thread library's error classes into the executable.
SRWLOCK logLock = SRWLOCK_INIT;
struct LogGuard {
    LogGuard() { AcquireSRWLockExclusive(&logLock); }
    ~LogGuard() { ReleaseSRWLockExclusive(&logLock); }
    LogGuard(const LogGuard&) = delete;
    LogGuard& operator=(const LogGuard&) = delete;
};
unique_file logFile;
std::wstring logPath;
unsigned long long logSize = 0;
unsigned long long capBytes = kServiceLogCapBytes;
bool writeFailed = false;
std::optional<std::wstring> pendingFailure;
std::string partialLine;
std::deque<std::string> childLines;

std::string toUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::string timestamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return narrowAscii(formatWide(L"%04d-%02d-%02d %02d:%02d:%02d.%03d ", static_cast<int>(now.wYear),
                                  static_cast<int>(now.wMonth), static_cast<int>(now.wDay), static_cast<int>(now.wHour),
                                  static_cast<int>(now.wMinute), static_cast<int>(now.wSecond),
                                  static_cast<int>(now.wMilliseconds)));
}

void fail(const wchar_t* what, DWORD error) {
    writeFailed = true;
    if (!pendingFailure)
        pendingFailure = formatWide(L"The service log %s could not be %s (error %d).", logPath.c_str(), what,
                                    static_cast<int>(error));
}

bool openLocked() {
    logFile.reset(CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!logFile) {
        fail(L"opened", GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    logSize = GetFileSizeEx(logFile.get(), &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
    return true;
}

// Keeps one older file: the current one becomes ".1" and a new one starts.
void rotateLocked() {
    logFile.reset();
    std::wstring older = logPath + L".1";
    if (!MoveFileExW(logPath.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        fail(L"renamed", GetLastError());
        return;
    }
    openLocked();
}

void writeLocked(const std::string& bytes) {
    if (!logFile || writeFailed) return;
    if (logSize > 0 && logSize + bytes.size() > capBytes) {
        rotateLocked();
        if (!logFile || writeFailed) return;
    }
    DWORD written = 0;
    if (!WriteFile(logFile.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        fail(L"written", GetLastError());
        return;
    }
    logSize += written;
}

void createFolders(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return;
    std::wstring folder = path.substr(0, slash);
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    createFolders(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
}

bool isAbsolute(const std::wstring& path) {
    return (path.size() >= 2 && path[1] == L':') || (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

void keepChildLine(std::string line) {
    childLines.push_back(std::move(line));
    if (childLines.size() > kKeptChildLines) childLines.pop_front();
}

void appendChildLine(std::string& out, const std::string& stamp, std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out += stamp;
    out += kChildLinePrefix;
    out += line;
    out += "\r\n";
    keepChildLine(std::string(line));
}

}  // namespace

std::wstring serviceLogPath(const std::wstring& serviceName) {
    std::wstring configured = hasConfigValue(ids::kServiceLogPath) ? getConfigWide(ids::kServiceLogPath)
                                                                   : L"logs\\" + serviceName + L".service.log";
    if (configured.empty()) return {};
    return isAbsolute(configured) ? configured : exeDirLong() + configured;
}

bool openServiceLog(const std::wstring& path) {
    LogGuard guard;
    logPath = path;
    writeFailed = false;
    createFolders(path);
    return openLocked();
}

void closeServiceLog() {
    LogGuard guard;
    logFile.reset();
}

bool serviceLogIsOpen() {
    LogGuard guard;
    return logFile && !writeFailed;
}

void writeServiceLogLine(const std::wstring& text) {
    std::string line = timestamp() + toUtf8(text) + "\r\n";
    LogGuard guard;
    writeLocked(line);
}

void writeChildOutput(std::string_view bytes) {
    std::string stamp = timestamp();
    std::string out;
    LogGuard guard;
    // One write per chunk, however many lines it holds: the drain must keep up with the child.
    while (!bytes.empty()) {
        size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            partialLine.append(bytes);
            if (partialLine.size() >= kLongestChildLine) {
                appendChildLine(out, stamp, partialLine);
                partialLine.clear();
            }
            break;
        }
        if (partialLine.empty()) {
            appendChildLine(out, stamp, bytes.substr(0, end));
        } else {
            partialLine.append(bytes.substr(0, end));
            appendChildLine(out, stamp, partialLine);
            partialLine.clear();
        }
        bytes.remove_prefix(end + 1);
    }
    if (!out.empty()) writeLocked(out);
}

void endChildOutput() {
    std::string stamp = timestamp();
    std::string out;
    LogGuard guard;
    if (partialLine.empty()) return;
    appendChildLine(out, stamp, partialLine);
    partialLine.clear();
    writeLocked(out);
}

std::vector<std::string> lastChildLines() {
    LogGuard guard;
    return std::vector<std::string>(childLines.begin(), childLines.end());
}

std::optional<std::wstring> takeServiceLogFailure() {
    LogGuard guard;
    std::optional<std::wstring> failure = std::move(pendingFailure);
    pendingFailure.reset();
    return failure;
}

void setServiceLogCapForTests(unsigned long long cap) {
    LogGuard guard;
    capBytes = cap;
}

void resetServiceLogForTests() {
    LogGuard guard;
    logFile.reset();
    logPath.clear();
    logSize = 0;
    capBytes = kServiceLogCapBytes;
    writeFailed = false;
    pendingFailure.reset();
    partialLine.clear();
    childLines.clear();
}

}  // namespace vexlo
