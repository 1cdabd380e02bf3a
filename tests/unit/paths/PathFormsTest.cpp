#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "paths/ExecutablePath.h"
#include "paths/PathForms.h"

namespace vexlo {
namespace {

TEST(IsRelativePath, AbsoluteAndRelativeForms) {
    struct Case {
        const char* path;
        bool relative;
    };
    const Case cases[] = {
        {"C:\\x", false},   {"c:\\", false},      {"x:\\", false},   {"\\\\srv\\share", false},
        {"\\\\x", false},   {"\"C:\\x\"", false}, {"\"C:\\", false}, {"\"\\\\srv\"", false},
        {"C:/x", true},     {"\\x\\y", true},     {"/x/y", true},    {"lib\\a.jar", true},
        {"C:", true},       {"\\\\", true},       {"", true},        {"\"C:", true},
        {"\"C:/x\"", true}, {"..\\x", true},      {"C:x\\y", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(detail::isRelativePath(std::string_view(c.path)), c.relative) << c.path;
        std::wstring wide = test::utf8ToWide(c.path);
        EXPECT_EQ(detail::isRelativePath(std::wstring_view(wide)), c.relative) << c.path;
    }
}

TEST(CollapseBackslashes, RunsBecomeOneLeadingPairSurvives) {
    struct Case {
        const wchar_t* in;
        size_t start;
        const wchar_t* out;
    };
    const Case cases[] = {
        {L"\\\\\\a\\\\b", 0, L"\\\\a\\b"},
        {L"C:\\\\\\dir\\\\\\\\x", 0, L"C:\\dir\\x"},
        {L"\\\\srv\\share", 0, L"\\\\srv\\share"},
        {L"a\\\\b", 5, L"a\\\\b"},                    // start beyond the end
        {L"keep\\\\C:\\\\x", 6, L"keep\\\\C:\\x"},    // the part before start is untouched
        {L"x;\\\\\\\\srv\\\\y", 2, L"x;\\\\srv\\y"},  // a network prefix at the start position survives
        {L"\\", 0, L"\\"},
        {L"", 0, L""},
    };
    for (const Case& c : cases) {
        std::wstring text = c.in;
        collapseBackslashes(text, c.start);
        EXPECT_EQ(text, c.out) << test::wideToUtf8(c.in);
    }
}

TEST(CollapseBackslashes, AnsiFormKeepsCodePageCharacters) {
    std::string text = "C:\\\\caf\xE9\\\\\\x";  // é in the Western code page
    collapseBackslashesAnsi(text, 0);
    EXPECT_EQ(text, "C:\\caf\xE9\\x");

    std::string prefixed = "a\\\\b;\\\\\\c";
    collapseBackslashesAnsi(prefixed, 5);
    EXPECT_EQ(prefixed, "a\\\\b;\\\\c");
}

TEST(LowerCasePath, OnlyAsciiLettersChange) {
    std::wstring wide = L"C:\\\x00C4pfel\\\x042F\x0434RO\\A.EXE";  // Äpfel, Яд
    detail::lowerCasePathWide(wide);
    EXPECT_EQ(wide, L"c:\\\x00C4pfel\\\x042F\x0434ro\\a.exe");

    std::string ansi = "C:\\\xC4PFEL\\X.JAR";  // Ä stays: only A-Z are lowered
    detail::lowerCasePathAnsi(ansi);
    EXPECT_EQ(ansi, "c:\\\xC4pfel\\x.jar");
}

TEST(HasExeSuffix, SuffixAndLength) {
    EXPECT_TRUE(detail::hasExeSuffix("a.exe"));
    EXPECT_TRUE(detail::hasExeSuffix("C:\\APP\\LAUNCH.EXE"));
    EXPECT_TRUE(detail::hasExeSuffix("x.ExE"));
    EXPECT_FALSE(detail::hasExeSuffix(".exe"));
    EXPECT_FALSE(detail::hasExeSuffix(".EXE"));
    EXPECT_FALSE(detail::hasExeSuffix("a.ex"));
    EXPECT_FALSE(detail::hasExeSuffix("a.exe "));
    EXPECT_FALSE(detail::hasExeSuffix("a.exe.bak"));
    EXPECT_FALSE(detail::hasExeSuffix("aaexe"));
    EXPECT_FALSE(detail::hasExeSuffix("\"a.exe\""));
    EXPECT_FALSE(detail::hasExeSuffix(""));
}

TEST(WideToAnsi, SubstitutionWithoutBestFit) {
    bool substituted = true;
    EXPECT_EQ(wideToAnsi(L"C:\\plain\\a.exe", &substituted), "C:\\plain\\a.exe");
    EXPECT_FALSE(substituted);

    EXPECT_EQ(wideToAnsi(L"caf\x00E9", &substituted), "caf\xE9");
    EXPECT_FALSE(substituted);

    EXPECT_EQ(wideToAnsi(L"\x041F\x0430\x043F\x043A\x0430", &substituted), "?????");  // Папка
    EXPECT_TRUE(substituted);

    // Best-fit mapping would turn Ā into A and ∞ into 8; both must show as substitutes instead.
    EXPECT_EQ(wideToAnsi(L"\x0100x\x221E", &substituted), "?x?");
    EXPECT_TRUE(substituted);

    EXPECT_EQ(wideToAnsi(L"", &substituted), "");
    EXPECT_FALSE(substituted);

    // Long texts are not cut at any fixed capacity.
    std::wstring longText(10000, L'x');
    EXPECT_EQ(wideToAnsi(longText, &substituted).size(), 10000u);
    EXPECT_FALSE(substituted);
    EXPECT_EQ(wideToAnsi(L"\x65E5\x672C"), "??");  // the flag is optional
}

TEST(WideToAnsi, CodePageWithoutFlagsConvertsPlainly) {
    bool substituted = true;
    // UTF-8 takes no best-fit flag: the conversion is done without flags and reports nothing substituted.
    EXPECT_EQ(detail::wideToAnsiInCodePage(CP_UTF8, L"\x042F/\x65E5", &substituted), "\xD0\xAF/\xE6\x97\xA5");
    EXPECT_FALSE(substituted);
    EXPECT_EQ(detail::wideToAnsiInCodePage(CP_UTF8, L"again", &substituted), "again");
    EXPECT_FALSE(substituted);
    // The remembered mode belongs to that code page only.
    EXPECT_EQ(detail::wideToAnsiInCodePage(1252, L"\x042F", &substituted), "?");
    EXPECT_TRUE(substituted);
}

TEST(WideToAnsi, FollowsTheFileApiMode) {
    ASSERT_TRUE(AreFileApisANSI());
    EXPECT_EQ(fileApiCodePage(), static_cast<unsigned>(CP_ACP));
    SetFileApisToOEM();
    unsigned codePage = fileApiCodePage();
    bool substituted = true;
    std::string text = wideToAnsi(L"\x00E9", &substituted);  // é is 0x82 in the usual OEM code pages
    SetFileApisToANSI();
    EXPECT_EQ(codePage, static_cast<unsigned>(CP_OEMCP));
    EXPECT_EQ(text, "\x82");
    EXPECT_FALSE(substituted);
}

TEST(ExecutablePath, AsciiPathGivesTheSameTextInBothForms) {
    const std::string& ansi = executablePathAnsi();
    const std::wstring& wide = executablePathLong();
    ASSERT_TRUE(detail::hasExeSuffix(ansi)) << ansi;
    EXPECT_EQ(test::utf8ToWide(ansi), wide);  // the build tree's path is plain ASCII
    EXPECT_NE(wide.find(L"unit_paths.exe"), std::wstring::npos);
    EXPECT_EQ(wide.find(L"\\\\"), std::wstring::npos);
    EXPECT_EQ(&ansi, &executablePathAnsi());  // cached, computed once
}

TEST(ExecutablePath, DirectoryFormsEndWithABackslash) {
    const std::string& dir = exeDirAnsi();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '\\');
    EXPECT_EQ(executablePathAnsi().rfind(dir, 0), 0u);
    EXPECT_EQ(executablePathAnsi().find('\\', dir.size()), std::string::npos);
    EXPECT_EQ(exeDirAnsiWide(), test::utf8ToWide(dir));
    ASSERT_FALSE(exeDirLong().empty());
    EXPECT_EQ(exeDirLong().back(), L'\\');
    EXPECT_EQ(executablePathLong().rfind(exeDirLong(), 0), 0u);
}

TEST(ResolvePath, RelativeAgainstTheExecutableDirectory) {
    const std::string dir = exeDirAnsi();
    EXPECT_EQ(detail::resolvePath("lib\\a.jar"), dir + "lib\\a.jar");
    EXPECT_EQ(detail::resolvePath("\\lib\\a.jar"), dir + "lib\\a.jar");  // the doubled backslash collapses
    EXPECT_EQ(detail::resolvePath("lib\\\\\\a.jar"), dir + "lib\\a.jar");
    EXPECT_EQ(detail::resolvePath("C:/x/y"), dir + "C:/x/y");
    EXPECT_EQ(detail::resolvePath("C:\\abs\\\\x.jar"), "C:\\abs\\x.jar");
    EXPECT_EQ(detail::resolvePath("\\\\srv\\share\\\\x"), "\\\\srv\\share\\x");
    EXPECT_EQ(detail::resolvePath(""), dir);

    // Not the working directory, even after it changed.
    test::TempDir elsewhere;
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(elsewhere.path().c_str()));
    std::string resolved = detail::resolvePath("x.txt");
    std::wstring resolvedWide = resolvePathWide(L"x.txt", false);
    SetCurrentDirectoryW(saved);
    EXPECT_EQ(resolved, dir + "x.txt");
    EXPECT_EQ(resolvedWide, exeDirLong() + L"x.txt");
}

TEST(ResolvePath, AgainstABaseFile) {
    EXPECT_EQ(detail::resolvePath("b.txt", "C:\\cfg\\dir\\app.vmoptions"), "C:\\cfg\\dir\\b.txt");
    EXPECT_EQ(detail::resolvePath("..\\b.txt", "C:\\cfg\\dir\\app.vmoptions"), "C:\\cfg\\dir\\..\\b.txt");
    EXPECT_EQ(detail::resolvePath("D:\\b.txt", "C:\\cfg\\dir\\app.vmoptions"), "D:\\b.txt");
    EXPECT_EQ(resolvePathWide(L"inc\\x.opts", false, L"C:\\\x0430\\base.opts"), L"C:\\\x0430\\inc\\x.opts");
    EXPECT_EQ(resolvePathWide(L"x", true, L"C:\\b\\\\c\\f"), L"C:\\b\\c\\x");
}

TEST(ResolvePath, AppendKeepsTheTargetAndWideChoosesItsBase) {
    std::string target = "keep\\\\this;";
    appendResolvedPath(target, "a.jar");
    EXPECT_EQ(target, "keep\\\\this;" + exeDirAnsi() + "a.jar");

    std::wstring wideTarget = L"x\\\\";
    detail::appendResolvedPathWide(wideTarget, L"y", true);
    EXPECT_EQ(wideTarget, L"x\\\\" + exeDirAnsiWide() + L"y");
    EXPECT_EQ(resolvePathWide(L"\\y", false), exeDirLong() + L"y");
    EXPECT_EQ(resolvePathWide(L"C:\\\\y", true), L"C:\\y");
}

TEST(CanonicalPath, DotStepsCaseAndCollapsing) {
    const std::string dir = exeDirAnsi();
    std::string lowerDir = dir;
    detail::lowerCasePathAnsi(lowerDir);
    EXPECT_EQ(canonicalPathAnsi("Sub\\..\\Lib\\.\\A.JAR", false), lowerDir + "lib\\a.jar");
    EXPECT_EQ(canonicalPathAnsi("Sub\\..\\Lib\\.\\A.JAR", true), dir + "Lib\\A.JAR");
    EXPECT_EQ(canonicalPathAnsi("C:\\Dir\\.\\X\\..\\\\Y.EXE", false), "c:\\dir\\y.exe");
    EXPECT_EQ(canonicalPathAnsi("C:\\Dir\\..\\..\\Y", true), "C:\\Y");
    EXPECT_EQ(canonicalPathAnsi("C:\\Caf\xC9\\X", false), "c:\\caf\xC9\\x");

    EXPECT_EQ(canonicalPathWide(L"C:\\\x041F\x0430\\Sub\\..\\X.Exe", false, false), L"c:\\\x041F\x0430\\x.exe");
    EXPECT_EQ(canonicalPathWide(L"C:\\\x041F\x0430\\Sub\\..\\X.Exe", false, true), L"C:\\\x041F\x0430\\X.Exe");
    std::wstring lowerLong = exeDirLong();
    detail::lowerCasePathWide(lowerLong);
    EXPECT_EQ(canonicalPathWide(L"a\\..\\B.txt", false, false), lowerLong + L"b.txt");
    EXPECT_EQ(canonicalPathWide(L"B.txt", true, true), exeDirAnsiWide() + L"B.txt");
}

TEST(ResolvePathList, EntriesResolvedAndJoined) {
    const std::string dir = exeDirAnsi();
    std::string target = "pre;";
    std::vector<std::string> seen;
    resolvePathList(target, ";a.jar;;C:\\\\b.jar;sub\\c;", [&](const std::string& entry) { seen.push_back(entry); });
    EXPECT_EQ(target, "pre;" + dir + "a.jar;C:\\b.jar;" + dir + "sub\\c");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], dir + "a.jar");
    EXPECT_EQ(seen[1], "C:\\b.jar");
    EXPECT_EQ(seen[2], dir + "sub\\c");

    std::string empty;
    resolvePathList(empty, ";;;");
    EXPECT_EQ(empty, "");
    resolvePathList(empty, "one");
    EXPECT_EQ(empty, dir + "one");
}

TEST(PathExists, DriveRootsNeedNoSearch) {
    // Q: is not mapped in the test prefix, yet its root counts as existing.
    for (const char* root : {"C:\\", "Q:\\", "Q:\\.", "Q:\\.\\.", "c:\\"}) {
        EXPECT_TRUE(pathExists(root)) << root;
        EXPECT_TRUE(pathExistsWide(test::utf8ToWide(root))) << root;
    }
    for (const char* other : {"Q:\\x", "Q:\\..", "Q:\\.\\", "Q:", ":\\", "\\"}) {
        EXPECT_FALSE(pathExists(other)) << other;
        EXPECT_FALSE(pathExistsWide(test::utf8ToWide(other))) << other;
    }
}

TEST(PathExists, FilesAndDirectories) {
    test::TempDir dir(L"exists");
    std::wstring file = dir.file(L"f.txt");
    ASSERT_TRUE(test::writeFileBytes(file, "x"));
    std::wstring sub = dir.subdir(L"sub");
    EXPECT_TRUE(pathExistsWide(file));
    EXPECT_TRUE(pathExistsWide(sub));
    EXPECT_FALSE(pathExistsWide(dir.file(L"missing.txt")));
    EXPECT_TRUE(pathExists(wideToAnsi(file)));
    EXPECT_TRUE(pathExists(wideToAnsi(sub)));
    EXPECT_FALSE(pathExists(wideToAnsi(dir.file(L"missing"))));

    std::wstring unicodeFile = dir.file(L"\x042F\x65E5.txt");
    ASSERT_TRUE(test::writeFileBytes(unicodeFile, "x"));
    EXPECT_TRUE(pathExistsWide(unicodeFile));
}

TEST(FindFile, ReportsTheLastWriteTime) {
    test::TempDir dir(L"findfile");
    std::wstring file = dir.file(L"java.exe");
    ASSERT_TRUE(test::writeFileBytes(file, "MZ"));
    const unsigned long long stamp = 0x01D9'1234'5678'9A00ull;
    {
        HANDLE h = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        FILETIME ft{static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
        EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
        CloseHandle(h);
    }
    unsigned long long time = 0;
    EXPECT_TRUE(findFile(wideToAnsi(file), &time));
    EXPECT_EQ(time, stamp);
    time = 0;
    EXPECT_TRUE(detail::findFileWide(file, &time));
    EXPECT_EQ(time, stamp);

    time = 7;
    EXPECT_FALSE(findFile(wideToAnsi(dir.file(L"nothing.exe")), &time));
    EXPECT_EQ(time, 7u);
    EXPECT_TRUE(findFile("C:\\", &time));  // a drive root exists but has no entry to report
    EXPECT_EQ(time, 7u);
}

TEST(ListFilesByExtension, NamesInTheDirectory) {
    test::TempDir dir(L"listing");
    for (const wchar_t* name : {L"a.jar", L"B.JAR", L"c.zip", L"d.txt"}) {
        ASSERT_TRUE(test::writeFileBytes(dir.file(name), "x"));
    }
    std::string ansiDir = wideToAnsi(dir.path());
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(listFilesByExtension(ansiDir, "jar", names), 2);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"B.JAR", "a.jar"}));

    std::vector<std::string> dotted;
    EXPECT_EQ(listFilesByExtension(ansiDir, ".zip", dotted), 1);
    EXPECT_EQ(dotted, std::vector<std::string>{"c.zip"});

    std::vector<std::string> none{"stale"};
    EXPECT_EQ(listFilesByExtension(ansiDir, "war", none), 0);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(listFilesByExtension(ansiDir + "\\missing", "jar", none), 0);
}

// The command interpreter's answer is its first output line. Real Windows prints the short form; Wine's cmd
// lacks the "~s" modifier and prints something else, which the executable-path computation then rejects.
TEST(ShortPathViaShell, FirstLineOfTheInterpreterOutput) {
    test::TempDir dir(L"shell");
    std::wstring file = dir.file(L"A Long Program Name.exe");
    ASSERT_TRUE(test::writeFileBytes(file, "MZ"));
    std::optional<std::string> answer = detail::shortPathViaShell(file);
    ASSERT_TRUE(answer.has_value());
    std::cout << "cmd answered: " << *answer << "\n";
    EXPECT_GE(answer->size(), 6u);
    EXPECT_EQ(answer->find_first_of("\r\n"), std::string::npos);
    if (detail::hasExeSuffix(*answer)) {
        wchar_t longName[MAX_PATH];
        DWORD n = GetLongPathNameW(test::utf8ToWide(*answer).c_str(), longName, MAX_PATH);
        EXPECT_EQ(std::wstring(longName, n), file);
    }
}

}  // namespace
}  // namespace vexlo
