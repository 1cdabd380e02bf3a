// The temporary directory the launcher chooses, seen through where its log file lands and through the
// "${launcher:sys.tempDir}" placeholder in the configured working directory.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "TestSupport.h"

namespace vexlo::test {
namespace {

constexpr wchar_t kChangeLine[] = L"change working directory to ";

std::wstring longForm(const std::wstring& path) {
    wchar_t buffer[6000];
    DWORD n = GetLongPathNameW(path.c_str(), buffer, 6000);
    return n > 0 && n < 6000 ? std::wstring(buffer, n) : std::wstring();
}

std::wstring shortForm(const std::wstring& path) {
    wchar_t buffer[6000];
    DWORD n = GetShortPathNameW(path.c_str(), buffer, 6000);
    return n > 0 && n < 6000 ? std::wstring(buffer, n) : std::wstring();
}

std::wstring environment(const wchar_t* name) {
    wchar_t buffer[6000];
    DWORD n = GetEnvironmentVariableW(name, buffer, 6000);
    return n > 0 && n < 6000 ? std::wstring(buffer, n) : std::wstring();
}

// The newest log in `dir` that the given launcher wrote (other runs may share the directory).
std::wstring logOf(const std::wstring& dir, const std::wstring& exe) {
    std::vector<std::wstring> logs = logFiles(dir);
    for (auto it = logs.rbegin(); it != logs.rend(); ++it) {
        LogContent log = readLog(*it);
        for (const std::wstring& message : log.messages) {
            if (message.rfind(L"command line ", 0) == 0 && message.find(exe) != std::wstring::npos) return *it;
        }
    }
    return {};
}

// The candidate after the temporary-directory variables: the profile's local temporary directory, or the
// home directory when the profile has none (as in a fresh Wine prefix).
std::wstring nextCandidate() {
    const std::wstring profileTemp = environment(L"USERPROFILE") + L"\\AppData\\Local\\Temp";
    DWORD attributes = GetFileAttributesW(profileTemp.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return profileTemp;
    return environment(L"HOMEDRIVE") + environment(L"HOMEPATH");
}

class TempDirectoryE2E : public ::testing::Test {
protected:
    TempDir appDir_{L"tempapp"};
    TempDir root_{L"temproot"};

    std::wstring launcher(const std::wstring& name, bool localAppData = false, bool preferLong = false,
                          bool tempAsWorkingDirectory = false) {
        pack::Block block;
        block.set(101, "vexlo-temp-test");
        if (localAppData) block.set(10015, "1");
        if (preferLong) block.set(10009, "1");
        if (tempAsWorkingDirectory) block.set(146, "${launcher:sys.tempDir}");
        return makeLauncher(appDir_.path(), name, block);
    }

    RunResult run(const std::wstring& exe, const std::wstring& temp) {
        RunOptions options;
        options.env = isolatedEnvironment(temp, true);
        options.args = {L"/help"};  // a quick run that still starts the log
        RunResult result = runProcess(exe, options);
        EXPECT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, 0u);
        return result;
    }

    // Where the log went when TEMP and TMP named an unusable directory.
    void expectLogInNextCandidate(const std::wstring& exe) {
        const std::wstring next = nextCandidate();
        const std::wstring log = logOf(next, exe);
        EXPECT_FALSE(log.empty()) << "no log of " << wideToUtf8(exe) << " in " << wideToUtf8(next);
        if (!log.empty()) DeleteFileW(log.c_str());
    }
};

TEST_F(TempDirectoryE2E, WritableTempVariableIsUsed) {
    const std::wstring exe = launcher(L"plain.exe");
    const std::wstring temp = root_.subdir(L"t1");
    run(exe, temp);
    EXPECT_FALSE(logOf(temp, exe).empty());
}

TEST_F(TempDirectoryE2E, DirectoryEndingInBangIsPassedOver) {
    const std::wstring exe = launcher(L"bang.exe");
    const std::wstring temp = root_.subdir(L"user!");
    run(exe, temp);
    EXPECT_TRUE(logFiles(temp).empty());
    expectLogInNextCandidate(exe);
}

TEST_F(TempDirectoryE2E, BangInsideThePathIsPassedOver) {
    const std::wstring exe = launcher(L"bang2.exe");
    const std::wstring temp = root_.subdir(L"user!\\Temp");
    run(exe, temp);
    EXPECT_TRUE(logFiles(temp).empty());
    expectLogInNextCandidate(exe);
}

TEST_F(TempDirectoryE2E, LocalApplicationDataIsTriedFirstWhenConfigured) {
    const std::wstring exe = launcher(L"localappdata.exe", true);
    const std::wstring temp = root_.subdir(L"t2");
    run(exe, temp);
    EXPECT_TRUE(logFiles(temp).empty());
    wchar_t folder[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder), S_OK);
    const std::wstring chosen = std::wstring(folder) + L"\\quandrel\\t";
    const std::wstring log = logOf(chosen, exe);
    EXPECT_FALSE(log.empty()) << wideToUtf8(chosen);
    if (!log.empty()) DeleteFileW(log.c_str());
}

TEST_F(TempDirectoryE2E, NameOutsideTheCodePageIsPassedOverInBothForms) {
    const std::wstring cyrillic = root_.subdir(L"\x0422\x0435\x043C\x043F");  // Темп
    const std::wstring exeLong = launcher(L"cyrlong.exe");
    run(exeLong, cyrillic);
    EXPECT_TRUE(logFiles(cyrillic).empty());
    expectLogInNextCandidate(exeLong);

    // The short form is expressible, but its long form is not: the first pass still refuses it, and a later
    // candidate is usable before the second pass would come to it.
    const std::wstring shortName = shortForm(cyrillic);
    ASSERT_FALSE(shortName.empty());
    const std::wstring exeShort = launcher(L"cyrshort.exe");
    run(exeShort, shortName);
    EXPECT_TRUE(logFiles(cyrillic).empty());
    expectLogInNextCandidate(exeShort);
}

TEST_F(TempDirectoryE2E, PlaceholderGivesTheEightBitForm) {
    const std::wstring longDir = root_.subdir(L"A Long Temporary Directory");
    const std::wstring shortName = shortForm(longDir);
    ASSERT_NE(shortName, longDir) << "no 8.3 names on this volume";

    // Given in short form, the 8-bit temporary directory stays short ...
    const std::wstring exe = launcher(L"shorttemp.exe", false, false, true);
    run(exe, shortName);
    std::wstring log = logOf(longDir, exe);
    ASSERT_FALSE(log.empty());
    LogContent content = readLog(log);
    EXPECT_TRUE(logHas(content, kChangeLine + shortName + L"\\")) << wideToUtf8(content.text);

    // ... and with id 10009 it is replaced by its long form (the log, which uses the wide form, stays put).
    const std::wstring exeLong = launcher(L"longtemp.exe", false, true, true);
    run(exeLong, shortName);
    log = logOf(longDir, exeLong);
    ASSERT_FALSE(log.empty());
    content = readLog(log);
    EXPECT_TRUE(logHas(content, kChangeLine + longForm(longDir) + L"\\")) << wideToUtf8(content.text);
}

}  // namespace
}  // namespace vexlo::test
