// The diagnostic log: off unless VEXLO_LOG or QUANDREL_LOG is "yes"; one line per call, safe from any thread.
#pragma once

#include <string>

namespace vexlo {

void logMessage(const wchar_t* format, ...);
void logError(const wchar_t* format, ...);

// The log file's path; empty while logging is off.
std::wstring getLogPath();

}  // namespace vexlo
