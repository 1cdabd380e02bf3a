// Service control commands run from a console: install, uninstall, start, stop, status, usage.
#pragma once

#include <string>
#include <vector>

namespace vexlo {

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
