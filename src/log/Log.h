// The diagnostic log: off unless VEXLO_LOG or QUANDREL_LOG is "yes"; one line per call, safe from any thread.
#pragma once

#include <string>

#include "common/Format.h"

namespace vexlo {

namespace detail {
// Unchecked: logMessage and logError check their formats at compile time and call this.
void writeLogLine(bool isError, const wchar_t* format, ...);
}  // namespace detail

template <typename... Args>
void logMessage(CheckedFormat<Args...> format, Args... args) {
    detail::writeLogLine(false, format.text, args...);
}

template <typename... Args>
void logError(CheckedFormat<Args...> format, Args... args) {
    detail::writeLogLine(true, format.text, args...);
}

// An error line whose format comes from a library we load (it logs through us), so it cannot be checked here.
void logErrorFromLibrary(const wchar_t* format, ...);

// Receives every line as it is written, whether or not the log is on (a console diagnosis shows the runtime
// search's own lines); null to stop. Called under the log's lock.
using LogObserver = void (*)(bool isError, const std::wstring& text);
void setLogObserver(LogObserver observer);

// The log file's path; empty while logging is off.
std::wstring getLogPath();

}  // namespace vexlo
