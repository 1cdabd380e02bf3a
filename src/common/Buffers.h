// The one capacity of the launcher's path, value and message buffers, and the test of a call that fills one.
#pragma once

namespace vexlo {

// Paths, configuration and environment values and messages are handled in buffers of this many units
// (bytes or UTF-16 code units); a result that does not fit counts as the failure of the call that gave it.
inline constexpr unsigned kPathCapacity = 6000;

// True when a call that filled a kPathCapacity buffer wrote something and was not cut.
constexpr bool fitsBuffer(unsigned long length) { return length > 0 && length < kPathCapacity; }

}  // namespace vexlo
