// The service process's own log file: one line per event with a local timestamp to the millisecond, and
// everything the child writes, line by line behind a prefix. Appended to, and moved aside between lines as the
// application's output files are: by size ("svc.service.1.log" and up), by day ("svc.service.2026-12-09.log")
// or never. Writing never blocks the caller on a failure: the first one is kept for a single report, later lines
// are dropped; a rotation that fails leaves the lines in the current file.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Format.h"

namespace vexlo {

// Without settings: the output files' defaults for appended files, since this log is always appended to.
inline constexpr unsigned long long kDefaultLogMaxSize = 10ull * 1024 * 1024;
inline constexpr unsigned kDefaultLogKeep = 5;
// Marks the child's own lines, so that they cannot be taken for the service process's.
inline constexpr char kChildLinePrefix[] = "child| ";
inline constexpr size_t kKeptChildLines = 20;

// The configured path: the default "logs\<name>.service.log" when the setting is absent, none when it is
// empty; a relative path is taken from the executable's directory.
std::wstring serviceLogPath(const std::wstring& serviceName);

// Creates the folders and opens the file for appending; false (and a failure to take) when it cannot. The
// rotation settings are read here.
bool openServiceLog(const std::wstring& path);
void closeServiceLog();
bool serviceLogIsOpen();

// One event line, UTF-8.
void writeServiceLogLine(const std::wstring& text);
template <typename... Args>
void serviceLog(CheckedFormat<Args...> format, Args... args) {
    writeServiceLogLine(formatWideUnchecked(format.text, args...));
}

// The child's output as it arrives; a line cut by the chunk's end waits for the rest.
void writeChildOutput(std::string_view bytes);
// Writes a last line that never got its line end.
void endChildOutput();
// The child's last lines (at most kKeptChildLines), oldest first, as written (8-bit).
std::vector<std::string> lastChildLines();

// The reason the log could not be opened or written, handed out once.
std::optional<std::wstring> takeServiceLogFailure();

// Tests only: a local clock of their own (null: the real one) and a clean state.
void setServiceLogClockForTests(void (*clock)(SYSTEMTIME& now));
void resetServiceLogForTests();

}  // namespace vexlo
