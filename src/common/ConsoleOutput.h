// Writing text to a standard handle: UTF-16 to a console, bytes to anything else (a file or a pipe).
#pragma once

#include <windows.h>

#include <string_view>

namespace vexlo {

// Writes the text with WriteConsoleW when the handle is a console; false when it is none (or the write failed).
bool writeToConsole(HANDLE handle, std::wstring_view text);

// Writes the bytes to a redirected handle; false when the handle is unusable or the write failed.
bool writeBytes(HANDLE handle, std::string_view bytes);

}  // namespace vexlo
