// Entry, start-up and the launch sequence. The state they set up lives in process/LauncherState.h.
#pragma once

#include <string>
#include <vector>

namespace vexlo {

// The process entry: start-up, command dispatch; returns the exit code.
int launcherMain();

// Runs the application in this process with the argument list for JVM creation; returns only on success.
void launchSequence(const std::vector<std::wstring>& arguments, bool restarted);

}  // namespace vexlo
