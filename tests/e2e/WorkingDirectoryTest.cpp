// The configured working directory, seen through the launcher's log.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "TestText.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

constexpr wchar_t kChangeLine[] = L"change working directory to ";

struct WorkingDirectoryRun {
    RunResult result;
    LogContent log;
};

// Starts the launcher with the usage word (the process settings come before any command) with the log
// switched on and a private temporary directory, and reads its log.
WorkingDirectoryRun runLauncher(const std::wstring& exe, const TempDir& temp) {
    RunOptions options;
    options.args = {L"/?"};
    options.env = isolatedEnvironment(temp.path(), true);
    WorkingDirectoryRun run;
    run.result = runProcess(exe, options);
    const std::wstring logPath = newestLog(temp.path());
    if (logPath.empty()) {
        ADD_FAILURE() << "no log in " << wideToUtf8(temp.path());
        return run;
    }
    run.log = readLog(logPath);
    return run;
}

std::wstring changedDirectory(const LogContent& log) {
    for (const std::wstring& message : log.messages) {
        if (message.rfind(kChangeLine, 0) == 0) return message.substr(wcslen(kChangeLine));
    }
    return {};
}

bool isAscii(const std::wstring& text) {
    for (wchar_t c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

// The launcher sits in a directory whose name the ANSI code page cannot express.
class WorkingDirectoryE2E : public ::testing::Test {
protected:
    TempDir appDir_{L"\x65e5\x672c-\x0432\x0435\x043a"};
    TempDir temp_{L"wdtemp"};

    std::wstring launcherWith(const std::string& workingDirectory) {
        pack::Block block;
        block.set(ids::kServiceName, "vexlo-wd-test");
        if (!workingDirectory.empty()) block.set(ids::kWorkingDirectory, workingDirectory);
        return makeLauncher(appDir_.path(), L"app.exe", block);
    }
};

TEST_F(WorkingDirectoryE2E, ExecutableDirectoryPlaceholderUsesThe8BitCompatibleForm) {
    const std::wstring work = appDir_.subdir(L"work");
    const std::wstring exe = launcherWith("%VEXLO_EXEDIR%work");
    ASSERT_FALSE(exe.empty());
    WorkingDirectoryRun run = runLauncher(exe, temp_);
    ASSERT_TRUE(run.result.started);
    EXPECT_EQ(run.result.exitCode, 0u);

    const std::wstring changed = changedDirectory(run.log);
    ASSERT_FALSE(changed.empty()) << wideToUtf8(run.log.text);
    // The short form stands in for the name the code page cannot express; it names the same directory.
    EXPECT_TRUE(isAscii(changed)) << wideToUtf8(changed);
    EXPECT_EQ(changed.substr(changed.size() - 5), L"\\work");
    EXPECT_TRUE(sameIgnoringCase(longPathOf(changed), longPathOf(work)))
        << wideToUtf8(changed) << " vs " << wideToUtf8(work);

    // One replacement, logged with the directory it inserted.
    const std::wstring exeDir = changed.substr(0, changed.size() - 4);
    EXPECT_TRUE(logHas(run.log, L"expanding2 %VEXLO_EXEDIR% to " + exeDir + L".")) << wideToUtf8(run.log.text);
    EXPECT_FALSE(logHas(run.log, L"working directory unchanged"));
}

TEST_F(WorkingDirectoryE2E, RelativePathIsResolvedAgainstTheExecutableDirectory) {
    appDir_.subdir(L"work");
    const std::wstring target = appDir_.subdir(L"work2");
    const std::wstring exe = launcherWith("work\\..\\work2");
    ASSERT_FALSE(exe.empty());
    WorkingDirectoryRun run = runLauncher(exe, temp_);
    ASSERT_TRUE(run.result.started);

    const std::wstring changed = changedDirectory(run.log);
    ASSERT_FALSE(changed.empty()) << wideToUtf8(run.log.text);
    EXPECT_EQ(changed.find(L".."), std::wstring::npos) << wideToUtf8(changed);
    EXPECT_TRUE(isAscii(changed)) << wideToUtf8(changed);
    EXPECT_TRUE(sameIgnoringCase(longPathOf(changed), longPathOf(target)))
        << wideToUtf8(changed) << " vs " << wideToUtf8(target);
    EXPECT_FALSE(logHas(run.log, L"expanding2 ", true));
}

TEST_F(WorkingDirectoryE2E, EmptySettingLeavesTheDirectoryUnchanged) {
    const std::wstring exe = launcherWith("");
    ASSERT_FALSE(exe.empty());
    WorkingDirectoryRun run = runLauncher(exe, temp_);
    ASSERT_TRUE(run.result.started);
    EXPECT_EQ(run.result.exitCode, 0u);
    EXPECT_TRUE(logHas(run.log, L"working directory unchanged")) << wideToUtf8(run.log.text);
    EXPECT_FALSE(logHas(run.log, kChangeLine, true));
}

}  // namespace
}  // namespace vexlo::test
