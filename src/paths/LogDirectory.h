// What the log needs from the paths: the directory for its file. The log sits below the paths and calls up
// only here, because the log file belongs in the temporary directory that the paths choose.
#pragma once

#include <string>

namespace vexlo {

// The chosen temporary directory (wide), or "" when none is usable; never ends the launcher.
std::wstring logDirectory();

}  // namespace vexlo
