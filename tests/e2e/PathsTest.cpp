// The executable's path forms when it sits in a directory whose name the ANSI code page cannot express.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>

#include "TestSupport.h"
#include "TestText.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

std::map<std::string, std::string> parseLines(const std::string& out) {
    std::map<std::string, std::string> values;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        pos = end + 1;
    }
    return values;
}

// The 8-bit text as Windows reads it in the Western code page of the test prefix.
std::wstring fromAnsi(const std::string& text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

bool isAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

struct ProbeRun {
    RunResult result;
    std::map<std::string, std::string> values;
    LogContent log;
};

ProbeRun runProbe(const std::wstring& exe, const TempDir& temp) {
    RunOptions options;
    options.env = isolatedEnvironment(temp.path(), true);
    ProbeRun run;
    run.result = runProcess(exe, options);
    run.values = parseLines(run.result.out);
    std::wstring logPath = newestLog(temp.path());
    if (!logPath.empty()) run.log = readLog(logPath);
    return run;
}

class NonAnsiDirectory : public ::testing::TestWithParam<const wchar_t*> {
protected:
    TempDir appDir_{GetParam()};
    TempDir temp_{L"pathtemp"};
};

TEST_P(NonAnsiDirectory, EightBitPathIsAnExpressibleNameOfTheSameFile) {
    const std::wstring exe = appDir_.file(L"Probe Program.exe");
    ASSERT_TRUE(CopyFileW((binDir() + L"\\standin_pathprobe.exe").c_str(), exe.c_str(), FALSE));
    ProbeRun run = runProbe(exe, temp_);
    ASSERT_TRUE(run.result.started);
    ASSERT_EQ(run.result.exitCode, 0u) << run.result.err;

    const std::string ansi = run.values["ansi"];
    const std::wstring wide = utf8ToWide(run.values["long"]);
    // The wide form keeps the real characters.
    EXPECT_TRUE(sameIgnoringCase(wide, longPathOf(exe))) << run.values["long"];
    EXPECT_NE(wide.find(GetParam()), std::wstring::npos);

    // The 8-bit form ends in ".exe", has no stand-in characters and names the same file.
    ASSERT_GE(ansi.size(), 5u);
    EXPECT_EQ(CompareStringOrdinal(utf8ToWide(ansi.substr(ansi.size() - 4)).c_str(), 4, L".exe", 4, TRUE), CSTR_EQUAL)
        << ansi;
    EXPECT_EQ(ansi.find('?'), std::string::npos) << ansi;
    EXPECT_TRUE(isAscii(ansi)) << ansi;
    EXPECT_EQ(run.values["ansiExists"], "1");
    EXPECT_TRUE(sameIgnoringCase(longPathOf(fromAnsi(ansi)), longPathOf(exe))) << ansi;

    // Which fallback answered: this Wine gives 8.3 names, so the file system's short name serves and the
    // command interpreter is never asked.
    wchar_t shortName[6000];
    DWORD n = GetShortPathNameW(exe.c_str(), shortName, 6000);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(fromAnsi(ansi), std::wstring(shortName, n));
    EXPECT_FALSE(logHas(run.log, L"executing ", true)) << wideToUtf8(run.log.text);

    // Directories: the 8-bit one is a prefix of the 8-bit path, its widened twin matches, the long one holds
    // the real name.
    const std::string dirAnsi = run.values["dirAnsi"];
    ASSERT_FALSE(dirAnsi.empty());
    EXPECT_EQ(dirAnsi.back(), '\\');
    EXPECT_EQ(ansi.rfind(dirAnsi, 0), 0u);
    EXPECT_EQ(utf8ToWide(run.values["dirAnsiWide"]), fromAnsi(dirAnsi));
    EXPECT_EQ(utf8ToWide(run.values["dirLong"]) + L"Probe Program.exe", wide);
    EXPECT_EQ(run.values["resolved"], dirAnsi + "lib\\a.jar");
    std::string lowerAnsi = ansi;
    for (char& c : lowerAnsi) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    EXPECT_EQ(run.values["canonical"], lowerAnsi);
}

TEST_P(NonAnsiDirectory, LauncherLogHeaderShowsTheLongUnicodePath) {
    pack::Block block;
    block.set(ids::kServiceName, "vexlo-paths-test");
    const std::wstring exe = makeLauncher(appDir_.path(), L"app.exe", block);
    ASSERT_FALSE(exe.empty());
    RunOptions options;
    options.env = isolatedEnvironment(temp_.path(), true);
    options.args = {L"/help"};
    RunResult result = runProcess(exe, options);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0u);
    const std::wstring logPath = newestLog(temp_.path());
    ASSERT_FALSE(logPath.empty());
    LogContent log = readLog(logPath);
    EXPECT_NE(log.header.find(L"Started executable " + exe), std::wstring::npos) << wideToUtf8(log.header);
}

INSTANTIATE_TEST_SUITE_P(Names, NonAnsiDirectory,
                         ::testing::Values(L"\x041F\x0430\x043F\x043A\x0430",                // Папка
                                           L"\x65E5\x672C\x8A9E \x30D5\x30A9\x30EB\x30C0"),  // 日本語 フォルダ
                         [](const ::testing::TestParamInfo<const wchar_t*>& param) {
                             return param.index == 0 ? std::string("Cyrillic") : std::string("Japanese");
                         });

TEST(AsciiDirectory, BothFormsAreTheSameText) {
    TempDir appDir(L"Plain Dir");
    TempDir temp(L"pathtemp");
    const std::wstring exe = appDir.file(L"probe.exe");
    ASSERT_TRUE(CopyFileW((binDir() + L"\\standin_pathprobe.exe").c_str(), exe.c_str(), FALSE));
    ProbeRun run = runProbe(exe, temp);
    ASSERT_EQ(run.result.exitCode, 0u);
    EXPECT_EQ(fromAnsi(run.values["ansi"]), utf8ToWide(run.values["long"]));
    EXPECT_TRUE(sameIgnoringCase(utf8ToWide(run.values["long"]), longPathOf(exe)));
    EXPECT_NE(run.values["ansi"].find("Plain Dir"), std::string::npos);  // the long name, not a short one
}

}  // namespace
}  // namespace vexlo::test
