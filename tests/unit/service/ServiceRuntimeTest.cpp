// The service runtime's pieces that need no service control manager: the child's command line, the priority
// value and the status record's answers to control requests.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "common/Handles.h"
#include "common/CommandLine.h"
#include "process/LauncherState.h"
#include "service/ServiceRuntime.h"

namespace vexlo {
namespace {

TEST(ServiceRuntimeTest, ChildCommandLineQuotesWhatSplittingWouldChangeAndEndsWithTheMarker) {
    struct Case {
        std::wstring processLine, name;
        std::vector<std::wstring> serviceArguments;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\App\\app.exe\"",
         L"My Service",
         {},
         L"\"C:\\Program Files\\App\\app.exe\" \"My Service\" __qdr_restart"},
        {L"C:\\app.exe -x  y", L"svc", {L"a", L"b c"}, L"C:\\app.exe svc -x y a \"b c\" __qdr_restart"},
        // An empty piece keeps its place, a tab and a quote survive the child's splitting.
        {L"C:\\app.exe",
         L"svc",
         {L"", L"t\tx", L"say \"hi\"", L"q\"q"},
         L"C:\\app.exe svc \"\" \"t\tx\" \"say \"\"hi\"\"\" \"q\"\"q\" __qdr_restart"},
    };
    for (const Case& c : cases) {
        std::wstring line = buildChildCommandLine(c.processLine, c.name, c.serviceArguments);
        EXPECT_EQ(line, c.expected);
        // What the child's own splitting gives back: every piece unchanged, in order.
        std::vector<std::wstring> split, expected;
        splitCommandLine(line, split);
        splitCommandLine(c.processLine, expected);
        expected.insert(expected.begin() + 1, c.name);
        expected.insert(expected.end(), c.serviceArguments.begin(), c.serviceArguments.end());
        expected.push_back(kRestartMarker);
        EXPECT_EQ(split, expected) << test::wideToUtf8(line);
    }
}

TEST(ServiceRuntimeTest, PriorityIsAFourBytePriorityClassUnderTheServiceName) {
    const std::wstring name = L"VexloPriorityTest" + std::to_wstring(GetCurrentProcessId());
    const wchar_t* keyPath = L"SOFTWARE\\tarnwick\\vexlo\\priority";
    unique_hkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    std::wstring savedName = serviceName;
    serviceName = name;

    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> bytes;  // none: no value
        DWORD expected;
    };
    const Case cases[] = {
        {"below normal", REG_DWORD, {0x00, 0x40, 0x00, 0x00}, BELOW_NORMAL_PRIORITY_CLASS},
        {"high", REG_DWORD, {0x80, 0x00, 0x00, 0x00}, HIGH_PRIORITY_CLASS},
        {"two bytes", REG_BINARY, {0x00, 0x40}, NORMAL_PRIORITY_CLASS},
        {"eight bytes", REG_QWORD, {0x00, 0x40, 0, 0, 0, 0, 0, 0}, NORMAL_PRIORITY_CLASS},
        {"a creation flag, not a class", REG_DWORD, {0x04, 0x00, 0x00, 0x00}, NORMAL_PRIORITY_CLASS},
        {"no value", REG_NONE, {}, NORMAL_PRIORITY_CLASS},
    };
    for (const Case& c : cases) {
        RegDeleteValueW(key.get(), name.c_str());
        if (!c.bytes.empty()) {
            ASSERT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, c.type, c.bytes.data(),
                                     static_cast<DWORD>(c.bytes.size())),
                      ERROR_SUCCESS);
        }
        EXPECT_EQ(readServicePriority(), c.expected) << c.what;
    }
    RegDeleteValueW(key.get(), name.c_str());
    serviceName = savedName;
}

// Without a service control manager every report fails; the record still follows the requests.
TEST(ServiceRuntimeTest, ControlRequestsSetTheRecordAndAStopBeforeTheChildStartsNoChild) {
    resetServiceStatus();
    SERVICE_STATUS s = currentServiceStatus();
    EXPECT_EQ(s.dwServiceType, 0x30u);
    EXPECT_EQ(s.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(s.dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN));
    EXPECT_EQ(s.dwWaitHint, 50000u);
    EXPECT_EQ(s.dwCheckPoint, 0u);

    serviceControlHandler(SERVICE_CONTROL_INTERROGATE);
    EXPECT_EQ(currentServiceStatus().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    // A system shut-down, announced early or late, is a stop whose wait hint covers the stop time and grace.
    for (DWORD control : {DWORD{SERVICE_CONTROL_PRESHUTDOWN}, DWORD{SERVICE_CONTROL_SHUTDOWN}}) {
        resetServiceStatus();
        serviceControlHandler(control);
        s = currentServiceStatus();
        EXPECT_EQ(s.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING)) << control;
        EXPECT_EQ(s.dwCheckPoint, 1u);
        EXPECT_EQ(s.dwWaitHint, 30000u + 5000u + 2000u);
    }
    serviceControlHandler(SERVICE_CONTROL_STOP);
    EXPECT_EQ(currentServiceStatus().dwCheckPoint, 1u);

    // The pending stop is not undone by the service main's running report, and no child is started.
    EXPECT_EQ(runServiceChild({L"arg"}), ChildRun::stoppedBeforeStart);
    s = currentServiceStatus();
    EXPECT_EQ(s.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(s.dwWin32ExitCode, 0u);
    EXPECT_EQ(s.dwServiceSpecificExitCode, 0u);
    resetServiceStatus();
}

}  // namespace
}  // namespace vexlo
