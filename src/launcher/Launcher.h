// Entry, start-up and the launch sequence. The state they set up lives in process/LauncherState.h.
#pragma once

#include <string>
#include <vector>

namespace vexlo {

// The process entry: start-up, command dispatch; returns the exit code.
int launcherMain();

}  // namespace vexlo
