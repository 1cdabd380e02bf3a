// Settings the start-up applies to its own process before any command is examined.
#pragma once

namespace vexlo {

// Makes the configured working directory (id 146, placeholders expanded, relative to the executable's
// directory) the current directory; an empty setting leaves the inherited one.
void applyWorkingDirectory();

}  // namespace vexlo
