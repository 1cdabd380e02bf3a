// The process's library search: PATH reduction, the application's native library directories in front of
// PATH, and DLL directory registration.
#pragma once

namespace vexlo {

// Reduces PATH to its entries below the Windows directory when the configuration asks for it.
void reducePath();

// Puts the configured native library directories in front of PATH (both the process environment and the
// runtime library's copy) and registers them as DLL directories when the configuration asks for it.
void prepareNativeLibraryPath();

}  // namespace vexlo
