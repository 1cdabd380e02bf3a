// Service control commands run from a console: install, uninstall, start, stop, status, usage.
#pragma once

#include <string>
#include <vector>

#include "common/Format.h"

namespace vexlo {

// The executable has no console of its own: the text only shows where the parent gave us a pipe, a file or
// its console. A console gets the wide text; anything else gets 8-bit text with CR LF line ends, the bytes
// the C runtime's text-mode output would write.
void writeStandardOutput(const std::wstring& text);

template <typename... Args>
void printOut(CheckedFormat<Args...> format, Args... args) {
    writeStandardOutput(formatWideUnchecked(format.text, args...));
}

// Each returns the process exit code of the command; `name` is the service's name.
int printUsage();
int installService(const std::wstring& name, unsigned startType);
// Applies this executable's settings to the installed service without deleting it; prints what changed.
int reconfigureService(const std::wstring& name, unsigned startType);
int uninstallService(const std::wstring& name, bool verbose);
int startService(const std::wstring& name, const std::vector<std::wstring>& arguments);
int stopService(const std::wstring& name, bool verbose);
int serviceStatus(const std::wstring& name);

}  // namespace vexlo
