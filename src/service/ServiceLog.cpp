#include "service/ServiceLog.h"

#include <algorithm>
#include <cwchar>
#include <deque>

#include "common/Handles.h"
#include "common/SlimLock.h"
#include "common/Utf8.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "paths/PathForms.h"

namespace vexlo {

namespace {

// A line the child never ends is cut here, so that one endless line cannot hold memory or the last lines.
constexpr size_t kLongestChildLine = 16 * 1024;

enum class Rotation { none, size, daily };

// The drain thread, the service main and the control handler all write: one lock, held only for the write.
SRWLOCK logLock = SRWLOCK_INIT;
unique_file logFile;
std::wstring logPath;
// logPath = folder + stem + extension; older files are stem + "." + number or date + extension.
std::wstring folder, stem, extension;
unsigned long long logSize = 0;
Rotation rotation = Rotation::size;
unsigned long long maxSize = kDefaultLogMaxSize;
unsigned keep = kDefaultLogKeep;
// Daily: the local day (days since 1601) the current file's lines belong to.
long long periodDay = 0;
bool writeFailed = false;
bool rotationWarned = false;
std::optional<std::wstring> pendingFailure;
std::string partialLine;
std::deque<std::string> childLines;
void (*testClock)(SYSTEMTIME&) = nullptr;

constexpr unsigned long long kTicksPerDay = 864000000000ull;

SYSTEMTIME localNow() {
    SYSTEMTIME now;
    if (testClock) {
        testClock(now);
    } else {
        GetLocalTime(&now);
    }
    return now;
}

long long dayNumber(SYSTEMTIME date) {
    date.wHour = date.wMinute = date.wSecond = date.wMilliseconds = 0;
    FILETIME time{};
    if (!SystemTimeToFileTime(&date, &time)) return 0;
    return static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime) /
                                  kTicksPerDay);
}

std::wstring dayText(long long day) {
    unsigned long long ticks = static_cast<unsigned long long>(day) * kTicksPerDay;
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME date{};
    FileTimeToSystemTime(&time, &date);
    return formatWide(L"%04d-%02d-%02d", static_cast<int>(date.wYear), static_cast<int>(date.wMonth),
                      static_cast<int>(date.wDay));
}

// "yyyy-mm-dd" to a day number; -1 for anything else.
long long parseDay(const std::wstring& text) {
    if (text.size() != 10 || text[4] != L'-' || text[7] != L'-') return -1;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != 4 && i != 7 && (text[i] < L'0' || text[i] > L'9')) return -1;
    SYSTEMTIME date{};
    date.wYear = static_cast<WORD>(std::wcstoul(text.substr(0, 4).c_str(), nullptr, 10));
    date.wMonth = static_cast<WORD>(std::wcstoul(text.substr(5, 2).c_str(), nullptr, 10));
    date.wDay = static_cast<WORD>(std::wcstoul(text.substr(8, 2).c_str(), nullptr, 10));
    FILETIME check{};
    return SystemTimeToFileTime(&date, &check) ? dayNumber(date) : -1;
}

std::string timestamp() {
    SYSTEMTIME now = localNow();
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

// Digits only, checked by the caller; the C library's conversions would bring a second printf and strtoull.
unsigned long long decimalValue(const std::string& digits) {
    unsigned long long value = 0;
    for (char c : digits) value = value * 10 + static_cast<unsigned long long>(c - '0');
    return value;
}

// The same settings as the application's output files; a value the packer would have refused keeps the default.
void readRotationSettings() {
    std::string mode = copyConfigString(ids::kOutputRotate);
    rotation = mode == "none" ? Rotation::none : mode == "daily" ? Rotation::daily : Rotation::size;
    std::string size = copyConfigString(ids::kOutputMaxSize);
    unsigned long long bytes = size.empty() || size.size() > 18 ||
                                       size.find_first_not_of("0123456789") != std::string::npos
                                   ? 0
                                   : decimalValue(size);
    maxSize = bytes > 0 ? bytes : kDefaultLogMaxSize;
    std::string count = copyConfigString(ids::kOutputKeep);
    keep = count.empty() || count.size() > 6 || count.find_first_not_of("0123456789") != std::string::npos
               ? kDefaultLogKeep
               : static_cast<unsigned>(decimalValue(count));
    size_t slash = logPath.find_last_of(L"\\/");
    size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    size_t dot = logPath.rfind(L'.');
    if (dot == std::wstring::npos || dot <= nameStart) dot = logPath.size();
    folder = logPath.substr(0, nameStart);
    stem = logPath.substr(nameStart, dot - nameStart);
    extension = logPath.substr(dot);
}

std::wstring sibling(const std::wstring& middle) { return folder + stem + L"." + middle + extension; }

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool truncateFile(const std::wstring& path) {
    return static_cast<bool>(
        unique_file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

// Appends `from` to `to` (created when absent); a half copy is taken back, it would repeat lines.
bool copyInto(const std::wstring& from, const std::wstring& to) {
    unique_file in(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    unique_file out(
        CreateFileW(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER before{}, zero{};
    if (!in || !out || !SetFilePointerEx(out.get(), zero, &before, FILE_END)) return false;
    std::vector<char> buffer(64 * 1024);
    DWORD got = 0, written = 0;
    while (ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
        if (!WriteFile(out.get(), buffer.data(), got, &written, nullptr) || written != got) {
            SetFilePointerEx(out.get(), before, nullptr, FILE_BEGIN);
            SetEndOfFile(out.get());
            return false;
        }
    }
    return true;
}

// A file held open without delete sharing cannot be renamed: its content is copied and the file emptied.
bool moveOrCopy(const std::wstring& from, const std::wstring& to, bool appendToExisting) {
    if (!appendToExisting && MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (!appendToExisting && fileExists(to) && !DeleteFileW(to.c_str())) return false;
    return copyInto(from, to) && truncateFile(from);
}

bool openLocked() {
    // Reading the attributes gives the size and the time of the last line.
    logFile.reset(CreateFileW(logPath.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!logFile) {
        fail(L"opened", GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    logSize = GetFileSizeEx(logFile.get(), &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
    return true;
}

void writeBytesLocked(std::string_view bytes) {
    DWORD written = 0;
    if (!WriteFile(logFile.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        fail(L"written", GetLastError());
        return;
    }
    logSize += written;
}

// Said once in the log itself: the lines stay in the current file, which grows on.
void warnRotation(const std::wstring& target, DWORD error) {
    if (rotationWarned) return;
    rotationWarned = true;
    std::string line = timestamp() +
                       toUtf8(formatWide(L"The service log could not be moved to %s (error %d); "
                                         L"writing on in the current file.",
                                         target.c_str(), static_cast<int>(error))) +
                       "\r\n";
    writeBytesLocked(line);
}

// Deletes numbered files beyond keep, or dated ones older than keep days before the current period.
void deleteOldLocked() {
    WIN32_FIND_DATAW found;
    unique_find find(FindFirstFileW((folder + stem + L".*" + extension).c_str(), &found));
    if (!find) return;
    do {
        std::wstring name = found.cFileName;
        if (name.size() <= stem.size() + 1 + extension.size()) continue;
        std::wstring middle = name.substr(stem.size() + 1, name.size() - stem.size() - 1 - extension.size());
        bool old = false;
        if (rotation == Rotation::size && middle.find_first_not_of(L"0123456789") == std::wstring::npos) {
            old = middle.size() > 9 || std::wcstoul(middle.c_str(), nullptr, 10) > keep;
        } else if (rotation == Rotation::daily) {
            long long day = parseDay(middle);
            old = day >= 0 && day < periodDay - static_cast<long long>(keep);
        }
        if (old) DeleteFileW((folder + name).c_str());
    } while (FindNextFileW(find.get(), &found));
}

// The current file becomes "1", older ones shift up; with keep 0 it is only emptied.
void rotateBySizeLocked() {
    logFile.reset();
    std::wstring target = sibling(L"1");
    bool moved = true;
    DWORD error = 0;
    if (keep == 0) {
        moved = truncateFile(logPath);
    } else {
        DeleteFileW(sibling(formatWide(L"%u", keep)).c_str());
        for (unsigned i = keep - 1; i >= 1; --i) {
            std::wstring from = sibling(formatWide(L"%u", static_cast<unsigned>(i)));
            if (fileExists(from)) moveOrCopy(from, sibling(formatWide(L"%u", static_cast<unsigned>(i + 1))), false);
        }
        // An older file that could not be shifted is never overwritten.
        moved = !fileExists(target) && moveOrCopy(logPath, target, false);
    }
    if (!moved) error = GetLastError();
    deleteOldLocked();
    if (!openLocked()) return;
    if (!moved) {
        warnRotation(keep == 0 ? logPath : target, error);
        // Tried again at the next limit rather than at every line.
        logSize = 0;
    }
}

// At the first line of a new day the current file takes its day's name; a file of that day takes the lines at
// its end.
void rotateDailyLocked(long long today) {
    if (logSize > 0) {
        logFile.reset();
        std::wstring target = sibling(dayText(periodDay));
        bool moved = moveOrCopy(logPath, target, fileExists(target));
        DWORD error = moved ? 0 : GetLastError();
        if (!openLocked()) return;
        if (!moved) warnRotation(target, error);
    }
    periodDay = today;
    deleteOldLocked();
}

// `bytes` holds whole lines; a size rotation falls between two of them. Only a single line longer than the limit
// makes a file larger.
void writeLocked(std::string_view bytes) {
    if (!logFile || writeFailed) return;
    if (rotation == Rotation::daily) {
        long long today = dayNumber(localNow());
        if (today > periodDay) rotateDailyLocked(today);
    }
    bool rotated = false;
    while (!bytes.empty() && logFile && !writeFailed) {
        size_t n = bytes.size();
        if (rotation == Rotation::size && logSize + n > maxSize) {
            unsigned long long room = maxSize > logSize ? maxSize - logSize : 0;
            size_t cut = room == 0 ? std::string_view::npos : bytes.rfind('\n', static_cast<size_t>(room) - 1);
            if (cut != std::string_view::npos) {
                n = cut + 1;
            } else if (logSize > 0 && !rotated) {
                rotateBySizeLocked();
                rotated = true;
                continue;
            } else {
                size_t end = bytes.find('\n');
                if (end != std::string_view::npos) n = end + 1;
            }
        }
        writeBytesLocked(bytes.substr(0, n));
        bytes.remove_prefix(n);
        rotated = false;
    }
}

// Lines kept from an earlier run belong to the day they were written, not to today.
long long periodOfOpenFile() {
    FILETIME written{}, local{};
    SYSTEMTIME date{};
    if (logSize > 0 && GetFileTime(logFile.get(), nullptr, nullptr, &written) &&
        FileTimeToLocalFileTime(&written, &local) && FileTimeToSystemTime(&local, &date))
        return dayNumber(date);
    return dayNumber(localNow());
}

void createFolders(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return;
    std::wstring parent = path.substr(0, slash);
    if (GetFileAttributesW(parent.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    createFolders(parent);
    CreateDirectoryW(parent.c_str(), nullptr);
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
    return resolvePathWide(configured, false);
}

bool openServiceLog(const std::wstring& path) {
    SlimLockGuard guard(logLock);
    logPath = path;
    writeFailed = false;
    rotationWarned = false;
    readRotationSettings();
    createFolders(path);
    if (!openLocked()) return false;
    periodDay = periodOfOpenFile();
    return true;
}

void closeServiceLog() {
    SlimLockGuard guard(logLock);
    logFile.reset();
}

bool serviceLogIsOpen() {
    SlimLockGuard guard(logLock);
    return logFile && !writeFailed;
}

void writeServiceLogLine(const std::wstring& text) {
    std::string line = timestamp() + toUtf8(text) + "\r\n";
    SlimLockGuard guard(logLock);
    writeLocked(line);
}

void writeChildOutput(std::string_view bytes) {
    std::string stamp = timestamp();
    std::string out;
    SlimLockGuard guard(logLock);
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
    SlimLockGuard guard(logLock);
    if (partialLine.empty()) return;
    appendChildLine(out, stamp, partialLine);
    partialLine.clear();
    writeLocked(out);
}

std::vector<std::string> lastChildLines() {
    SlimLockGuard guard(logLock);
    return std::vector<std::string>(childLines.begin(), childLines.end());
}

std::optional<std::wstring> takeServiceLogFailure() {
    SlimLockGuard guard(logLock);
    std::optional<std::wstring> failure = std::move(pendingFailure);
    pendingFailure.reset();
    return failure;
}

void setServiceLogClockForTests(void (*clock)(SYSTEMTIME& now)) {
    SlimLockGuard guard(logLock);
    testClock = clock;
}

void resetServiceLogForTests() {
    SlimLockGuard guard(logLock);
    logFile.reset();
    logPath.clear();
    logSize = 0;
    writeFailed = false;
    rotationWarned = false;
    testClock = nullptr;
    pendingFailure.reset();
    partialLine.clear();
    childLines.clear();
}

}  // namespace vexlo
