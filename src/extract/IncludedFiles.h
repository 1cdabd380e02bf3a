// Files carried in the configuration block, written into the launcher temporary directory.
#pragma once

#include <cstdint>

namespace vexlo {

// The executable's file position after the last included file that was read; 0 when none were.
extern std::int32_t unextractedPosition;

}  // namespace vexlo
