// Service control commands run from a console: install, uninstall, start, stop, status, usage.
#pragma once

#include <string>
#include <vector>

namespace vexlo {

// Each returns the process exit code of the command.
int printUsage();
int installService(unsigned startType);
int uninstallService(bool verbose);
int startService(const std::vector<std::wstring>& arguments);
int stopService(bool verbose);
int serviceStatus();

}  // namespace vexlo
