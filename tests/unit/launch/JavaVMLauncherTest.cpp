#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ConfigBlock.h"
#include "launch/JavaVMLauncher.h"
#include "process/LauncherState.h"
#include "paths/ExecutablePath.h"
#include "config/ConfigIds.h"

namespace vexlo {
namespace {

TEST(ParseMemorySize, SizesAndNonSizes) {
    const struct {
        const char* text;
        long long expected;
    } cases[] = {
        {"1000", 1000},
        {"0", 0},
        {"512k", 524288},
        {"512K", 524288},
        {"2m", 2097152},
        {"4M", 4194304},
        {"1g", 1073741824LL},
        {"4G", 4294967296LL},
        {"1t", 1099511627776LL},
        {"2T", 2199023255552LL},
        {"", -1},
        {"k", -1},
        {"+5", -1},
        {"-5", -1},
        {" 5", -1},
        {"5 ", -1},
        {"5kb", -1},
        {"5x", -1},
        {"9223372036854775807", 9223372036854775807LL},
        {"9223372036854775808", -1},  // one past the largest value
        {"8388608t", -1},             // 2^63 bytes
    };
    for (const auto& c : cases) EXPECT_EQ(detail::parseMemorySize(c.text), c.expected) << "\"" << c.text << "\"";
}

unsigned stackFor(std::vector<std::string> options) {
    std::vector<JavaVMOption> vmOptions;
    for (std::string& option : options) vmOptions.push_back(JavaVMOption{option.data(), nullptr});
    JavaVMInitArgs args{JNI_VERSION_1_2, static_cast<jint>(vmOptions.size()), vmOptions.data(), JNI_TRUE};
    return detail::launchStackSize(args);
}

TEST(LaunchStackSize, LastPositiveXssWinsWithItsLow32BitsAndTheFloor) {
    const struct {
        std::vector<std::string> options;
        unsigned expected;
    } cases[] = {
        {{}, 0u},
        {{"-Xmx1g"}, 0u},
        {{"-Xss512k"}, 524288u},
        {{"-Xss1000"}, 65536u},
        {{"-Xss2m", "-Xmx1g", "-Xss4m"}, 4194304u},
        {{"-Xss4g"}, 0u},                   // low 32 bits are zero: the default
        {{"-Xss2m", "-Xss4g"}, 0u},         // the last one wins even then
        {{"-Xss4294967297"}, 65536u},       // low 32 bits are 1
        {{"-Xss1m", "-Xss+2m"}, 1048576u},  // not sizes: ignored
        {{"-Xss1m", "-Xss 2m"}, 1048576u},
        {{"-Xss1m", "-Xss2mb"}, 1048576u},
        {{"-Xss1m", "-Xss0"}, 1048576u},
        {{"-xss2m", "-XSS2m"}, 0u},  // the prefix is case-sensitive
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const std::string& o : c.options) shown += o + " ";
        EXPECT_EQ(stackFor(c.options), c.expected) << shown;
    }
}

class MainArgumentsTest : public ::testing::Test {
protected:
    void SetUp() override { resetConfigForTests(); }
    void TearDown() override {
        resetConfigForTests();
        launcherKind = 0;
    }
};

TEST_F(MainArgumentsTest, RuntimeArgumentsThenProgramPathConfiguredAndRemainingArguments) {
    setConfigValueForTests(ids::kApplicationArguments, "x \"y z\" %VEXLO_EXEDIR%cfg");
    setConfigValueForTests(ids::kJOptionsAreVmOptions, "1");
    const std::vector<std::wstring> arguments = {
        L"C:\\app\\app.exe", L"-J-Xmx1g", L"a", L"-Dsun.locale.formatasdefault=true", L"b", L"Grüße", L"日本"};
    const std::vector<std::wstring> expected = {L"false", L"",      L"",
                                                L"",      L"false", L"C:\\app\\app.exe",
                                                L"x",     L"y z",   exeDirLong() + L"cfg",
                                                L"a",     L"b",     L"Grüße",
                                                L"日本"};
    EXPECT_EQ(detail::mainArguments(arguments), expected);

    // Without id 125 the -J options belong to the program; the locale option never does.
    setConfigValueForTests(ids::kJOptionsAreVmOptions, "0");
    setConfigValueForTests(ids::kApplicationArguments, "");
    const std::vector<std::wstring> kept = {L"false",    L"",  L"",  L"",      L"false", L"C:\\app\\app.exe",
                                            L"-J-Xmx1g", L"a", L"b", L"Grüße", L"日本"};
    EXPECT_EQ(detail::mainArguments(arguments), kept);
}

TEST_F(MainArgumentsTest, EmptyArgumentListGivesOnlyTheRuntimeArguments) {
    EXPECT_EQ(detail::mainArguments({}), (std::vector<std::wstring>{L"false", L"", L"", L"", L"false"}));
}

TEST_F(MainArgumentsTest, RuntimeArgumentsFromTheConfiguration) {
    setConfigValueForTests(ids::kExecutableType, "1");
    setConfigValueForTests(ids::kModuleMode, "1");
    setConfigValueForTests(ids::kMainClass, "app.module/com.example.Main");
    setConfigValueForTests(ids::kUseRuntimeArgument2, "1");
    setConfigValueForTests(ids::kRuntimeArgument2Path, "$APP_HOME\\..\\x");
    setConfigValueForTests(ids::kUseRuntimeArgument3, "1");
    setConfigValueForTests(ids::kRuntimeArgument3Path, "data\\..\\conf");
    setConfigValueForTests(ids::kRuntimeArgument4, "1");
    std::vector<std::wstring> strings = detail::mainArguments({L"prog"});
    ASSERT_EQ(strings.size(), 6u);
    EXPECT_EQ(strings[0], L"true");
    EXPECT_EQ(strings[1], L"/app.module/com.example.Main");
    EXPECT_EQ(strings[2], L"$APP_HOME\\..\\x");  // kept as it is
    EXPECT_EQ(strings[3], exeDirLong() + L"conf");
    EXPECT_EQ(strings[4], L"true");

    // The path ids are read only when their switches are set; other executable types are no GUI.
    setConfigValueForTests(ids::kExecutableType, "5");
    setConfigValueForTests(ids::kModuleMode, "0");
    setConfigValueForTests(ids::kUseRuntimeArgument2, "0");
    setConfigValueForTests(ids::kUseRuntimeArgument3, "0");
    setConfigValueForTests(ids::kRuntimeArgument4, "0");
    strings = detail::mainArguments({L"prog"});
    EXPECT_EQ(strings,
              (std::vector<std::wstring>{L"false", L"app.module/com.example.Main", L"", L"", L"false", L"prog"}));
}

TEST_F(MainArgumentsTest, RuntimeLauncherClassFollowsTheLauncherKind) {
    launcherKind = 'i';
    EXPECT_EQ(detail::runtimeLauncherClass(), "com/quandrel/runtime/launcher/WinLauncher");
    launcherKind = 'e';
    EXPECT_EQ(detail::runtimeLauncherClass(), "com/vexlo/runtime/WinLauncher");
    launcherKind = 0;
    EXPECT_EQ(detail::runtimeLauncherClass(), "com/vexlo/runtime/WinLauncher");
}

}  // namespace
}  // namespace vexlo
