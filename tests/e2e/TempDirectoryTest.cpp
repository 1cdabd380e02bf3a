// The temporary directory the launcher chooses, seen through where its log file lands and through the
// "${launcher:sys.tempDir}" placeholder in the configured working directory.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "TestText.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

constexpr wchar_t kChangeLine[] = L"change working directory to ";

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
        block.set(ids::kServiceName, "vexlo-temp-test");
        if (localAppData) block.set(ids::kTempInLocalAppData, "1");
        if (preferLong) block.set(ids::kPreferLongTempPath, "1");
        if (tempAsWorkingDirectory) block.set(ids::kWorkingDirectory, "${launcher:sys.tempDir}");
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
    EXPECT_TRUE(logHas(content, kChangeLine + longPathOf(longDir) + L"\\")) << wideToUtf8(content.text);
}

// The launcher temporary directory removed on the way out through exitLauncher, in a program built on the
// launcher's code (extraction, which creates the directory in the launcher itself, is its own subsystem).
class LauncherTempRemoval : public ::testing::Test {
protected:
    TempDir temp_{L"removaltemp"};

    std::wstring run(const wchar_t* mode, RunResult& result) {
        RunOptions options;
        options.env = isolatedEnvironment(temp_.path(), false);
        options.args = {mode};
        result = runProcess(binDir() + L"\\standin_pathprobe.exe", options);
        const std::string key = "launcherTempDir=";
        size_t at = result.out.find(key);
        if (at == std::string::npos) return {};
        size_t end = result.out.find_first_of("\r\n", at);
        return utf8ToWide(result.out.substr(at + key.size(), end - at - key.size()));
    }
};

TEST_F(LauncherTempRemoval, DepthOneRemovesAllButTheSecondLevel) {
    RunResult result;
    const std::wstring dir = run(L"exit-deep", result);
    EXPECT_EQ(result.exitCode, 1u);
    ASSERT_FALSE(dir.empty()) << result.out;
    // Named after the unique temporary file, which stays as long as the directory does.
    const std::wstring file = dir.substr(0, dir.rfind(L"_dir"));
    EXPECT_EQ(file.rfind(temp_.path() + L"\\vxl", 0), 0u) << wideToUtf8(dir);
    EXPECT_TRUE(fileExists(file));

    EXPECT_FALSE(fileExists(dir + L"\\top.jar"));
    EXPECT_FALSE(fileExists(dir + L"\\lib\\one.dll"));
    EXPECT_EQ(GetFileAttributesW((dir + L"\\lib\\empty").c_str()), INVALID_FILE_ATTRIBUTES);
    // The file two levels down stays, and with it its directory, their parent and the directory itself.
    EXPECT_TRUE(fileExists(dir + L"\\lib\\deep\\two.txt"));
    EXPECT_NE(GetFileAttributesW(dir.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LauncherTempRemoval, ShallowContentGoesWithTheDirectory) {
    RunResult result;
    const std::wstring dir = run(L"exit-shallow", result);
    EXPECT_EQ(result.exitCode, 1u);
    ASSERT_FALSE(dir.empty()) << result.out;
    EXPECT_EQ(GetFileAttributesW(dir.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(fileExists(dir.substr(0, dir.rfind(L"_dir"))));
}

TEST(LauncherTempCreation, TenFailuresEndTheLauncherWithMessage1009) {
    TempDir copyDir(L"probecopy");
    TempDir temp(L"vanishing");
    pack::Block block;
    block.message(ids::kMsgLaunchFailed, u"Launch failed ({0})");
    const std::wstring exe = copyDir.file(L"probe.exe");
    std::string error;
    ASSERT_TRUE(pack::writeLauncher(std::filesystem::path(binDir() + L"\\standin_pathprobe.exe"),
                                    std::filesystem::path(exe), block, &error))
        << error;
    RunOptions options;
    options.env = isolatedEnvironment(temp.path(), false);
    options.args = {L"temp-vanishes"};
    RunResult result = runProcess(exe, options);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_NE(result.out.find("temp="), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("launcherTempDir="), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "Launch failed (7)\n");
}

}  // namespace
}  // namespace vexlo::test
