#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "common/Environment.h"
#include "config/ConfigBlock.h"
#include "launch/NativeLibraryPath.h"
#include "paths/ExecutablePath.h"
#include "config/ConfigIds.h"

namespace vexlo {
namespace {

std::string processPath() { return environmentValue("PATH").value_or(std::string()); }

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
    setConfigValueForTests(ids::kNativeLibraryDirectories, "lib;bin\\native");
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
    setConfigValueForTests(ids::kNativeLibraryDirectories, ";C:\\native;;");
    SetEnvironmentVariableA("PATH", nullptr);
    prepareNativeLibraryPath();
    EXPECT_EQ(processPath(), "C:\\native;");
    EXPECT_EQ(runtimeLibraryPath(), "C:\\native;");
}

}  // namespace
}  // namespace vexlo
