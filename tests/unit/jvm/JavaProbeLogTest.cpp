#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "TestSupport.h"
#include "jvm/JavaProbe.h"

namespace vexlo {
namespace {

constexpr char kChildJavaVariable[] = "VEXLO_TEST_PROBE_JAVA";

std::string environment(const char* name) {
    char value[6000];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Runs in a child of the test below, with the log switched on; skipped in an ordinary run.
TEST(ProbeLogChild, ProbesTheGivenRuntime) {
    std::string given = environment(kChildJavaVariable);
    if (given.empty()) GTEST_SKIP() << "only run by JavaProbeLog";
    Runtime first{given, {}};
    EXPECT_TRUE(checkJavaExe(first, {{1, 8}, {}}, false));
    Runtime again{given, {}};
    EXPECT_TRUE(checkJavaExe(again, {{1, 8}, {}}, true));
    detail::readPeMachine(first.javaExe + ".absent");
    addNonWorkingJava(first.javaExe);
    again = {given, {}};
    EXPECT_FALSE(checkJavaExe(again, {}, false));
}

std::wstring widen(const std::string& text) { return test::utf8ToWide(text); }

TEST(JavaProbeLog, ProbeLinesCarryTheirValues) {
    test::TempDir home(L"jlog");
    std::wstring bin = home.subdir(L"bin");
    ASSERT_TRUE(CopyFileW((test::binDir() + L"\\standin_java.exe").c_str(), (bin + L"\\java.exe").c_str(), FALSE));
    ASSERT_TRUE(test::writeFileBytes(bin + L"\\version.txt", "openjdk version \"17.0.2\" 2022-01-18\r\n"));
    std::string given = test::wideToUtf8(bin) + "\\JAVA.exe";
    std::string canonical = given;
    std::transform(canonical.begin(), canonical.end(), canonical.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });

    test::TempDir logs(L"jlogtmp");
    test::RunOptions options;
    options.args = {L"--gtest_filter=ProbeLogChild.ProbesTheGivenRuntime"};
    options.env = test::isolatedEnvironment(logs.path(), true);
    options.env[widen(kChildJavaVariable)] = widen(given);
    options.env[L"_JAVA_OPTIONS"] = L"-Xmx64m";
    options.env[L"JAVA_TOOL_OPTIONS"] = std::nullopt;
    options.env[L"JDK_JAVA_OPTIONS"] = std::nullopt;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    test::RunResult run = test::runProcess(self, options);
    RegDeleteKeyA(HKEY_CURRENT_USER, detail::javaCacheKeyName(canonical).c_str());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u) << run.out;

    test::LogContent log = test::readLog(test::newestLog(logs.path()));
    const std::wstring g = widen(given);
    const std::wstring c = widen(canonical);
    for (const std::wstring& line : {
             L"checkJavaExe (" + g + L", [out], 2, 0, 0)",
             std::wstring(L"file exists"),
             std::wstring(L"_JAVA_OPTIONS is -Xmx64m"),
             std::wstring(L"Exit Code 0"),
             std::wstring(L"Java version2: 17.0.2"),
             std::wstring(L"got version from execution 17.0.2 34404"),
             std::wstring(L"checkJavaExe returning 1"),
             L"checkJavaExe (" + g + L", [out], 2, 0, 1)",
             L"checkJavaExe (" + g + L", [out], 0, 0, 0)",
             std::wstring(L"got version from registry 17.0.2 34404"),
             L"add non-working java " + c,
         }) {
        EXPECT_TRUE(test::logHas(log, line)) << test::wideToUtf8(line) << "\n" << test::wideToUtf8(log.text);
    }
    EXPECT_TRUE(test::logHas(log, L"could not open " + c + L".absent 2 ", true)) << test::wideToUtf8(log.text);
    // The probe of the listed runtime ends without its closing line.
    EXPECT_EQ(std::count(log.messages.begin(), log.messages.end(), L"checkJavaExe returning 1"), 2);
    EXPECT_EQ(std::count_if(log.messages.begin(), log.messages.end(),
                            [](const std::wstring& m) { return m.rfind(L"checkJavaExe returning", 0) == 0; }),
              2);
}

}  // namespace
}  // namespace vexlo
