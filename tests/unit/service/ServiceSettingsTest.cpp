// The service settings that need no service manager: the recovery text, the account forms, the extended
// settings handed to the manager (recorded through the seam, since some managers keep none of them) and the
// child's environment.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "service/ServiceSettings.h"

namespace vexlo {
namespace {

struct ConfigReset {
    ~ConfigReset() { resetConfigForTests(); }
};

TEST(ServiceSettingsTest, RecoveryTextGivesUpToThreeActions) {
    struct Case {
        const char* text;
        bool valid;
        std::vector<std::pair<SC_ACTION_TYPE, DWORD>> actions;
    };
    const Case cases[] = {
        {"restart:10000,restart:60000,none",
         true,
         {{SC_ACTION_RESTART, 10000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}}},
        {"off", true, {}},
        {"restart:500", true, {{SC_ACTION_RESTART, 500}}},
        {"none,none,none,none", false, {}},
        {"reboot:1000", false, {}},
        {"restart:", false, {}},
        {"restart:1s", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<SC_ACTION> actions;
        EXPECT_EQ(parseRecoveryActions(c.text, actions), c.valid) << c.text;
        if (!c.valid) continue;
        std::vector<std::pair<SC_ACTION_TYPE, DWORD>> got;
        for (const SC_ACTION& a : actions) got.emplace_back(a.Type, a.Delay);
        EXPECT_EQ(got, c.actions) << c.text;
    }
}

TEST(ServiceSettingsTest, AccountFormsGiveTheirStartNames) {
    struct Case {
        const wchar_t* account;
        AccountKind kind;
        const wchar_t* startName;
    };
    const Case cases[] = {
        {L"", AccountKind::localSystem, L""},
        {L"localsystem", AccountKind::localSystem, L""},
        {L"LocalService", AccountKind::builtIn, L"NT AUTHORITY\\LocalService"},
        {L"NetworkService", AccountKind::builtIn, L"NT AUTHORITY\\NetworkService"},
        {L"virtual", AccountKind::virtualAccount, L"NT SERVICE\\My App"},
        {L".\\runner", AccountKind::user, L".\\runner"},
        {L"CORP\\app$", AccountKind::managed, L"CORP\\app$"},
    };
    for (const Case& c : cases) {
        ServiceAccount account = resolveAccount(c.account, L"My App");
        EXPECT_EQ(account.kind, c.kind) << test::wideToUtf8(c.account);
        EXPECT_EQ(account.startName, c.startName);
    }
}

// The levels and data handed to the manager, for the default recovery of a delayed start under the virtual
// account, and for recovery turned off.
TEST(ServiceSettingsTest, ExtendedSettingsCarryDelayRecoveryFlagSidTypeAndPreShutdownTime) {
    ConfigReset reset;
    struct Recorded {
        std::map<DWORD, std::vector<DWORD>> data;
        ChangeConfig2 seam() {
            return [this](DWORD level, void* info) {
                std::vector<DWORD>& d = data[level];
                switch (level) {
                    case SERVICE_CONFIG_DELAYED_AUTO_START_INFO:
                        d = {
                            static_cast<DWORD>(static_cast<SERVICE_DELAYED_AUTO_START_INFO*>(info)->fDelayedAutostart)};
                        break;
                    case SERVICE_CONFIG_FAILURE_ACTIONS: {
                        auto* f = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
                        d = {f->dwResetPeriod, f->cActions, f->lpsaActions != nullptr};
                        for (DWORD i = 0; i < f->cActions; ++i)
                            d.insert(d.end(), {static_cast<DWORD>(f->lpsaActions[i].Type), f->lpsaActions[i].Delay});
                        break;
                    }
                    case SERVICE_CONFIG_FAILURE_ACTIONS_FLAG:
                        d = {static_cast<DWORD>(
                            static_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(info)->fFailureActionsOnNonCrashFailures)};
                        break;
                    case SERVICE_CONFIG_SERVICE_SID_INFO:
                        d = {static_cast<SERVICE_SID_INFO*>(info)->dwServiceSidType};
                        break;
                    case SERVICE_CONFIG_PRESHUTDOWN_INFO:
                        d = {static_cast<SERVICE_PRESHUTDOWN_INFO*>(info)->dwPreshutdownTimeout};
                        break;
                }
                SetLastError(ERROR_INVALID_LEVEL);
                return level == SERVICE_CONFIG_FAILURE_ACTIONS;  // refusals must not stop the others
            };
        }
    };

    setConfigValueForTests(ids::kServiceAccount, "virtual");
    setConfigValueForTests(ids::kServiceDelayedStart, "1");
    setConfigValueForTests(ids::kServiceStopTimeout, "3000");
    InstallSettings settings;
    std::wstring error;
    ASSERT_TRUE(readInstallSettings(L"svc", SERVICE_AUTO_START, settings, error)) << test::wideToUtf8(error);
    Recorded defaults;
    applyExtendedSettings(settings, defaults.seam());
    EXPECT_EQ(defaults.data, (std::map<DWORD, std::vector<DWORD>>{
                                 {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, {1}},
                                 {SERVICE_CONFIG_FAILURE_ACTIONS,
                                  {86400, 3, 1, SC_ACTION_RESTART, 10000, SC_ACTION_RESTART, 60000, SC_ACTION_NONE, 0}},
                                 {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, {1}},
                                 {SERVICE_CONFIG_SERVICE_SID_INFO, {SERVICE_SID_TYPE_UNRESTRICTED}},
                                 {SERVICE_CONFIG_PRESHUTDOWN_INFO, {8000}},
                             }));

    resetConfigForTests();
    setConfigValueForTests(ids::kServiceRecoveryActions, "off");
    ASSERT_TRUE(readInstallSettings(L"svc", SERVICE_DEMAND_START, settings, error));
    Recorded off;
    applyExtendedSettings(settings, off.seam());
    EXPECT_EQ(off.data, (std::map<DWORD, std::vector<DWORD>>{
                            {SERVICE_CONFIG_FAILURE_ACTIONS, {86400, 0, 1}},
                            {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, {0}},
                            {SERVICE_CONFIG_PRESHUTDOWN_INFO, {35000}},
                        }));
}

// A user's password comes from the variable the block names; without it (and without a console) the settings
// are refused with a message that names the variable. A managed account needs none.
TEST(ServiceSettingsTest, AUserAccountTakesItsPasswordFromTheNamedVariable) {
    ConfigReset reset;
    setConfigValueForTests(ids::kServiceAccount, ".\\runner");
    setConfigValueForTests(ids::kServicePasswordEnv, "VEXLO_UNIT_PW");
    InstallSettings settings;
    std::wstring error;
    SetEnvironmentVariableW(L"VEXLO_UNIT_PW", L"pa ss");
    EXPECT_TRUE(readInstallSettings(L"svc", SERVICE_DEMAND_START, settings, error));
    EXPECT_EQ(settings.password, L"pa ss");
    SetEnvironmentVariableW(L"VEXLO_UNIT_PW", nullptr);
    EXPECT_FALSE(readInstallSettings(L"svc", SERVICE_DEMAND_START, settings, error));
    EXPECT_NE(error.find(L"VEXLO_UNIT_PW"), std::wstring::npos) << test::wideToUtf8(error);
    setConfigValueForTests(ids::kServiceAccount, "CORP\\app$");
    EXPECT_TRUE(readInstallSettings(L"svc", SERVICE_DEMAND_START, settings, error));
    EXPECT_TRUE(settings.password.empty());
}

TEST(ServiceSettingsTest, EnvironmentEntriesSetExpandAndRemove) {
    ConfigReset reset;
    setConfigValueForTests(ids::kServiceEnvironment,
                           "VEXLO_UNIT_A=x=y\nVEXLO_UNIT_B=\nbroken\nVEXLO_UNIT_C=${VEXLO_UNIT_A}!");
    SetEnvironmentVariableW(L"VEXLO_UNIT_B", L"present");
    applyServiceEnvironment();
    auto value = [](const wchar_t* name) {
        wchar_t buffer[256];
        DWORD n = GetEnvironmentVariableW(name, buffer, 256);
        return n == 0 ? std::wstring(L"<unset>") : std::wstring(buffer, n);
    };
    EXPECT_EQ(value(L"VEXLO_UNIT_A"), L"x=y");
    EXPECT_EQ(value(L"VEXLO_UNIT_B"), L"<unset>");
    EXPECT_EQ(value(L"VEXLO_UNIT_C"), L"x=y!");
    for (const wchar_t* name : {L"VEXLO_UNIT_A", L"VEXLO_UNIT_C"}) SetEnvironmentVariableW(name, nullptr);
}

}  // namespace
}  // namespace vexlo
