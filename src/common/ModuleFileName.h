// The file name of the running executable, as the system reports it.
#pragma once

#include <string>

namespace vexlo {

// GetModuleFileNameW of the executable in a kPathCapacity buffer; empty when the call fails or the name does not fit.
std::wstring moduleFileName();

}  // namespace vexlo
