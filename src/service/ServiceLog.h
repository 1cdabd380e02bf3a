// The service process's own log file: one line per event with a local timestamp to the millisecond, and
// everything the child writes, line by line behind a prefix. Appended to; renamed to ".1" at its cap.
// Writing never blocks the caller on a failure: the first one is kept for a single report, later lines are
// dropped.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Format.h"

namespace vexlo {

inline constexpr unsigned long long kServiceLogCapBytes = 10ull * 1024 * 1024;
// Marks the child's own lines, so that they cannot be taken for the service process's.
inline constexpr char kChildLinePrefix[] = "child| ";
inline constexpr size_t kKeptChildLines = 20;

// The configured path: the default "logs\<name>.service.log" when the setting is absent, none when it is
// empty; a relative path is taken from the executable's directory.
std::wstring serviceLogPath(const std::wstring& serviceName);

// Creates the folders and opens the file for appending; false (and a failure to take) when it cannot.
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

// Tests only: a smaller cap and a clean state.
void setServiceLogCapForTests(unsigned long long capBytes);
void resetServiceLogForTests();

}  // namespace vexlo
