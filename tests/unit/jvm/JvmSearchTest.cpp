#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "config/ConfigBlock.h"
#include "jvm/JavaProbe.h"
#include "jvm/JvmSearch.h"
#include "config/ConfigIds.h"

namespace vexlo {
namespace {

using test::TempDir;

class JvmSearchTest : public ::testing::Test {
protected:
    TempDir dir_{L"search"};

    void SetUp() override { resetConfigForTests(); }
    void TearDown() override { resetConfigForTests(); }

    std::string home() const { return test::wideToUtf8(dir_.path()); }
    void touch(const std::wstring& relative) {
        std::wstring path = dir_.path() + L"\\" + relative;
        dir_.subdir(relative.substr(0, relative.find_last_of(L'\\')));
        ASSERT_TRUE(test::writeFileBytes(path, "x"));
    }
    void writeFile(const std::wstring& name, const std::string& bytes) {
        dir_.subdir(L".quandrel");
        ASSERT_TRUE(test::writeFileBytes(dir_.path() + L"\\.quandrel\\" + name, bytes));
    }
};

TEST_F(JvmSearchTest, LocateJavaExePrefersTheJreFolder) {
    std::string javaExe;
    EXPECT_TRUE(locateJavaExe(javaExe, home()));  // nothing there: the probe finds out
    EXPECT_EQ(javaExe, home() + "\\bin\\java.exe");

    touch(L"jre\\bin\\java.exe");
    EXPECT_TRUE(locateJavaExe(javaExe, home()));
    EXPECT_EQ(javaExe, home() + "\\jre\\bin\\java.exe");
}

TEST_F(JvmSearchTest, RequiredJdkNeedsToolsJarAndAlwaysUsesTheJreFolder) {
    setConfigValueForTests(ids::kRequireJdk, "1");
    touch(L"bin\\java.exe");
    std::string javaExe;
    EXPECT_FALSE(locateJavaExe(javaExe, home()));
    EXPECT_EQ(javaExe, home() + "\\jre\\bin\\java.exe");

    touch(L"lib\\tools.jar");
    EXPECT_TRUE(locateJavaExe(javaExe, home()));
    EXPECT_EQ(javaExe, home() + "\\jre\\bin\\java.exe");
}

TEST_F(JvmSearchTest, AcceptAnyVersionPassesAHomeWithoutRuntime) {
    const VersionBounds none;
    EXPECT_FALSE(detail::checkJavaHome(home() + "\\missing", none, false, false));
    std::optional<Runtime> accepted = detail::checkJavaHome(home() + "\\missing", none, false, true);
    ASSERT_TRUE(accepted);
    // The home is probed in its canonical, lower-case form.
    std::string expected = home() + "\\missing\\bin\\java.exe";
    for (char& c : expected)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    EXPECT_EQ(accepted->javaExe, expected);

    setConfigValueForTests(ids::kRequireJdk, "1");
    EXPECT_FALSE(detail::checkJavaHome(home(), none, false, false));
    EXPECT_TRUE(detail::checkJavaHome(home(), none, false, true));
}

TEST_F(JvmSearchTest, HomeVariableThatIsUnsetOrTooLongFindsNothing) {
    const VersionBounds none;
    SetEnvironmentVariableA("VEXLO_TEST_HOME", nullptr);
    EXPECT_FALSE(detail::checkJavaHomeVariable("VEXLO_TEST_HOME", none));
    SetEnvironmentVariableA("VEXLO_TEST_HOME", std::string(6000, 'h').c_str());
    EXPECT_EQ(detail::checkJavaHomeVariable("VEXLO_TEST_HOME", none), std::nullopt);
    SetEnvironmentVariableA("VEXLO_TEST_HOME", nullptr);
}

TEST_F(JvmSearchTest, LocationFileGivesItsFirstLineWithoutLineEnd) {
    setConfigValueForTests(ids::kApplicationDirectory, home());
    std::string line = "unchanged";
    EXPECT_FALSE(detail::readLocationFile(kPreferredLocationFile, line));
    EXPECT_EQ(line, "unchanged");

    writeFile(L"pref_jre.cfg", "C:\\java\\jre\r\nD:\\other\r\n");
    EXPECT_TRUE(detail::readLocationFile(kPreferredLocationFile, line));
    EXPECT_EQ(line, "C:\\java\\jre");

    writeFile(L"inst_jre.cfg", "\r\nC:\\second\r\n");
    EXPECT_TRUE(detail::readLocationFile(kInstallerLocationFile, line));  // an empty first line counts
    EXPECT_EQ(line, "");

    writeFile(L"inst_jre.cfg", "");
    EXPECT_FALSE(detail::readLocationFile(kInstallerLocationFile, line));

    writeFile(L"pref_jre.cfg", std::string(7000, 'x'));
    EXPECT_TRUE(detail::readLocationFile(kPreferredLocationFile, line));
    EXPECT_EQ(line.size(), 5999u);
}

TEST_F(JvmSearchTest, ApplicationDirectoryMayEndWithABackslash) {
    writeFile(L"pref_jre.cfg", "home-line");
    std::string line;
    setConfigValueForTests(ids::kApplicationDirectory, home() + "\\");
    EXPECT_TRUE(detail::readLocationFile(kPreferredLocationFile, line));
    EXPECT_EQ(line, "home-line");
}

TEST_F(JvmSearchTest, NothingConfiguredFindsNothing) {
    SetEnvironmentVariableA("VEXLO_JAVA_HOME", nullptr);
    SetEnvironmentVariableA("QUANDREL_JAVA_HOME", nullptr);
    setConfigValueForTests(ids::kApplicationDirectory, home());
    JvmLocation location;
    location.kind = LocationKind::registry;
    location.text = "stale";
    EXPECT_EQ(detail::findJvm(location), nullptr);
    EXPECT_EQ(location.kind, LocationKind::none);
    EXPECT_EQ(location.text, "");
}

}  // namespace
}  // namespace vexlo
