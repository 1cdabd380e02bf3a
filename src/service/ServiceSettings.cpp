#include "service/ServiceSettings.h"

#include <cstdlib>
#include <cwctype>

#include "common/ConsoleOutput.h"
#include "common/Format.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "paths/LauncherVariables.h"
#include "log/Log.h"

namespace vexlo {

namespace {

bool equalsNoCase(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

// Absent, empty or not a whole number: the default.
DWORD configMilliseconds(int id, DWORD fallback) {
    std::string text = copyConfigString(id);
    if (text.empty()) return fallback;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (*end != '\0' || text[0] == '-') {
        logError(L"ignoring setting %d: '%S' is not a number of milliseconds", id, text.c_str());
        return fallback;
    }
    return static_cast<DWORD>(value);
}

// A password typed at the console the installer runs in, without echo; false without a console.
bool promptPassword(const std::wstring& account, std::wstring& password) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(in, &mode)) return false;
    writeToConsole(out, L"Password for " + account + L": ");
    SetConsoleMode(in, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
    wchar_t buffer[512];
    DWORD got = 0;
    BOOL read = ReadConsoleW(in, buffer, 511, &got, nullptr);
    SetConsoleMode(in, mode);
    writeToConsole(out, L"\n");
    if (!read) return false;
    password.assign(buffer, got);
    SecureZeroMemory(buffer, sizeof buffer);
    while (!password.empty() && (password.back() == L'\n' || password.back() == L'\r')) password.pop_back();
    return true;
}

void logRefusal(const wchar_t* what, BOOL done) {
    if (done) {
        logMessage(L"service setting %s applied", what);
    } else {
        // Some service managers lack the level: the service works without it.
        logError(L"service setting %s not applied (%d)", what, static_cast<int>(GetLastError()));
    }
}

}  // namespace

DWORD serviceStopTimeoutMs() { return configMilliseconds(ids::kServiceStopTimeout, kDefaultStopTimeoutMs); }

bool parseRecoveryActions(std::string_view text, std::vector<SC_ACTION>& actions) {
    actions.clear();
    if (text == "off") return true;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        std::string piece(text.substr(start, comma - start));
        if (piece == "none") {
            actions.push_back({SC_ACTION_NONE, 0});
        } else if (piece.rfind("restart:", 0) == 0 && piece.size() > 8 &&
                   piece.find_first_not_of("0123456789", 8) == std::string::npos) {
            actions.push_back({SC_ACTION_RESTART, static_cast<DWORD>(std::strtoul(piece.c_str() + 8, nullptr, 10))});
        } else {
            actions.clear();
            return false;
        }
        start = comma + 1;
    }
    return actions.size() <= 3;
}

ServiceAccount resolveAccount(const std::wstring& account, const std::wstring& serviceName) {
    if (account.empty() || equalsNoCase(account, L"LocalSystem")) return {AccountKind::localSystem, L""};
    if (equalsNoCase(account, L"LocalService")) return {AccountKind::builtIn, L"NT AUTHORITY\\LocalService"};
    if (equalsNoCase(account, L"NetworkService")) return {AccountKind::builtIn, L"NT AUTHORITY\\NetworkService"};
    if (equalsNoCase(account, L"virtual")) return {AccountKind::virtualAccount, L"NT SERVICE\\" + serviceName};
    // A group-managed account's password belongs to the domain.
    return {account.back() == L'$' ? AccountKind::managed : AccountKind::user, account};
}

DWORD configuredStartType() {
    return getConfigInt(ids::kExecutableType) == ids::kExeTypeAutoStartService ? SERVICE_AUTO_START
                                                                               : SERVICE_DEMAND_START;
}

const wchar_t* startTypeWord(DWORD startType, bool delayed) {
    if (startType == SERVICE_AUTO_START) return delayed ? L"delayed" : L"auto";
    if (startType == SERVICE_DEMAND_START) return L"demand";
    if (startType == SERVICE_DISABLED) return L"disabled";
    return L"boot or system";
}

std::wstring recoveryText(const std::vector<SC_ACTION>& actions, DWORD resetSeconds) {
    if (actions.empty()) return L"off";
    std::wstring text;
    for (const SC_ACTION& action : actions) {
        if (!text.empty()) text += L", ";
        text += action.Type == SC_ACTION_RESTART ? formatWide(L"restart %d ms", static_cast<int>(action.Delay))
                                                 : std::wstring(L"none");
    }
    return text + formatWide(L"; reset after %d s", static_cast<int>(resetSeconds));
}

bool readServiceSettings(const std::wstring& serviceName, DWORD startType, InstallSettings& settings,
                         std::wstring& error) {
    settings = InstallSettings{};
    settings.displayName = getConfigWide(ids::kServiceDisplayName);
    if (settings.displayName.empty()) settings.displayName = serviceName;
    settings.account = resolveAccount(getConfigWide(ids::kServiceAccount), serviceName);
    settings.startType = startType;
    settings.delayed = startType == SERVICE_AUTO_START && getConfigInt(ids::kServiceDelayedStart) != 0;
    settings.stopTimeoutMs = serviceStopTimeoutMs();
    settings.resetSeconds = configMilliseconds(ids::kServiceRecoveryReset, kDefaultResetSeconds * 1000) / 1000;

    std::string recovery = copyConfigString(ids::kServiceRecoveryActions);
    if (recovery.empty()) recovery = "restart:10000,restart:60000,none";
    if (!parseRecoveryActions(recovery, settings.actions)) {
        error = L"The recovery setting '" + widenBytes(recovery) + L"' is not valid.";
        return false;
    }
    settings.recoveryOff = settings.actions.empty();
    return true;
}

bool readInstallSettings(const std::wstring& serviceName, DWORD startType, InstallSettings& settings,
                         std::wstring& error) {
    if (!readServiceSettings(serviceName, startType, settings, error)) return false;
    if (settings.account.kind != AccountKind::user) return true;
    std::wstring variable = getConfigWide(ids::kServicePasswordEnv);
    if (variable.empty()) variable = kDefaultPasswordVariable;
    DWORD size = GetEnvironmentVariableW(variable.c_str(), nullptr, 0);
    if (size > 1) {
        settings.password.resize(size);
        DWORD got = GetEnvironmentVariableW(variable.c_str(), settings.password.data(), size);
        settings.password.resize(got < size ? got : 0);
    }
    if (settings.password.empty() && !promptPassword(settings.account.startName, settings.password)) {
        error = L"The account " + settings.account.startName + L" needs a password: set the environment variable " +
                variable + L" or run the command in a console.";
        return false;
    }
    if (settings.password.empty()) {
        error = L"The account " + settings.account.startName + L" needs a password; none was given.";
        return false;
    }
    return true;
}

void applyExtendedSettings(const InstallSettings& settings, const ChangeConfig2& change) {
    SERVICE_DELAYED_AUTO_START_INFO delayed{settings.delayed};
    if (settings.startType == SERVICE_AUTO_START)
        logRefusal(L"delayed start", change(SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed));

    // An empty list with a non-null array deletes what an earlier installation set.
    std::vector<SC_ACTION> actions = settings.actions;
    SC_ACTION placeholder{SC_ACTION_NONE, 0};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = settings.resetSeconds;
    failure.cActions = static_cast<DWORD>(actions.size());
    failure.lpsaActions = actions.empty() ? &placeholder : actions.data();
    logRefusal(L"failure actions", change(SERVICE_CONFIG_FAILURE_ACTIONS, &failure));
    // A child that ends with an error code counts as a failure too, not only a crash of the service process.
    SERVICE_FAILURE_ACTIONS_FLAG flag{!settings.recoveryOff};
    logRefusal(L"failure actions flag", change(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag));

    if (settings.account.kind == AccountKind::virtualAccount) {
        SERVICE_SID_INFO sid{SERVICE_SID_TYPE_UNRESTRICTED};
        logRefusal(L"service SID type", change(SERVICE_CONFIG_SERVICE_SID_INFO, &sid));
    }
    // A system shut-down gives the application the same time as a stop.
    SERVICE_PRESHUTDOWN_INFO preshutdown{settings.stopTimeoutMs + kStopGraceMs};
    logRefusal(L"pre-shutdown time", change(SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown));
}

std::vector<std::pair<std::wstring, std::wstring>> serviceEnvironment() {
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    std::wstring text;
    appendConfigWide(ids::kServiceEnvironment, text);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        // The first "=" after the first character: names such as "=C:" start with one.
        size_t equals = line.find(L'=', 1);
        if (equals != std::wstring::npos) entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        start = end + 1;
    }
    return entries;
}

void applyServiceEnvironment() {
    for (auto& [name, value] : serviceEnvironment()) {
        if (value.empty()) {
            logMessage(L"environment: removing %s", name.c_str());
            SetEnvironmentVariableW(name.c_str(), nullptr);
            continue;
        }
        std::wstring expanded = value;
        // Before the runtime is chosen: its home is not known yet.
        expandLauncherVariables(expanded, launcherVariableValuesWide(std::string(), false));
        logMessage(L"environment: %s=%s", name.c_str(), expanded.c_str());
        if (!SetEnvironmentVariableW(name.c_str(), expanded.c_str()))
            logError(L"could not set %s (%d)", name.c_str(), static_cast<int>(GetLastError()));
    }
}

}  // namespace vexlo
