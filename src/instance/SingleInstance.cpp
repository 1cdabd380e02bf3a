#include "instance/SingleInstance.h"

#include <sddl.h>

#include "common/Handles.h"
#include "common/WindowLibrary.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "process/LauncherState.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/PathForms.h"

namespace vexlo {

namespace {
void activateInstanceWindows(DWORD processId, bool restore);
}  // namespace

std::string instanceSemaphoreName;

namespace {

// The system releases the semaphore when the process ends; until then this handle keeps the name taken.
unique_handle heldSemaphore;

std::string pidValueName() { return canonicalPathAnsi(executablePathAnsi(), false); }

// Anyone may open the semaphore, so instances of other users and services see it.
SECURITY_ATTRIBUTES* openToEveryoneAttributes() {
    static SECURITY_DESCRIPTOR descriptor;
    static SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
    static const bool ready = InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                              SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    return ready ? &attributes : nullptr;
}

// "Global\" and the user's SID string, or empty when the token cannot tell the user.
std::string userScopePrefix() {
    logMessage(L"user single instance");
    unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        logMessage(L"could not open process token %d", static_cast<int>(GetLastError()));
        return {};
    }
    alignas(TOKEN_USER) unsigned char information[1016];
    DWORD length = 0;
    if (!GetTokenInformation(token.get(), TokenUser, information, sizeof information, &length)) {
        logMessage(L"could not get token information %d", static_cast<int>(GetLastError()));
        return {};
    }
    local_ptr<char> sid;
    if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(information)->User.Sid, sid.put())) {
        logMessage(L"could not get convert sid %d %d", static_cast<int>(GetLastError()), static_cast<int>(length));
        return {};
    }
    return std::string("Global\\") + sid.get();
}

struct WindowSearch {
    const WindowFunctions* window;
    DWORD processId;
    bool restore;
};

BOOL CALLBACK activateIfOwned(HWND window, LPARAM parameter) {
    const auto* search = reinterpret_cast<const WindowSearch*>(parameter);
    const WindowFunctions& user = *search->window;
    DWORD owner = 0;
    user.windowThreadProcessId(window, &owner);
    if (owner != search->processId || !user.isWindowVisible(window)) return TRUE;
    logMessage(L"found window %p", static_cast<void*>(window));
    if (search->restore && user.isIconic(window)) {
        logMessage(L"restore");
        user.showWindow(window, SW_RESTORE);
    }
    logMessage(L"foreground");
    user.setForegroundWindow(window);
    logMessage(L"popup");
    user.setForegroundWindow(user.lastActivePopup(window));
    logMessage(L"done");
    return TRUE;
}

// Creates the semaphore of `name`; `error` is the system's answer, ERROR_ALREADY_EXISTS for a taken name.
unique_handle createSemaphore(SECURITY_ATTRIBUTES* security, const std::string& name, DWORD& error) {
    SetLastError(ERROR_SUCCESS);
    unique_handle semaphore(CreateSemaphoreA(security, 1, 1, name.c_str()));
    error = GetLastError();
    return semaphore;
}

void logSemaphore(const std::string& name, DWORD error, const unique_handle& semaphore) {
    logMessage(L"semaphore name %S, code %d, value %p", name.c_str(), static_cast<int>(error),
               static_cast<void*>(semaphore.get()));
}

}  // namespace

std::string detail::instanceSemaphoreBase(bool& openToEveryone) {
    std::string name;
    openToEveryone = true;
    if (getConfigInt(ids::kInstanceGlobalPrefix) != 0) {
        name = "Global\\";
    } else if (getConfigInt(ids::kInstanceSessionPrefix) != 0) {
        name = "Local\\";
        openToEveryone = false;
    } else {
        name = userScopePrefix();
        if (name.empty()) {
            openToEveryone = false;
            logMessage(L"user single instance failed, fall back to session single instance");
            name = "Local\\";
        }
    }
    // A backslash would open a namespace of its own inside the name.
    for (char c : pidValueName()) name += (c == '\\' || c == ' ') ? '_' : c;
    return name;
}

void checkSingleInstance() {
    instanceSemaphoreName.clear();
    bool openToEveryone = false;
    const std::string base = detail::instanceSemaphoreBase(openToEveryone);
    SECURITY_ATTRIBUTES* security = openToEveryone ? openToEveryoneAttributes() : nullptr;
    DWORD error = 0;

    if (getConfigInt(ids::kSingleInstance) != 0) {
        logMessage(L"single instance mode");
        unique_handle semaphore = createSemaphore(security, base, error);
        logSemaphore(base, error, semaphore);
        if (error == ERROR_ALREADY_EXISTS) {
            semaphore.reset();
            // The first instance writes its id just after creating the semaphore; give it time to do so.
            DWORD firstPid = detail::lookupInstancePid();
            for (int retry = 0; firstPid == 0 && retry < 50; ++retry) {
                Sleep(100);
                firstPid = detail::lookupInstancePid();
            }
            logMessage(L"other pid %d", static_cast<int>(firstPid));
            if (firstPid != 0 && getConfigInt(ids::kBringInstanceToFront) != 0) activateInstanceWindows(firstPid, true);
            logMessage(L"exiting");
            exitLauncher(0);
        }
        heldSemaphore = std::move(semaphore);
        instanceSemaphoreName = base;
        detail::registerInstancePid();
        return;
    }

    std::string name;
    unique_handle semaphore;
    for (int number = 0;; ++number) {
        semaphore.reset();
        name = base + std::to_string(number);
        semaphore = createSemaphore(security, name, error);
        if (error != ERROR_ALREADY_EXISTS || number >= kLastInstanceNumber) break;
    }
    logSemaphore(name, error, semaphore);
    heldSemaphore = std::move(semaphore);
    instanceSemaphoreName = name;
}

DWORD detail::lookupInstancePid() {
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstancePidsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
    DWORD processId = 0;
    DWORD size = sizeof processId;
    const LSTATUS status = RegQueryValueExA(key.get(), pidValueName().c_str(), nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&processId), &size);
    return status == ERROR_SUCCESS && size == sizeof processId ? processId : 0;
}

void detail::registerInstancePid() {
    unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kInstancePidsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return;
    const DWORD processId = GetCurrentProcessId();
    RegSetValueExA(key.get(), pidValueName().c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&processId),
                   sizeof processId);
}

namespace {

// Brings the visible top-level windows of the process to the front, restoring minimised ones when asked.
void activateInstanceWindows(DWORD processId, bool restore) {
    const WindowFunctions* window = windowFunctions();
    if (!window) {
        logMessage(L"window library not loaded %d", static_cast<int>(GetLastError()));
        return;
    }
    WindowSearch search{window, processId, restore};
    window->enumWindows(activateIfOwned, reinterpret_cast<LPARAM>(&search));
}

}  // namespace

}  // namespace vexlo
