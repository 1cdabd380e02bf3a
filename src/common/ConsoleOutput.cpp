#include "common/ConsoleOutput.h"

namespace vexlo {
namespace {

bool usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

}  // namespace

bool writeToConsole(HANDLE handle, std::wstring_view text) {
    DWORD mode = 0;
    if (!usable(handle) || !GetConsoleMode(handle, &mode)) return false;
    DWORD written = 0;
    return WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

bool writeBytes(HANDLE handle, std::string_view bytes) {
    if (!usable(handle)) return false;
    DWORD written = 0;
    return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
}

}  // namespace vexlo
