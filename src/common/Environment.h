// The process environment: reading variables, PATH kept in step with the runtime library's copy, and the
// process's DLL directory list.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace vexlo {

// The variable's whole value (an empty value is a value); none when the environment does not hold the name.
std::optional<std::string> environmentValue(const char* name);
std::optional<std::wstring> environmentValue(const wchar_t* name);

// The value when it is not empty and shorter than `capacity` characters, as a fixed buffer of that size
// would take it; none otherwise.
std::optional<std::string> environmentValue(const char* name, std::size_t capacity);
std::optional<std::wstring> environmentValue(const wchar_t* name, std::size_t capacity);

// Sets PATH in the process environment and in the runtime library's copy of it, so both views agree.
// Returns false (with the system error in `error`) when the process environment refused the value.
bool setPathEverywhere(const std::string& value, unsigned long* error);

// What AddDllDirectory hands back for one registered directory; null when nothing was registered.
using DllDirectoryCookie = void*;

// Registers the directory with the process's DLL directory list; null where the system lacks the list.
DllDirectoryCookie addDllDirectory(const std::wstring& directory);
// Takes a registration back; false (doing nothing) for a null cookie.
bool removeDllDirectory(DllDirectoryCookie cookie);

}  // namespace vexlo
