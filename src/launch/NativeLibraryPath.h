// The process's library search: PATH reduction, the application's native library directories in front of
// PATH, and DLL directory registration.
#pragma once

#include <string>

namespace vexlo {

// What AddDllDirectory hands back for one registered directory; null when nothing was registered.
using DllDirectoryCookie = void*;

// Reduces PATH to its entries below the Windows directory when the configuration asks for it.
void reducePath();

// Puts the configured native library directories in front of PATH (both the process environment and the
// runtime library's copy) and registers them as DLL directories when the configuration asks for it.
void prepareNativeLibraryPath();

// Registers the directory with the system's DLL directory list when the configuration asks for it.
DllDirectoryCookie addDllDirectory(const std::string& directory);
// Takes a registration back; a null cookie does nothing.
void removeDllDirectory(DllDirectoryCookie cookie);

// Sets PATH in the process environment and in the runtime library's copy of it, so both views agree.
// Returns false (with the system error in `error`) when the process environment refused the value.
bool setPathEverywhere(const std::string& value, unsigned long* error);

// The process environment's PATH; empty with `found` false when it is absent or unreadable.
std::string readPathVariable(bool* found);

}  // namespace vexlo
