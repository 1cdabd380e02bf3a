// Process-wide launcher state that every layer may read, and the one way the process ends on failure.
#pragma once

#include <string>
#include <vector>

namespace vexlo {

// Launcher state set up by the entry point.
extern bool serviceFlag;
extern bool noRedirectFlag;
// Errors go to standard error as UTF-8, never to a message box: in the child a service starts (no desktop;
// its standard error is the service log) and in a console diagnosis.
extern bool noMessageBoxFlag;
extern char launcherKind;  // 'i' for the installer product's launcher, otherwise the application launcher
extern std::wstring serviceName;
extern std::vector<std::wstring> argumentList;

inline constexpr wchar_t kRestartMarker[] = L"__qdr_restart";

// Runs the registered clean-up (the launcher temporary directory's removal) and ends the process.
[[noreturn]] void exitLauncher(int exitCode);

// Registers a console event handler that logs each event and keeps the process running, so that the child
// or the runtime decides how a Ctrl+C or a closed console ends the work.
void outliveConsoleEvents();

// The owner of what must not outlive a failed launch registers its removal here; the last one registered runs.
void setExitCleanup(void (*cleanup)());

}  // namespace vexlo
