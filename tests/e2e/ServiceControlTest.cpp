// The service control words against Wine's real service control manager: what they register, the lines they
// print and their exit codes. Every test works on service names of its own and removes what it installed.
#include <gtest/gtest.h>

#include <windows.h>
#include <winsvc.h>

#include <string>
#include <vector>

#include "Services.h"
#include "TestSupport.h"
#include "common/Handles.h"

namespace vexlo::test {
namespace {

std::wstring uniqueName(const wchar_t* tag) {
    return L"VexloSct" + std::wstring(tag) + std::to_wstring(GetCurrentProcessId());
}

std::string ascii(const std::wstring& text) { return wideToUtf8(text); }

bool serviceExists(const std::wstring& name) { return openService(name, SERVICE_QUERY_STATUS).valid(); }

DWORD currentState(const std::wstring& name) { return queryStatus(name).dwCurrentState; }

std::wstring standinPath() { return binDir() + L"\\standin_service.exe"; }

// Registers the stand-in service directly; `options` go to its command line.
void registerStandin(const std::wstring& name, const std::wstring& recordFile, const std::wstring& options,
                     DWORD startType = SERVICE_DEMAND_START) {
    unique_sc_handle manager = openManager();
    ASSERT_TRUE(manager);
    std::wstring commandLine = L"\"" + standinPath() + L"\" --record \"" + recordFile + L"\" " + options;
    unique_sc_handle service(CreateServiceW(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                            commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << "CreateServiceW failed: " << GetLastError();
}

struct Registration {
    std::wstring binaryPath;
    std::wstring displayName;
    DWORD startType = 0;
    DWORD serviceType = 0;
    std::vector<std::wstring> dependencies;
    bool hasDescription = false;
    std::wstring description;
};

// Wine's manager keeps the dependencies but does not hand them out through QueryServiceConfigW; its
// registration value holds them.
std::vector<std::wstring> registeredDependencies(const std::wstring& name) {
    std::vector<std::wstring> names;
    std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    wchar_t value[4096];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DependOnService", RRF_RT_REG_MULTI_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return names;
    for (const wchar_t* p = value; *p; p += wcslen(p) + 1) names.emplace_back(p);
    return names;
}

Registration queryRegistration(const std::wstring& name) {
    Registration r;
    unique_sc_handle service = openService(name, SERVICE_QUERY_CONFIG);
    EXPECT_TRUE(service) << "service not installed: " << ascii(name);
    if (!service) return r;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed + 16);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    EXPECT_TRUE(QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed));
    r.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
    r.displayName = config->lpDisplayName ? config->lpDisplayName : L"";
    r.startType = config->dwStartType;
    r.serviceType = config->dwServiceType;
    for (const wchar_t* p = config->lpDependencies; p && *p; p += wcslen(p) + 1) r.dependencies.emplace_back(p);
    if (r.dependencies.empty()) r.dependencies = registeredDependencies(name);

    needed = 0;
    QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
    std::vector<unsigned char> descriptionBuffer(needed + 16);
    auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(descriptionBuffer.data());
    if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, descriptionBuffer.data(),
                             static_cast<DWORD>(descriptionBuffer.size()), &needed) &&
        description->lpDescription && *description->lpDescription) {
        r.hasDescription = true;
        r.description = description->lpDescription;
    }
    return r;
}

std::wstring longPath(const std::wstring& path) {
    wchar_t buffer[4096];
    DWORD n = GetLongPathNameW(path.c_str(), buffer, 4096);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : path;
}

RunResult runWord(const std::wstring& exe, std::vector<std::wstring> args, const std::wstring& tempDir) {
    RunOptions options;
    options.args = std::move(args);
    options.env = isolatedEnvironment(tempDir, false);
    options.timeoutMs = 60000;
    RunResult result = runProcess(exe, options);
    EXPECT_TRUE(result.started) << "could not start " << ascii(exe) << ": " << result.startError;
    EXPECT_FALSE(result.timedOut);
    return result;
}

// What the commands print, as the text-mode output of the C runtime writes it.
std::string lines(std::initializer_list<std::string> items) {
    std::string text;
    for (const auto& item : items) text += item + "\r\n";
    return text;
}

class ServiceControlTest : public ::testing::Test {
protected:
    ServiceManagerLock serviceLock;  // first in, last out: held while the guards clean up
    TempDir dir{L"service control"};
    // A launcher copy with a block; its directory name has a space, so the registered path needs its quotes.
    std::wstring makeCopy(const std::wstring& name, const pack::Block& block) {
        return makeLauncher(dir.subdir(L"Service Apps"), name, block);
    }
    RunResult run(const std::wstring& exe, std::vector<std::wstring> args) {
        return runWord(exe, std::move(args), dir.path());
    }
};

TEST_F(ServiceControlTest, InstallWordsRegisterTheQuotedLongPathStartTypeDependenciesAndDescription) {
    const std::wstring name = uniqueName(L"Reg");
    ServiceGuard guard{name, {}};
    pack::Block block;
    block.set(149, "VexloDepOne,,VexloDepTwo").message(20017, "Runs the test application");
    std::wstring exe = makeCopy(L"regapp.exe", block);
    ASSERT_FALSE(exe.empty());

    // Started through its short form, the copy still registers its long path.
    wchar_t shortBuffer[4096];
    DWORD shortLength = GetShortPathNameW(exe.c_str(), shortBuffer, 4096);
    std::wstring shortExe = shortLength > 0 && shortLength < 4096 ? std::wstring(shortBuffer, shortLength) : exe;

    RunResult installed = run(shortExe, {L"/install", name});
    EXPECT_EQ(installed.exitCode, 0u);
    EXPECT_EQ(installed.out, lines({"Installed service '" + ascii(name) + "'."}));
    Registration r = queryRegistration(name);
    EXPECT_EQ(r.binaryPath, L"\"" + longPath(exe) + L"\"");
    EXPECT_EQ(r.displayName, name);
    EXPECT_EQ(r.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(r.serviceType & SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(r.dependencies, (std::vector<std::wstring>{L"VexloDepOne", L"VexloDepTwo"}));
    EXPECT_TRUE(r.hasDescription);
    EXPECT_EQ(r.description, L"Runs the test application");

    // Over an installed, stopped service: the quiet stop reports it, then the service is made anew.
    RunResult automatic = run(exe, {L"-install-auto", name});
    EXPECT_EQ(automatic.exitCode, 0u);
    EXPECT_EQ(automatic.out, lines({"Service is already stopped.", "Installed service '" + ascii(name) + "'."}));
    EXPECT_EQ(queryRegistration(name).startType, static_cast<DWORD>(SERVICE_AUTO_START));

    RunResult demand = run(exe, {L"--install-demand", name});
    EXPECT_EQ(demand.exitCode, 0u);
    EXPECT_EQ(queryRegistration(name).startType, static_cast<DWORD>(SERVICE_DEMAND_START));

    RunResult removed = run(exe, {L"/uninstall", name});
    EXPECT_EQ(removed.exitCode, 0u);
    EXPECT_EQ(removed.out, lines({"Service is already stopped.", "Uninstalled service '" + ascii(name) + "'."}));
    EXPECT_FALSE(serviceExists(name));

    RunResult again = run(exe, {L"/uninstall", name});
    EXPECT_EQ(again.exitCode, 1u);
    EXPECT_EQ(again.out, lines({"Could not delete service."}));
}

TEST_F(ServiceControlTest, PlainInstallTakesTheNameAndStartTypeFromTheBlockAndSetsNoEmptyDescription) {
    const std::wstring name = uniqueName(L"Auto");
    ServiceGuard guard{name, {}};
    pack::Block block;
    // The description comes from the messages alone: an empty message and a configuration value of the
    // same id leave the service without one.
    block.set(101, ascii(name)).set(107, "4").set(20017, "Not a message").message(20017, "");
    std::wstring exe = makeCopy(L"autoapp.exe", block);
    ASSERT_FALSE(exe.empty());

    RunResult installed = run(exe, {L"/install"});
    EXPECT_EQ(installed.exitCode, 0u);
    EXPECT_EQ(installed.out, lines({"Installed service '" + ascii(name) + "'."}));
    Registration r = queryRegistration(name);
    EXPECT_EQ(r.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_TRUE(r.dependencies.empty());
    EXPECT_FALSE(r.hasDescription);

    // A stopped automatic service: not running, the auto-start line, exit code 3.
    for (const wchar_t* word : {L"/status", L"-status", L"--status"}) {
        RunResult status = run(exe, {word});
        EXPECT_EQ(status.exitCode, 3u) << ascii(word);
        // Details may follow the first lines that scripts read.
        EXPECT_EQ(status.out.rfind(lines({"Not running.", "Auto-start.", "Account: LocalSystem"}), 0), 0u)
            << ascii(word) << status.out;
        EXPECT_NE(status.out.find("\r\nStart: auto\r\n"), std::string::npos) << status.out;
    }
}

TEST_F(ServiceControlTest, InstallOverARunningServiceStopsDeletesAndRecreatesIt) {
    const std::wstring name = uniqueName(L"Over");
    ServiceGuard guard{name, {}};
    registerStandin(name, dir.file(L"over.txt"), L"");
    std::wstring exe = makeCopy(L"overapp.exe", pack::Block{});
    ASSERT_FALSE(exe.empty());

    RunResult started = run(exe, {L"/start", name});
    EXPECT_EQ(started.out, lines({"Starting service '" + ascii(name) + "'."}));
    ASSERT_TRUE(waitForState(name, SERVICE_RUNNING));

    RunResult installed = run(exe, {L"/install", name});
    EXPECT_EQ(installed.exitCode, 0u);
    EXPECT_EQ(installed.out, lines({"Stopping service '" + ascii(name) + "'.", "Service stopped",
                                    "Installed service '" + ascii(name) + "'."}));
    EXPECT_EQ(currentState(name), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(queryRegistration(name).binaryPath, L"\"" + longPath(exe) + L"\"");
}

TEST_F(ServiceControlTest, StartStopStatusAndRestartDriveARealService) {
    const std::wstring name = uniqueName(L"Run");
    const std::wstring record = dir.file(L"args.txt");
    ServiceGuard guard{name, {}};
    registerStandin(name, record, L"");
    std::wstring exe = makeCopy(L"runapp.exe", pack::Block{});
    ASSERT_FALSE(exe.empty());
    const std::string n = ascii(name);

    RunResult started = run(exe, {L"/start", name, L"a", L"b c"});
    EXPECT_EQ(started.exitCode, 0u);
    EXPECT_EQ(started.out, lines({"Starting service '" + n + "'."}));
    ASSERT_TRUE(waitForState(name, SERVICE_RUNNING));
    EXPECT_EQ(readFileBytes(record).value_or("<none>"), n + "\na\nb c\n");

    RunResult already = run(exe, {L"/start", name});
    EXPECT_EQ(already.exitCode, 0u);
    EXPECT_EQ(already.out, lines({"Service is already running."}));

    RunResult status = run(exe, {L"/status", name});
    EXPECT_EQ(status.exitCode, 0u);
    // Started on demand: no auto-start line.
    EXPECT_EQ(status.out.rfind(lines({"Running."}), 0), 0u) << status.out;
    EXPECT_EQ(status.out.find("Auto-start"), std::string::npos) << status.out;

    RunResult stopped = run(exe, {L"/stop", name});
    EXPECT_EQ(stopped.exitCode, 0u);
    EXPECT_EQ(stopped.out, lines({"Stopping service '" + n + "'.", "Service stopped"}));
    EXPECT_EQ(currentState(name), static_cast<DWORD>(SERVICE_STOPPED));

    RunResult stopAgain = run(exe, {L"/stop", name});
    EXPECT_EQ(stopAgain.exitCode, 0u);
    EXPECT_EQ(stopAgain.out, lines({"Service is already stopped."}));

    RunResult notRunning = run(exe, {L"/status", name});
    EXPECT_EQ(notRunning.exitCode, 3u);
    EXPECT_EQ(notRunning.out.rfind(lines({"Not running.", "Account: LocalSystem", "Last exit code: 0"}), 0), 0u)
        << notRunning.out;
    EXPECT_NE(notRunning.out.find("\r\nStart: demand\r\n"), std::string::npos) << notRunning.out;

    // Only the name: no start arguments.
    RunResult plain = run(exe, {L"/start", name});
    EXPECT_EQ(plain.exitCode, 0u);
    ASSERT_TRUE(waitForState(name, SERVICE_RUNNING));
    EXPECT_EQ(readFileBytes(record).value_or("<none>"), n + "\n");

    // Restart stops quietly (its progress still shows) and starts with the new arguments.
    RunResult restarted = run(exe, {L"/restart", name, L"x"});
    EXPECT_EQ(restarted.exitCode, 0u);
    EXPECT_EQ(restarted.out,
              lines({"Stopping service '" + n + "'.", "Service stopped", "Starting service '" + n + "'."}));
    ASSERT_TRUE(waitForState(name, SERVICE_RUNNING));
    EXPECT_EQ(readFileBytes(record).value_or("<none>"), n + "\nx\n");
}

TEST_F(ServiceControlTest, StopWaitFollowsTheCheckPointAndGivesUpAfterTheWaitHint) {
    const std::wstring slowName = uniqueName(L"Slow");
    const std::wstring stuckName = uniqueName(L"Stuck");
    const std::wstring stuckRecord = dir.file(L"stuck.txt");
    ServiceGuard slowGuard{slowName, {}};
    ServiceGuard stuckGuard{stuckName, stuckRecord + L".release"};
    // Slow: stops after 3 s with a 1 s wait hint, advancing its check point all the while.
    registerStandin(slowName, dir.file(L"slow.txt"), L"--slow-stop 3000");
    // Stuck: stays stop-pending with a 1.5 s wait hint and a check point that never moves.
    registerStandin(stuckName, stuckRecord, L"--stuck --stuck-hint 1500");
    std::wstring exe = makeCopy(L"waitapp.exe", pack::Block{});
    ASSERT_FALSE(exe.empty());

    run(exe, {L"/start", slowName});
    run(exe, {L"/start", stuckName});
    ASSERT_TRUE(waitForState(slowName, SERVICE_RUNNING));
    ASSERT_TRUE(waitForState(stuckName, SERVICE_RUNNING));

    ULONGLONG begin = GetTickCount64();
    RunResult slow = run(exe, {L"/stop", slowName});
    ULONGLONG slowMs = GetTickCount64() - begin;
    EXPECT_EQ(slow.exitCode, 0u);
    EXPECT_EQ(slow.out, lines({"Stopping service '" + ascii(slowName) + "'.", "Service stopped"}));
    EXPECT_GE(slowMs, 2500u);

    begin = GetTickCount64();
    RunResult stuck = run(exe, {L"/stop", stuckName});
    ULONGLONG stuckMs = GetTickCount64() - begin;
    EXPECT_EQ(stuck.exitCode, 0u);
    EXPECT_EQ(stuck.out, lines({"Stopping service '" + ascii(stuckName) + "'.", "Error while stopping service"}));
    EXPECT_GE(stuckMs, 1500u);
    EXPECT_LT(stuckMs, 10000u);
    EXPECT_EQ(currentState(stuckName), static_cast<DWORD>(SERVICE_STOP_PENDING));
}

TEST_F(ServiceControlTest, CommandsOnAMissingServiceFailWithTheirOwnLines) {
    const std::wstring name = uniqueName(L"Missing");
    std::wstring exe = makeCopy(L"missingapp.exe", pack::Block{});
    ASSERT_FALSE(exe.empty());

    RunResult start = run(exe, {L"/start", name});
    EXPECT_EQ(start.exitCode, 1u);
    EXPECT_EQ(start.out, lines({"Could not start service. Error code: 1060"}));
    RunResult stop = run(exe, {L"/stop", name});
    EXPECT_EQ(stop.exitCode, 1u);
    EXPECT_EQ(stop.out, lines({"Could not stop service."}));
    RunResult status = run(exe, {L"/status", name});
    EXPECT_EQ(status.exitCode, 1u);
    EXPECT_EQ(status.out, lines({"Could not get status."}));
    RunResult uninstall = run(exe, {L"/uninstall", name});
    EXPECT_EQ(uninstall.exitCode, 1u);
    EXPECT_EQ(uninstall.out, lines({"Could not delete service."}));
    // Restart's quiet stop says nothing about the failure; the start's failure decides.
    RunResult restart = run(exe, {L"/restart", name});
    EXPECT_EQ(restart.exitCode, 1u);
    EXPECT_EQ(restart.out, lines({"Could not start service. Error code: 1060"}));
    EXPECT_FALSE(serviceExists(name));
}

TEST_F(ServiceControlTest, AnEmptyServiceNameNeverBecomesAService) {
    // No id 101 and no argument after the word.
    std::wstring exe = makeCopy(L"noname.exe", pack::Block{});
    ASSERT_FALSE(exe.empty());

    RunResult install = run(exe, {L"/install"});
    EXPECT_EQ(install.exitCode, 1u);
    EXPECT_EQ(install.out, lines({"Could not create service."}));
    EXPECT_FALSE(serviceExists(L""));

    // The combined word still tries the start after the failed installation.
    RunResult both = run(exe, {L"/install-and-start"});
    EXPECT_EQ(both.exitCode, 1u);
    EXPECT_EQ(both.out, lines({"Could not create service.", "Could not start service. Error code: 123"}));

    RunResult status = run(exe, {L"/status"});
    EXPECT_EQ(status.exitCode, 1u);
    EXPECT_EQ(status.out, lines({"Could not get status."}));
}

// The combined word installs and starts; its exit code is the start's. The start does not wait for the
// service, whose application then fails on its own (no Java runtime here).
TEST_F(ServiceControlTest, InstallAndStartInstallsThenStartsTheService) {
    const std::wstring name = uniqueName(L"Both");
    ServiceGuard guard{name, {}};
    std::wstring exe = makeCopy(L"bothapp.exe", pack::Block{});
    ASSERT_FALSE(exe.empty());

    RunResult both = run(exe, {L"/install-and-start", name});
    EXPECT_EQ(both.exitCode, 0u);
    EXPECT_EQ(both.out, lines({"Installed service '" + ascii(name) + "'.", "Starting service '" + ascii(name) + "'."}));
    EXPECT_EQ(queryRegistration(name).binaryPath, L"\"" + longPath(exe) + L"\"");
}

TEST_F(ServiceControlTest, UsageNamesTheExecutableWithoutDirectoryOrExtension) {
    std::wstring exe = makeCopy(L"my.tool.exe", pack::Block{});
    ASSERT_FALSE(exe.empty());
    for (const wchar_t* word : {L"/?", L"-help", L"--?"}) {
        RunResult usage = run(exe, {word});
        EXPECT_EQ(usage.exitCode, 0u) << ascii(word);
        EXPECT_EQ(usage.out,
                  lines({"Usage: my.tool.exe /install | /uninstall | /stop | /start | /status | /run | /run-redirect"}))
            << ascii(word);
    }
}

// What the manager answers for an extended setting; 0 with the bytes, or the error (Wine 8 keeps few of them).
DWORD queryConfig2(const std::wstring& name, DWORD level, std::vector<unsigned char>& bytes) {
    unique_sc_handle service = openService(name, SERVICE_QUERY_CONFIG);
    DWORD needed = 0;
    QueryServiceConfig2W(service.get(), level, nullptr, 0, &needed);
    bytes.assign(needed + 16, 0);
    if (QueryServiceConfig2W(service.get(), level, bytes.data(), static_cast<DWORD>(bytes.size()), &needed)) return 0;
    return GetLastError();
}

std::wstring startName(const std::wstring& name) {
    unique_sc_handle service = openService(name, SERVICE_QUERY_CONFIG);
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed + 16);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) return L"<none>";
    return config->lpServiceStartName ? config->lpServiceStartName : L"";
}

// Each account form registers its start name (a user's password comes from the environment); the display name
// and the delayed automatic start are registered too, where the manager keeps them.
TEST_F(ServiceControlTest, AccountsDisplayNameAndDelayedStartAreRegistered) {
    struct Case {
        const wchar_t* tag;
        const char* account;
        std::wstring expected;  // "*": the service's own virtual account
    };
    const Case cases[] = {
        {L"Sys", "", L"LocalSystem"},
        {L"Loc", "LocalService", L"NT AUTHORITY\\LocalService"},
        {L"Net", "NetworkService", L"NT AUTHORITY\\NetworkService"},
        {L"Vir", "virtual", L"*"},
        {L"Usr", ".\\vexlouser", L".\\vexlouser"},
        {L"Gms", "VEXLO\\gmsa$", L"VEXLO\\gmsa$"},
    };
    for (const Case& c : cases) {
        const std::wstring name = uniqueName(c.tag);
        ServiceGuard guard{name, {}};
        pack::Block block;
        block.set(107, "4").set(30103, "1").set(30102, "Display " + ascii(name));
        if (*c.account) block.set(30100, c.account);
        std::wstring exe = makeCopy(std::wstring(c.tag) + L".exe", block);
        RunOptions options;
        options.args = {L"/install", name};
        options.env = isolatedEnvironment(dir.path(), false);
        options.env[L"VEXLO_SERVICE_PASSWORD"] = L"secret";
        RunResult installed = runProcess(exe, options);
        ASSERT_EQ(installed.exitCode, 0u) << ascii(c.tag) << installed.out;
        std::wstring expected = c.expected == L"*" ? L"NT SERVICE\\" + name : c.expected;
        EXPECT_EQ(startName(name), expected) << ascii(c.tag);
        Registration r = queryRegistration(name);
        EXPECT_EQ(r.displayName, L"Display " + name);
        EXPECT_EQ(r.startType, static_cast<DWORD>(SERVICE_AUTO_START));
        std::vector<unsigned char> bytes;
        if (queryConfig2(name, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, bytes) == 0) {
            EXPECT_TRUE(reinterpret_cast<SERVICE_DELAYED_AUTO_START_INFO*>(bytes.data())->fDelayedAutostart);
        }
    }
}

// A user account without a password, in a process without a console: a message naming the variable, exit 1,
// and an installed service of that name stays as it was.
TEST_F(ServiceControlTest, AUserAccountWithoutPasswordInstallsNothing) {
    const std::wstring name = uniqueName(L"NoPw");
    ServiceGuard guard{name, {}};
    std::wstring exe = makeCopy(L"nopw.exe", pack::Block().set(30100, ".\\vexlouser").set(30101, "VEXLO_TEST_PW"));
    RunResult refused = run(exe, {L"/install", name});
    EXPECT_EQ(refused.exitCode, 1u);
    EXPECT_NE(refused.out.find("VEXLO_TEST_PW"), std::string::npos) << refused.out;
    EXPECT_FALSE(serviceExists(name));
}

// /reconfigure changes start mode, display name and recovery of the installed service in place: a value an
// administrator added under its registry key survives, and the output names what changed.
TEST_F(ServiceControlTest, ReconfigureChangesTheInstalledServiceWithoutRecreatingIt) {
    const std::wstring name = uniqueName(L"Rcf");
    ServiceGuard guard{name, {}};
    std::wstring demand = makeCopy(L"rcf1.exe", pack::Block());
    ASSERT_EQ(run(demand, {L"/install", name}).exitCode, 0u);
    std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    DWORD marker = 42;
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"AddedByAdmin", REG_DWORD, &marker, sizeof marker),
              ERROR_SUCCESS);

    std::wstring automatic = makeCopy(
        L"rcf2.exe",
        pack::Block().set(107, "4").set(30102, "Changed").set(30105, "restart:500,none").set(30106, "3600000"));
    RunResult changed = run(automatic, {L"-reconfigure", name});
    EXPECT_EQ(changed.exitCode, 0u) << changed.out;
    EXPECT_EQ(changed.out, lines({"Start: demand -> auto", "Display name: " + ascii(name) + " -> Changed",
                                  "Recovery: restart 500 ms, none; reset after 3600 s",
                                  "Reconfigured service '" + ascii(name) + "'."}));
    EXPECT_EQ(queryRegistration(name).startType, static_cast<DWORD>(SERVICE_AUTO_START));
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"AddedByAdmin", RRF_RT_REG_DWORD, nullptr, &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 42u);

    RunResult missing = run(automatic, {L"/reconfigure", uniqueName(L"Absent")});
    EXPECT_EQ(missing.exitCode, 1u);
}

}  // namespace
}  // namespace vexlo::test
