#include "common/WindowLibrary.h"

#include "common/ProcAddress.h"

namespace vexlo {

namespace {

// A library of the system folder, never one that the application's folder or the search path could answer.
HMODULE loadSystemLibrary(const wchar_t* name) { return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); }

}  // namespace

const WindowFunctions* windowFunctions() {
    static const WindowFunctions functions = [] {
        HMODULE user = loadSystemLibrary(L"user32.dll");  // stays loaded for the process
        WindowFunctions f{};
        f.messageBox = procAddress<decltype(f.messageBox)>(user, "MessageBoxW");
        f.enumWindows = procAddress<decltype(f.enumWindows)>(user, "EnumWindows");
        f.windowThreadProcessId = procAddress<decltype(f.windowThreadProcessId)>(user, "GetWindowThreadProcessId");
        f.isWindowVisible = procAddress<decltype(f.isWindowVisible)>(user, "IsWindowVisible");
        f.isIconic = procAddress<decltype(f.isIconic)>(user, "IsIconic");
        f.showWindow = procAddress<decltype(f.showWindow)>(user, "ShowWindow");
        f.setForegroundWindow = procAddress<decltype(f.setForegroundWindow)>(user, "SetForegroundWindow");
        f.lastActivePopup = procAddress<decltype(f.lastActivePopup)>(user, "GetLastActivePopup");
        return f;
    }();
    const bool complete = functions.messageBox && functions.enumWindows && functions.windowThreadProcessId &&
                          functions.isWindowVisible && functions.isIconic && functions.showWindow &&
                          functions.setForegroundWindow && functions.lastActivePopup;
    return complete ? &functions : nullptr;
}

}  // namespace vexlo
