// The service settings of the configuration block that /install, /reconfigure and the service runtime share:
// account, start mode, recovery, stop time and the child's environment.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vexlo {

inline constexpr DWORD kDefaultStopTimeoutMs = 30000;
// What the service process adds to the stop time before it ends the child's job itself.
inline constexpr DWORD kStopGraceMs = 5000;
inline constexpr DWORD kDefaultResetSeconds = 24 * 60 * 60;
inline constexpr wchar_t kDefaultPasswordVariable[] = L"VEXLO_SERVICE_PASSWORD";

DWORD serviceStopTimeoutMs();

// "restart:<ms>" and "none", comma-separated; "off" is an empty list. False for anything else.
bool parseRecoveryActions(std::string_view text, std::vector<SC_ACTION>& actions);

enum class AccountKind { localSystem, builtIn, virtualAccount, user, managed };

struct ServiceAccount {
    AccountKind kind = AccountKind::localSystem;
    std::wstring startName;  // empty: the local system account
};
ServiceAccount resolveAccount(const std::wstring& account, const std::wstring& serviceName);

// Everything /install and /reconfigure apply besides the command line and the dependencies.
struct InstallSettings {
    std::wstring displayName;
    ServiceAccount account;
    std::wstring password;  // only for a user account; never stored anywhere
    DWORD startType = SERVICE_DEMAND_START;
    bool delayed = false;
    bool recoveryOff = false;
    std::vector<SC_ACTION> actions;
    DWORD resetSeconds = kDefaultResetSeconds;
    DWORD stopTimeoutMs = kDefaultStopTimeoutMs;
};

// The start type /install gives: automatic for an executable of the automatic service type, else on demand.
DWORD configuredStartType();
// "auto", "delayed", "demand", "disabled" or "boot or system".
const wchar_t* startTypeWord(DWORD startType, bool delayed);
// "restart 10000 ms, none; reset after 86400 s", or "off" for no actions.
std::wstring recoveryText(const std::vector<SC_ACTION>& actions, DWORD resetSeconds);

// Reads the block's settings except the password. False with a message when a setting is unusable.
bool readServiceSettings(const std::wstring& serviceName, DWORD startType, InstallSettings& settings,
                         std::wstring& error);
// Reads the block's settings. A user account gets its password from the variable named by the block (default
// VEXLO_SERVICE_PASSWORD) or, on a console, from a prompt without echo. False with a message when a setting is
// unusable or the password is missing.
bool readInstallSettings(const std::wstring& serviceName, DWORD startType, InstallSettings& settings,
                         std::wstring& error);

// The calls of ChangeServiceConfig2W the settings make, one level at a time. The caller decides what a call does
// (the real one, or a recorder in tests); a refusal is logged and the rest go on, since some service managers
// lack some levels.
using ChangeConfig2 = std::function<BOOL(DWORD level, void* info)>;
void applyExtendedSettings(const InstallSettings& settings, const ChangeConfig2& change);

// The child's environment changes: ("NAME", value) with an empty value for a removal, in the block's order.
std::vector<std::pair<std::wstring, std::wstring>> serviceEnvironment();
// Sets them in this process (a child started later inherits them), launcher variables expanded.
void applyServiceEnvironment();

}  // namespace vexlo
