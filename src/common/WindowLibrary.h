// The window library (USER32) loaded on first use, from the system folder only. A launch that shows no window
// and the service process never load it, nor the graphics libraries that come with it.
#pragma once

#include <windows.h>

namespace vexlo {

struct WindowFunctions {
    decltype(&MessageBoxW) messageBox;
    decltype(&EnumWindows) enumWindows;
    decltype(&GetWindowThreadProcessId) windowThreadProcessId;
    decltype(&IsWindowVisible) isWindowVisible;
    decltype(&IsIconic) isIconic;
    decltype(&ShowWindow) showWindow;
    decltype(&SetForegroundWindow) setForegroundWindow;
    decltype(&GetLastActivePopup) lastActivePopup;
};

// Loaded once and kept for the process; null when the library or one of the functions is missing.
const WindowFunctions* windowFunctions();

}  // namespace vexlo
