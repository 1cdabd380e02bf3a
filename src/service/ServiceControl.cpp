#include "service/ServiceControl.h"

#include <windows.h>
#include <winsvc.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "common/ConsoleOutput.h"
#include "common/Format.h"
#include "common/Handles.h"
#include "common/ModuleFileName.h"
#include "common/ProcAddress.h"
#include "common/Utf8.h"
#include "config/ConfigTables.h"
#include "config/ConfigIds.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "service/ServiceSettings.h"
#include "service/EventLog.h"
#include "service/ServiceLog.h"

namespace vexlo {

void writeStandardOutput(const std::wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (writeToConsole(out, text)) return;
    std::string bytes;
    for (char c : wideToAnsi(text)) {
        if (c == '\n') bytes.push_back('\r');
        bytes.push_back(c);
    }
    writeBytes(out, bytes);
}

namespace {

constexpr int kDependenciesCapacity = kPathCapacity;
constexpr DWORD kServiceConfigBufferSize = kPathCapacity;
constexpr DWORD kStopPollMilliseconds = 500;

// An empty name is no service: never let the manager act on (or create) a service without a name.
SC_HANDLE openNamedService(SC_HANDLE manager, const std::wstring& name, DWORD access) {
    if (name.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    return OpenServiceW(manager, name.c_str(), access);
}

// Id 149 as a multi-string: names split at ",", empty pieces dropped, each name and the list terminated.
std::wstring buildDependencies() {
    wchar_t value[kDependenciesCapacity];
    value[0] = L'\0';
    getConfigWide(ids::kServiceDependencies, value, kDependenciesCapacity);
    std::wstring list;
    std::wstring text(value);
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(L',', start);
        if (comma == std::wstring::npos) comma = text.size();
        if (comma > start) {
            list.append(text, start, comma - start);
            list.push_back(L'\0');
        }
        start = comma + 1;
    }
    if (!list.empty()) list.push_back(L'\0');
    return list;
}

using ChangeConfig2Entry = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
using QueryConfig2Entry = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);

// The extended setter is looked up at run time; a missing entry point or a failed call is not an error.
ChangeConfig2Entry changeConfig2Entry() {
    return procAddress<ChangeConfig2Entry>(GetModuleHandleA("advapi32.dll"), "ChangeServiceConfig2W");
}

void setDescription(SC_HANDLE service, const std::wstring& description) {
    auto change = changeConfig2Entry();
    if (!change) return;
    std::wstring text = description;
    SERVICE_DESCRIPTIONW info{};
    info.lpDescription = text.data();
    change(service, SERVICE_CONFIG_DESCRIPTION, &info);
}

void applyExtendedSettingsTo(SC_HANDLE service, const InstallSettings& settings) {
    auto change = changeConfig2Entry();
    if (!change) return;
    applyExtendedSettings(settings, [&](DWORD level, void* info) { return change(service, level, info); });
}

// A password never outlives the call that hands it to the manager.
void forgetPassword(InstallSettings& settings) {
    SecureZeroMemory(settings.password.data(), settings.password.size() * sizeof(wchar_t));
    settings.password.clear();
}

const wchar_t* accountText(const std::wstring& startName) {
    return startName.empty() ? L"LocalSystem" : startName.c_str();
}

// The pieces of the current configuration that /reconfigure reports changes of.
struct CurrentConfig {
    DWORD startType = 0;
    std::wstring startName, displayName;
};

bool queryCurrentConfig(SC_HANDLE service, CurrentConfig& current) {
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    if (needed == 0) return false;
    std::vector<QUERY_SERVICE_CONFIGW> buffer(needed / sizeof(QUERY_SERVICE_CONFIGW) + 1);
    auto* config = buffer.data();
    if (!QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size() * sizeof *config), &needed))
        return false;
    current.startType = config->dwStartType;
    current.startName = config->lpServiceStartName ? config->lpServiceStartName : L"";
    current.displayName = config->lpDisplayName ? config->lpDisplayName : L"";
    if (_wcsicmp(current.startName.c_str(), L"LocalSystem") == 0) current.startName.clear();
    return true;
}

// The event source lets the event viewer show the service's reports; without it the service still runs.
void addEventSource(const std::wstring& name) {
    LONG result = registerEventSource(name, executablePathLong());
    if (result == ERROR_SUCCESS) {
        logMessage(L"event source '%s' registered", name.c_str());
        return;
    }
    std::wstring text = formatWide(L"Could not register the event source '%s' (error %d).", name.c_str(),
                                   static_cast<int>(result));
    logError(L"%s", text.c_str());
    printOut(L"%s\n", text.c_str());
    std::wstring logPath = serviceLogPath(name);
    if (!logPath.empty() && openServiceLog(logPath)) {
        writeServiceLogLine(text);
        closeServiceLog();
    }
}

// The service process's child, the one that runs the application; 0 when there is none.
DWORD findChildProcess(DWORD parentId) {
    unique_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ParentProcessID == parentId && entry.th32ProcessID != parentId) return entry.th32ProcessID;
    return 0;
}

std::wstring processStartTime(DWORD processId) {
    unique_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    FILETIME created, exited, kernel, user;
    SYSTEMTIME utc, local;
    if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user) ||
        !FileTimeToSystemTime(&created, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return {};
    return formatWide(L"%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(local.wYear), static_cast<int>(local.wMonth),
                      static_cast<int>(local.wDay), static_cast<int>(local.wHour), static_cast<int>(local.wMinute),
                      static_cast<int>(local.wSecond));
}

// The last line the child wrote, from the end of the service log (UTF-8).
std::wstring lastChildLineInLog(const std::wstring& logPath) {
    constexpr LONGLONG kTail = 64 * 1024;
    unique_file file(CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) return {};
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart > kTail ? size.QuadPart - kTail : 0;
    std::string tail(static_cast<size_t>(size.QuadPart - from.QuadPart), '\0');
    DWORD got = 0;
    if (!SetFilePointerEx(file.get(), from, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &got, nullptr))
        return {};
    tail.resize(got);
    size_t at = tail.rfind(kChildLinePrefix);
    if (at == std::string::npos) return {};
    at += sizeof kChildLinePrefix - 1;
    std::string line = tail.substr(at, tail.find_first_of("\r\n", at) - at);
    return fromUtf8(line);
}

// What /status adds after its fixed first lines, each line only when known.
void printStatusDetails(const std::wstring& name, SC_HANDLE service, const QUERY_SERVICE_CONFIGA& config) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed))
        return;
    if (status.dwCurrentState == SERVICE_RUNNING && status.dwProcessId != 0) {
        DWORD child = findChildProcess(status.dwProcessId);
        std::wstring since = processStartTime(child != 0 ? child : status.dwProcessId);
        if (child != 0)
            printOut(L"Process id: %d (service process %d)\n", static_cast<int>(child),
                     static_cast<int>(status.dwProcessId));
        if (!since.empty()) printOut(L"Running since: %s\n", since.c_str());
    }
    const char* account = config.lpServiceStartName && *config.lpServiceStartName ? config.lpServiceStartName
                                                                                  : "LocalSystem";
    printOut(L"Account: %S\n", account);
    if (status.dwCurrentState == SERVICE_STOPPED && status.dwWin32ExitCode != ERROR_SERVICE_NEVER_STARTED) {
        DWORD code = status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status.dwServiceSpecificExitCode
                                                                            : status.dwWin32ExitCode;
        printOut(L"Last exit code: %d\n", static_cast<int>(code));
        std::wstring logPath = serviceLogPath(name);
        std::wstring line = code != 0 && !logPath.empty() ? lastChildLineInLog(logPath) : std::wstring();
        if (!line.empty()) printOut(L"Last error: %s\n", line.c_str());
    }
    // Some service managers cannot read these back (error 124): then the manager's own start type is all there
    // is, and recovery is left out.
    auto query = procAddress<QueryConfig2Entry>(GetModuleHandleA("advapi32.dll"), "QueryServiceConfig2W");
    alignas(SERVICE_FAILURE_ACTIONSW) unsigned char extended[kServiceConfigBufferSize];
    bool delayed = config.dwStartType == SERVICE_AUTO_START && query &&
                   query(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, extended, sizeof extended, &needed) &&
                   reinterpret_cast<SERVICE_DELAYED_AUTO_START_INFO*>(extended)->fDelayedAutostart;
    printOut(L"Start: %s\n", startTypeWord(config.dwStartType, delayed));
    if (query && query(service, SERVICE_CONFIG_FAILURE_ACTIONS, extended, sizeof extended, &needed)) {
        auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(extended);
        std::vector<SC_ACTION> actions;
        if (failure->lpsaActions) actions.assign(failure->lpsaActions, failure->lpsaActions + failure->cActions);
        printOut(L"Recovery: %s\n", recoveryText(actions, failure->dwResetPeriod).c_str());
    }
}

// Follows a stop request until the service has stopped or stops advancing its check point for longer than
// its wait hint. Returns whether the last state seen is stopped.
bool waitForStop(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) return false;
    ULONGLONG lastProgress = GetTickCount64();
    DWORD checkPoint = status.dwCheckPoint;
    while (status.dwCurrentState == SERVICE_STOP_PENDING) {
        Sleep(kStopPollMilliseconds);
        if (!QueryServiceStatus(service, &status)) return false;
        if (status.dwCheckPoint > checkPoint) {
            checkPoint = status.dwCheckPoint;
            lastProgress = GetTickCount64();
        } else if (GetTickCount64() - lastProgress > status.dwWaitHint) {
            break;
        }
    }
    return status.dwCurrentState == SERVICE_STOPPED;
}

}  // namespace

int printUsage() {
    std::wstring name = moduleFileName();
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    printOut(L"Usage: %s.exe /install | /uninstall | /stop | /start | /status | /run | /run-redirect\n", name.c_str());
    return 0;
}

int installService(const std::wstring& name, unsigned startType) {
    // An unusable setting or a missing password leaves an installed service as it is.
    InstallSettings settings;
    std::wstring error;
    if (!readInstallSettings(name, startType, settings, error)) {
        printOut(L"%s\n", error.c_str());
        return 1;
    }
    // Whatever was registered under this name goes first; the outcome does not matter.
    uninstallService(name, false);

    unique_sc_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        printOut(L"Could not open SCManager.\n");
        return 1;
    }
    std::wstring commandLine = L"\"" + executablePathLong() + L"\"";
    std::wstring dependencies = buildDependencies();

    unique_sc_handle service;
    if (!name.empty()) {
        const std::wstring& account = settings.account.startName;
        service.reset(CreateServiceW(manager.get(), name.c_str(), settings.displayName.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL, commandLine.c_str(),
                                     nullptr, nullptr, dependencies.empty() ? nullptr : dependencies.c_str(),
                                     account.empty() ? nullptr : account.c_str(),
                                     settings.password.empty() ? nullptr : settings.password.c_str()));
    }
    DWORD createError = service ? 0 : GetLastError();
    forgetPassword(settings);
    if (!service) {
        printOut(L"Could not create service.\n");
        if (createError == ERROR_INVALID_SERVICE_ACCOUNT || createError == ERROR_SERVICE_LOGON_FAILED)
            printOut(L"The account %s was refused (%d).\n", accountText(settings.account.startName),
                     static_cast<int>(createError));
        return 1;
    }
    std::wstring description = getMessageTableText(ids::kServiceDescription);
    if (!description.empty()) setDescription(service.get(), description);
    applyExtendedSettingsTo(service.get(), settings);
    addEventSource(name);

    service.reset();
    manager.reset();
    printOut(L"Installed service '%s'.\n", name.c_str());
    return 0;
}

int reconfigureService(const std::wstring& name, unsigned startType) {
    InstallSettings settings;
    std::wstring error;
    if (!readInstallSettings(name, startType, settings, error)) {
        printOut(L"%s\n", error.c_str());
        return 1;
    }
    unique_sc_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        forgetPassword(settings);
        printOut(L"Could not open SCManager.\n");
        return 1;
    }
    unique_sc_handle service(openNamedService(manager.get(), name, SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG));
    CurrentConfig before;
    if (!service || !queryCurrentConfig(service.get(), before)) {
        forgetPassword(settings);
        printOut(L"Could not open service '%s' (%d).\n", name.c_str(), static_cast<int>(GetLastError()));
        return 1;
    }
    std::wstring commandLine = L"\"" + executablePathLong() + L"\"";
    std::wstring dependencies = buildDependencies();
    // The local system account is named explicitly: no name would mean "unchanged".
    std::wstring account = settings.account.startName.empty() ? L"LocalSystem" : settings.account.startName;
    BOOL changed = ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                        commandLine.c_str(), nullptr, nullptr, dependencies.c_str(), account.c_str(),
                                        settings.password.empty() ? nullptr : settings.password.c_str(),
                                        settings.displayName.c_str());
    DWORD changeError = changed ? 0 : GetLastError();
    forgetPassword(settings);
    if (!changed) {
        printOut(L"Could not change service '%s' (%d).\n", name.c_str(), static_cast<int>(changeError));
        return 1;
    }
    std::wstring description = getMessageTableText(ids::kServiceDescription);
    if (!description.empty()) setDescription(service.get(), description);
    applyExtendedSettingsTo(service.get(), settings);

    CurrentConfig after;
    if (!queryCurrentConfig(service.get(), after)) after = before;
    if (after.startType != before.startType)
        printOut(L"Start: %s -> %s\n", startTypeWord(before.startType, false), startTypeWord(after.startType, false));
    if (after.startName != before.startName)
        printOut(L"Account: %s -> %s\n", accountText(before.startName), accountText(after.startName));
    if (after.displayName != before.displayName)
        printOut(L"Display name: %s -> %s\n", before.displayName.c_str(), after.displayName.c_str());
    // The manager may not report these back: say what was asked for.
    if (settings.delayed) printOut(L"Start: delayed\n");
    printOut(L"Recovery: %s\n", recoveryText(settings.actions, settings.resetSeconds).c_str());
    printOut(L"Reconfigured service '%s'.\n", name.c_str());
    return 0;
}

int uninstallService(const std::wstring& name, bool verbose) {
    stopService(name, false);

    unique_sc_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        if (verbose) printOut(L"Could not open SCManager.\n");
        return 1;
    }
    unique_sc_handle service(openNamedService(manager.get(), name, DELETE));
    if (!service || !DeleteService(service.get())) {
        if (verbose) printOut(L"Could not delete service.\n");
        return 1;
    }
    service.reset();
    manager.reset();
    LONG removed = removeEventSource(name);
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
        logError(L"could not remove the event source '%s' (%d)", name.c_str(), static_cast<int>(removed));
    if (verbose) printOut(L"Uninstalled service '%s'.\n", name.c_str());
    return 0;
}

int startService(const std::wstring& name, const std::vector<std::wstring>& arguments) {
    unique_sc_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        printOut(L"Could not open SCManager.\n");
        return 1;
    }
    // The first argument named the service; the rest are handed to it.
    std::vector<const wchar_t*> startArguments;
    if (arguments.size() >= 2) {
        for (size_t i = 1; i < arguments.size(); ++i) startArguments.push_back(arguments[i].c_str());
    }
    unique_sc_handle service(openNamedService(manager.get(), name, SERVICE_START));
    BOOL started = FALSE;
    DWORD error = 0;
    if (service) {
        started = StartServiceW(service.get(), static_cast<DWORD>(startArguments.size()),
                                startArguments.empty() ? nullptr : startArguments.data());
    }
    if (!started) error = GetLastError();
    service.reset();
    manager.reset();

    if (started) {
        printOut(L"Starting service '%s'.\n", name.c_str());
        return 0;
    }
    if (error == ERROR_SERVICE_ALREADY_RUNNING) {
        printOut(L"Service is already running.\n");
        return 0;
    }
    printOut(L"Could not start service. Error code: %d\n", static_cast<int>(error));
    return 1;
}

int stopService(const std::wstring& name, bool verbose) {
    unique_sc_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        if (verbose) printOut(L"Could not open SCManager.\n");
        return 1;
    }
    unique_sc_handle service(openNamedService(manager.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        if (verbose) printOut(L"Could not stop service.\n");
        return 1;
    }
    // Progress is printed even by the quiet stop that install and uninstall run first.
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        printOut(L"Stopping service '%s'.\n", name.c_str());
        if (waitForStop(service.get())) {
            printOut(L"Service stopped\n");
        } else {
            printOut(L"Error while stopping service\n");
        }
        return 0;
    }
    if (GetLastError() == ERROR_SERVICE_NOT_ACTIVE) {
        printOut(L"Service is already stopped.\n");
        return 0;
    }
    if (verbose) printOut(L"Could not stop service.\n");
    return 1;
}

int serviceStatus(const std::wstring& name) {
    unique_sc_handle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        printOut(L"Could not open SCManager.\n");
        return 1;
    }
    unique_sc_handle service(openNamedService(manager.get(), name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) {
        printOut(L"Could not get status.\n");
        return 1;
    }
    bool running = status.dwCurrentState == SERVICE_RUNNING;
    if (running) {
        printOut(L"Running.\n");
    } else {
        printOut(L"Not running.\n");
    }

    // QUERY_SERVICE_CONFIGA holds pointers: keep the buffer pointer-aligned.
    alignas(QUERY_SERVICE_CONFIGA) unsigned char buffer[kServiceConfigBufferSize];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    DWORD needed = 0;
    if (!QueryServiceConfigA(service.get(), config, kServiceConfigBufferSize, &needed)) {
        DWORD error = GetLastError();
        printOut(L"Could not get config (%d, %d).\n", static_cast<int>(error), static_cast<int>(needed));
        return 1;
    }
    if (config->dwStartType == SERVICE_AUTO_START) printOut(L"%s.\n", L"Auto-start");
    printStatusDetails(name, service.get(), *config);
    return running ? 0 : 3;
}

}  // namespace vexlo
