#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "launcher/ProcessSettings.h"
#include "paths/ExecutablePath.h"

namespace vexlo {
namespace {

std::wstring currentDirectory() {
    wchar_t buffer[6000];
    DWORD n = GetCurrentDirectoryW(6000, buffer);
    return std::wstring(buffer, n);
}

std::wstring withoutTrailingBackslash(std::wstring path) {
    if (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

// Each test starts in a directory of its own and gets the test program's directory back afterwards.
class WorkingDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = currentDirectory();
        resetConfigForTests();
        ASSERT_TRUE(SetCurrentDirectoryW(start_.path().c_str()));
    }
    void TearDown() override {
        SetCurrentDirectoryW(saved_.c_str());
        resetConfigForTests();
    }

    test::TempDir start_{L"wdstart"};
    test::TempDir target_{L"wdtarget"};

private:
    std::wstring saved_;
};

TEST_F(WorkingDirectoryTest, EmptySettingKeepsTheInheritedDirectory) {
    applyWorkingDirectory();
    EXPECT_EQ(currentDirectory(), start_.path());
}

TEST_F(WorkingDirectoryTest, AbsolutePathIsMadeCanonical) {
    const std::wstring wanted = target_.subdir(L"Work");
    target_.subdir(L"other");
    setConfigValueForTests(ids::kWorkingDirectory, test::wideToUtf8(target_.path()) + "\\other\\..\\\\Work");
    applyWorkingDirectory();
    EXPECT_EQ(currentDirectory(), wanted);
}

TEST_F(WorkingDirectoryTest, RelativePathIsTakenFromTheExecutableDirectory) {
    // Relative to the program's directory, not to the directory the process started in.
    setConfigValueForTests(ids::kWorkingDirectory, ".");
    applyWorkingDirectory();
    EXPECT_EQ(currentDirectory(), withoutTrailingBackslash(exeDirLong()));
}

TEST_F(WorkingDirectoryTest, PlaceholdersAreExpanded) {
    setConfigValueForTests(ids::kWorkingDirectory, "%VEXLO_EXEDIR%");
    applyWorkingDirectory();
    EXPECT_EQ(currentDirectory(), withoutTrailingBackslash(exeDirAnsiWide()));
}

TEST_F(WorkingDirectoryTest, MissingDirectoryLeavesTheInheritedOne) {
    setConfigValueForTests(ids::kWorkingDirectory, test::wideToUtf8(target_.path()) + "\\absent");
    applyWorkingDirectory();
    EXPECT_EQ(currentDirectory(), start_.path());
}

}  // namespace
}  // namespace vexlo
