#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "common/Handles.h"
#include "paths/ExecutablePath.h"
#include "paths/TempDirectories.h"
#include "paths/TempDirectoryOwners.h"

namespace vexlo {
namespace {

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void touch(const std::string& path) {
    unique_file f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(f) << path;
}

// A directory as a run of the launcher leaves it: name file, owner marker, extracted files.
std::string leftByRun(const std::string& temp, const char* name, const std::wstring& owner) {
    const std::string dir = temp + "\\" + name;
    touch(dir.substr(0, dir.rfind("_dir")));
    EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_TRUE(CreateDirectoryA((dir + "\\lib").c_str(), nullptr));
    touch(dir + "\\a.jar");
    touch(dir + "\\lib\\b.dll");
    if (!owner.empty()) {
        EXPECT_TRUE(markLauncherTempDirectory(dir, owner));
        releaseLauncherTempDirectoryMarker(false);
    }
    return dir;
}

TEST(AbandonedLauncherTempDirectories, OnlyEndedRunsOfThisExecutableGoAndHeldFilesAreRetried) {
    test::TempDir root(L"owners");
    const std::string temp = wideToAnsi(root.path());
    const std::wstring self = executablePathLong();
    std::wstring upper = self;
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));

    const std::string ended = leftByRun(temp, "vxl1.tmp_dir100", upper);
    const std::string other = leftByRun(temp, "vxl2.tmp_dir100", L"C:\\other\\app.exe");
    const std::string unmarked = leftByRun(temp, "vxl3.tmp_dir100", L"");
    const std::string notOurName = leftByRun(temp, "abc.tmp_dir100", self);
    const std::string busy = leftByRun(temp, "vxl5.tmp_dir100", self);
    unique_file held(CreateFileA((busy + "\\lib\\b.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 0, nullptr));
    ASSERT_TRUE(held);
    // A running owner holds its marker; this process stands in for it.
    const std::string running = leftByRun(temp, "vxl4.tmp_dir100", L"");
    ASSERT_TRUE(markLauncherTempDirectory(running, self));

    EXPECT_EQ(removeAbandonedLauncherTempDirectories(temp, self), 1);
    EXPECT_FALSE(exists(ended));
    EXPECT_FALSE(exists(temp + "\\vxl1.tmp"));
    for (const std::string& kept : {other, unmarked, notOurName, running}) {
        EXPECT_TRUE(exists(kept + "\\a.jar")) << kept;
        EXPECT_TRUE(exists(detail::launcherTempNameFile(kept).empty() ? kept : detail::launcherTempNameFile(kept)))
            << kept;
    }
    // Everything but the file in use went; the marker stays so that the next run tries again.
    EXPECT_FALSE(exists(busy + "\\a.jar"));
    EXPECT_TRUE(exists(busy + "\\" + kOwnerMarkerName));

    held.reset();
    EXPECT_EQ(removeAbandonedLauncherTempDirectories(temp, self), 1);
    EXPECT_FALSE(exists(busy));
    EXPECT_FALSE(exists(temp + "\\vxl5.tmp"));
    EXPECT_TRUE(exists(running));
    releaseLauncherTempDirectoryMarker(false);
    EXPECT_EQ(removeAbandonedLauncherTempDirectories(temp, self), 1);
    EXPECT_FALSE(exists(running));
}

TEST(LauncherTempNameFile, OnlyTheTmpFileBeforeTheLastDirSuffix) {
    EXPECT_EQ(detail::launcherTempNameFile("C:\\t\\vxlA1.tmp_dir1700000000"), "C:\\t\\vxlA1.tmp");
    EXPECT_EQ(detail::launcherTempNameFile("C:\\t_dir\\vxl12.TMP_dir5"), "C:\\t_dir\\vxl12.TMP");
    EXPECT_EQ(detail::launcherTempNameFile("C:\\t\\vxl1234_dir5"), "");
}

}  // namespace
}  // namespace vexlo
