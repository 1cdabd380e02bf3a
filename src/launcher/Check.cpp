#include "launcher/Check.h"

#include <windows.h>
#include <winsvc.h>

#include <algorithm>

#include "common/ConsoleOutput.h"
#include "common/Format.h"
#include "common/Handles.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "extract/IncludedFiles.h"
#include "jvm/JvmSearch.h"
#include "jvm/SelectedRuntime.h"
#include "launch/JvmArguments.h"
#include "paths/LauncherVariables.h"
#include "launch/NativeLibraryPath.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/PathForms.h"
#include "process/LauncherState.h"
#include "service/ServiceControl.h"
#include "service/ServiceSettings.h"

namespace vexlo {

namespace {

std::vector<std::wstring> searchLines;

void keepSearchLine(bool isError, const std::wstring& text) {
    searchLines.push_back(isError ? L"error: " + text : text);
}

std::wstring after(const std::wstring& line, const std::wstring& prefix) {
    return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : std::wstring();
}

// One verdict per runtime the search probed, read from the search's own lines: found, rejected with the
// reason, or not found.
std::vector<std::wstring> searchVerdicts() {
    std::vector<std::wstring> verdicts;
    std::wstring bounds = L"any version";
    std::wstring exe, version;
    for (const std::wstring& line : searchLines) {
        std::wstring rest;
        if (!(rest = after(line, L"MinVersion: ")).empty()) {
            size_t comma = rest.find(L", MaxVersion: ");
            std::wstring minimum = rest.substr(0, comma);
            std::wstring maximum = comma == std::wstring::npos ? L"" : rest.substr(comma + 14);
            if (!minimum.empty() || !maximum.empty())
                bounds = L"minimum " + (minimum.empty() ? L"none" : minimum) + L", maximum " +
                         (maximum.empty() ? L"none" : maximum);
        } else if (!(rest = after(line, L"checkJavaExe (")).empty()) {
            exe = rest.substr(0, rest.find(L", [out]"));
            version.clear();
        } else if (line == L"file doesn't exist") {
            verdicts.push_back(L"not found: " + exe);
        } else if (!(rest = after(line, L"got version from ")).empty()) {
            size_t blank = rest.find(L' ');
            version = blank == std::wstring::npos ? L"" : rest.substr(blank + 1, rest.rfind(L' ') - blank - 1);
        } else if (line == L"checkJavaExe returning 1") {
            verdicts.push_back(L"found Java " + version + L" at " + exe);
        } else if (line == L"checkJavaExe returning 0" && !version.empty()) {
            verdicts.push_back(L"rejected: Java " + version + L" at " + exe + L" is outside the accepted versions (" +
                               bounds + L")");
        } else if (line == L"checkJavaExe returning 0") {
            verdicts.push_back(L"rejected: the version of " + exe + L" could not be read");
        } else if (!(rest = after(line, L"Trying ")).empty() && rest.size() > 11 &&
                   rest.compare(rest.size() - 11, 11, L" (exists 0)") == 0) {
            verdicts.push_back(L"rejected: no " + rest.substr(0, rest.size() - 11));
        }
    }
    return verdicts;
}

struct PathEntry {
    char type;
    bool mandatory;
    std::string text;
};

// The configured entries of a class or module path list: type letter, mandatory flag, text.
std::vector<PathEntry> pathEntries(int id) {
    std::vector<PathEntry> entries;
    const std::string list = copyConfigString(id);
    for (size_t position = 0; position <= list.size();) {
        size_t end = std::min(list.find(';', position), list.size());
        if (end == position) break;
        if (end - position > 1)
            entries.push_back(
                {list[position], list[position + 1] == '1', list.substr(position + 2, end - position - 2)});
        position = end + 1;
    }
    return entries;
}

// Prints each entry present or missing; the first missing mandatory one becomes the reason.
void reportPathEntries(int id, const wchar_t* title, std::wstring& reason) {
    std::vector<PathEntry> entries = pathEntries(id);
    if (entries.empty()) return;
    printOut(L"%s:\n", title);
    for (const PathEntry& entry : entries) {
        std::string text = entry.text;
        std::string shown;
        bool present = false;
        if (entry.type == 'E') {
            SetLastError(ERROR_SUCCESS);
            DWORD size = GetEnvironmentVariableA(text.c_str(), nullptr, 0);
            bool defined = size != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
            std::string value(size, '\0');
            value.resize(size > 0 ? GetEnvironmentVariableA(text.c_str(), value.data(), size) : 0);
            present = !value.empty();
            shown = "%" + text + "%" + (present ? " = " + value : std::string(defined ? " (empty)" : " (not set)"));
        } else {
            expandLauncherVariables(text, launcherVariableValues(selectedJavaHome()));
            resolvePathList(shown, text);
            present = pathExists(shown);
            if (entry.type == 'S' && id == ids::kClassPath) shown += "\\*.jar, *.zip";
        }
        printOut(L"  [%s] %S%s\n", present ? L"present" : L"missing", shown.c_str(),
                 entry.mandatory ? L" (mandatory)" : L"");
        if (!present && entry.mandatory && reason.empty())
            reason = formatWide(L"the mandatory entry %S is missing", shown.c_str());
    }
}

const wchar_t* stateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED: return L"stopped";
        case SERVICE_START_PENDING: return L"start pending";
        case SERVICE_STOP_PENDING: return L"stop pending";
        case SERVICE_RUNNING: return L"running";
        default: return L"other";
    }
}

const wchar_t* startTypeName(DWORD type) {
    switch (type) {
        case SERVICE_AUTO_START: return L"automatic";
        case SERVICE_DEMAND_START: return L"on demand";
        case SERVICE_DISABLED: return L"disabled";
        default: return L"other";
    }
}

// The installed service beside this executable: a registration that starts another copy is flagged.
void reportInstalledService(const std::wstring& name) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_sc_handle service;
    if (manager && !name.empty())
        service.reset(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service) {
        printOut(L"Service '%s': not installed\n", name.c_str());
        return;
    }
    SERVICE_STATUS status{};
    QueryServiceStatus(service.get(), &status);
    alignas(QUERY_SERVICE_CONFIGW) unsigned char buffer[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    DWORD needed = 0;
    if (!QueryServiceConfigW(service.get(), config, sizeof buffer, &needed)) {
        printOut(L"Service '%s': installed, %s; its configuration cannot be read (%d)\n", name.c_str(),
                 stateName(status.dwCurrentState), static_cast<int>(GetLastError()));
        return;
    }
    const wchar_t* account = config->lpServiceStartName && *config->lpServiceStartName ? config->lpServiceStartName
                                                                                       : L"LocalSystem";
    printOut(L"Service '%s': installed, %s, start %s, account %s\n", name.c_str(), stateName(status.dwCurrentState),
             startTypeName(config->dwStartType), account);
    std::wstring registered = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
    std::wstring ours = L"\"" + executablePathLong() + L"\"";
    printOut(L"  registered command line: %s\n", registered.c_str());
    if (_wcsicmp(registered.c_str(), ours.c_str()) != 0)
        printOut(L"  WARNING: the service runs another copy; this one is %s\n", ours.c_str());
}

// What /install would apply, from this executable's own settings; the password is never asked for here.
void reportServiceSettings(const std::wstring& name) {
    InstallSettings settings;
    std::wstring error;
    printOut(L"Service settings of this executable:\n");
    if (!readServiceSettings(name, configuredStartType(), settings, error)) {
        printOut(L"  %s\n", error.c_str());
        return;
    }
    printOut(L"  account: %s\n",
             settings.account.startName.empty() ? L"LocalSystem" : settings.account.startName.c_str());
    if (settings.account.kind == AccountKind::user) {
        std::wstring variable = getConfigWide(ids::kServicePasswordEnv);
        printOut(L"  password from: %%%s%% or a prompt at /install\n",
                 variable.empty() ? kDefaultPasswordVariable : variable.c_str());
    }
    printOut(L"  start: %s\n", startTypeWord(settings.startType, settings.delayed));
    printOut(L"  stop time: %d ms\n", static_cast<int>(settings.stopTimeoutMs));
    printOut(L"  recovery: %s\n", recoveryText(settings.actions, settings.resetSeconds).c_str());
    std::vector<std::pair<std::wstring, std::wstring>> environment = serviceEnvironment();
    if (environment.empty()) printOut(L"  environment: unchanged\n");
    for (const auto& [variable, value] : environment) {
        if (value.empty()) {
            printOut(L"  environment: %s removed\n", variable.c_str());
        } else {
            printOut(L"  environment: %s=%s\n", variable.c_str(), value.c_str());
        }
    }
}

}  // namespace

int runCheck(const std::vector<std::wstring>& arguments) {
    noMessageBoxFlag = true;
    printOut(L"Checking %s\n", executablePathLong().c_str());
    if (extractIncludedFiles(true) != 0) {
        printOut(L"Result: the included files could not be extracted\n");
        return 1;
    }
    prepareNativeLibraryPath();

    searchLines.clear();
    setLogObserver(keepSearchLine);
    bool loaded = LoadDLL();
    setLogObserver(nullptr);
    printOut(L"Java runtime search (each step as the launcher takes it):\n");
    for (const std::wstring& line : searchLines) printOut(L"  %s\n", line.c_str());
    printOut(L"Runtimes tried:\n");
    std::vector<std::wstring> verdicts = searchVerdicts();
    if (verdicts.empty()) printOut(L"  none\n");
    for (const std::wstring& verdict : verdicts) printOut(L"  %s\n", verdict.c_str());
    if (!loaded) {
        reportInstalledService(serviceName);
        reportServiceSettings(serviceName);
        printOut(L"Result: no usable Java runtime was found\n");
        return 1;
    }
    printOut(L"Runtime chosen: %S (Java %S)\n", selectedJavaHome().c_str(), selectedJavaVersion().c_str());

    std::wstring reason;
    reportPathEntries(ids::kClassPath, L"Class path", reason);
    reportPathEntries(ids::kModulePath, L"Module path", reason);
    // With a mandatory entry missing the assembly would end the launcher; the entry is the answer already.
    if (reason.empty()) {
        JavaVMInitArgs* initArgs = assembleJvmArguments(buildSystemProperties(), arguments);
        printOut(L"Options of the virtual machine (%d):\n", static_cast<int>(initArgs->nOptions));
        for (jint i = 0; i < initArgs->nOptions; ++i)
            printOut(L"  %S\n", initArgs->options[i].optionString ? initArgs->options[i].optionString : "");
    }
    reportInstalledService(serviceName);
    reportServiceSettings(serviceName);
    if (!reason.empty()) {
        printOut(L"Result: %s\n", reason.c_str());
        return 1;
    }
    printOut(L"Result: ready to create the virtual machine\n");
    return 0;
}

}  // namespace vexlo
