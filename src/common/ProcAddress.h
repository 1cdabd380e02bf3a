// Looking up a function of a loaded library with the type the caller expects.
#pragma once

#include <windows.h>

namespace vexlo {

// GetProcAddress cast to the function type; null when the library is null or lacks the name. The one place
// where a function pointer is cast to another function type.
template <typename Function>
Function procAddress(HMODULE library, const char* name) {
    if (!library) return nullptr;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
    return reinterpret_cast<Function>(GetProcAddress(library, name));
#pragma GCC diagnostic pop
}

}  // namespace vexlo
