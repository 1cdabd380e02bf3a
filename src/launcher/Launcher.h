// Entry, start-up and the launch sequence; the process-wide launcher state.
#pragma once

#include <string>
#include <vector>

namespace vexlo {

// Launcher state set up by the entry point.
extern bool serviceFlag;
extern bool noRedirectFlag;
extern char launcherKind;  // 'i' for the installer product's launcher, otherwise the application launcher
extern std::wstring serviceName;
extern std::vector<std::wstring> argumentList;

inline constexpr wchar_t kRestartMarker[] = L"__qdr_restart";

// The process entry: start-up, command dispatch; returns the exit code.
int launcherMain();

// Removes the launcher temporary directory and ends the process; the only way out on failure.
[[noreturn]] void exitLauncher(int exitCode);

// Runs the application in this process; returns only on success.
void launchSequence(std::vector<std::wstring>& arguments, bool restarted);

}  // namespace vexlo
