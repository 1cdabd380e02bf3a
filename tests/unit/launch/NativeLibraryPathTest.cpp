#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "config/ConfigBlock.h"
#include "launch/NativeLibraryPath.h"
#include "paths/ExecutablePath.h"

namespace vexlo {
namespace {

std::string processPath() { return readPathVariable(nullptr); }

std::string runtimeLibraryPath() {
    const char* value = std::getenv("PATH");
    return value ? value : "<unset>";
}

class NativeLibraryPathTest : public ::testing::Test {
protected:
    std::string savedPath_;
    void SetUp() override {
        resetConfigForTests();
        savedPath_ = processPath();
        setPathEverywhere("C:\\windows\\system32;C:\\windows", nullptr);
    }
    void TearDown() override {
        setPathEverywhere(savedPath_, nullptr);
        resetConfigForTests();
    }
};

TEST_F(NativeLibraryPathTest, ConfiguredDirectoriesGoInFrontResolvedAgainstTheExecutable) {
    setConfigValueForTests(10004, "lib;bin\\native");
    prepareNativeLibraryPath();
    const std::string x = exeDirAnsi();  // ends with a backslash
    EXPECT_EQ(processPath(), x + "lib;" + x + "bin\\native;C:\\windows\\system32;C:\\windows");
    EXPECT_EQ(runtimeLibraryPath(), processPath());
}

TEST_F(NativeLibraryPathTest, EmptyListSetsPathToItself) {
    prepareNativeLibraryPath();
    EXPECT_EQ(processPath(), "C:\\windows\\system32;C:\\windows");
    EXPECT_EQ(runtimeLibraryPath(), processPath());
}

TEST_F(NativeLibraryPathTest, AbsoluteEntriesAndEmptyPiecesAndNoPath) {
    setConfigValueForTests(10004, ";C:\\native;;");
    SetEnvironmentVariableA("PATH", nullptr);
    prepareNativeLibraryPath();
    EXPECT_EQ(processPath(), "C:\\native;");
    EXPECT_EQ(runtimeLibraryPath(), "C:\\native;");
}

TEST_F(NativeLibraryPathTest, DllDirectoriesAreRegisteredOnlyWhenConfigured) {
    const std::string directory = exeDirAnsi();
    EXPECT_EQ(addDllDirectory(directory), nullptr);
    setConfigValueForTests(154, "1");
    DllDirectoryCookie cookie = addDllDirectory(directory);
    EXPECT_NE(cookie, nullptr);
    removeDllDirectory(cookie);
    removeDllDirectory(nullptr);  // nothing registered: nothing to take back
}

}  // namespace
}  // namespace vexlo
