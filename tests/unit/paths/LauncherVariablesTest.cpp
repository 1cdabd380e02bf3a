#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "common/Format.h"
#include "jvm/SelectedRuntime.h"
#include "paths/ExecutablePath.h"
#include "paths/LauncherVariables.h"
#include "paths/TempDirectories.h"

namespace vexlo {
namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(std::wstring name, const std::wstring& value) : name_(std::move(name)) {
        wchar_t buffer[32768];
        DWORD n = GetEnvironmentVariableW(name_.c_str(), buffer, 32768);
        if (n > 0 && n < 32768) old_ = std::wstring(buffer, n);
        SetEnvironmentVariableW(name_.c_str(), value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }

private:
    std::wstring name_;
    std::optional<std::wstring> old_;
};

// The launch state that feeds the placeholders, restored after each test.
class LauncherVariablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedTempDir_ = launcherTempDir;
        savedJavaHome_ = selectedJavaHome();
        launcherTempDir = "C:\\lt\\vxl1.tmp_dir17";
        setSelectedJavaHome("C:\\jre\\bin\\..");
    }
    void TearDown() override {
        launcherTempDir = savedTempDir_;
        setSelectedJavaHome(savedJavaHome_);
    }

    static std::string expanded(std::string text) {
        expandLauncherVariables(text, launcherVariableValues(selectedJavaHome()));
        return text;
    }
    static std::wstring expandedWide(std::wstring text, bool useAnsiForms) {
        expandLauncherVariables(text, launcherVariableValuesWide(selectedJavaHome(), useAnsiForms));
        return text;
    }

private:
    std::string savedTempDir_;
    std::string savedJavaHome_;
};

// Builds an environment block from entries; the block ends with an empty entry.
std::string block(const std::vector<std::string>& entries) {
    std::string b;
    for (const std::string& e : entries) b += e + '\0';
    return b + '\0';
}
std::wstring blockWide(const std::vector<std::wstring>& entries) {
    std::wstring b;
    for (const std::wstring& e : entries) b += e + L'\0';
    return b + L'\0';
}

// ---- replaceAll ----

TEST(ReplaceAll, ReplacesEveryOccurrenceAndCountsThem) {
    std::string text = "a${X}b${X}${X}c";
    EXPECT_EQ(detail::replaceAll(text, "${X}", "1"), 3);
    EXPECT_EQ(text, "a1b11c");

    std::wstring wide = L"${X}\x65e5${X}";
    EXPECT_EQ(detail::replaceAll(wide, L"${X}", L"\x672c"), 2);
    EXPECT_EQ(wide, L"\x672c\x65e5\x672c");
}

TEST(ReplaceAll, ValueHoldingItsOwnPlaceholderIsInsertedOnce) {
    std::string text = "${X}|${X}";
    EXPECT_EQ(detail::replaceAll(text, "${X}", "<${X}>"), 2);
    EXPECT_EQ(text, "<${X}>|<${X}>");

    std::wstring wide = L"${X}";
    EXPECT_EQ(detail::replaceAll(wide, L"${X}", L"${X}${X}"), 1);
    EXPECT_EQ(wide, L"${X}${X}");
}

TEST(ReplaceAll, SearchGoesOnBehindTheInsertedValue) {
    // The value completes a placeholder with the following text; that occurrence lies behind the search.
    std::string text = "%A%A%";
    EXPECT_EQ(detail::replaceAll(text, "%A%", "%"), 1);
    EXPECT_EQ(text, "%A%");

    // Overlapping candidates: the first match consumes the characters of the second.
    std::string overlap = "aaa";
    EXPECT_EQ(detail::replaceAll(overlap, "aa", "b"), 1);
    EXPECT_EQ(overlap, "ba");
}

TEST(ReplaceAll, NoMatchShortTextEmptyValueAndEmptyPlaceholder) {
    std::string shortText = "${X";
    EXPECT_EQ(detail::replaceAll(shortText, "${X}", "v"), 0);
    EXPECT_EQ(shortText, "${X");

    std::string other = "${Y} and ${x}";
    EXPECT_EQ(detail::replaceAll(other, "${X}", "v"), 0);
    EXPECT_EQ(other, "${Y} and ${x}");

    std::string removed = "lib${X}\\a.jar";
    EXPECT_EQ(detail::replaceAll(removed, "${X}", ""), 1);
    EXPECT_EQ(removed, "lib\\a.jar");

    std::string untouched = "abc";
    EXPECT_EQ(detail::replaceAll(untouched, "", "v"), 0);
    EXPECT_EQ(untouched, "abc");
}

// ---- the fixed placeholders ----

TEST_F(LauncherVariablesTest, EveryFixedPlaceholderGivesItsValue) {
    const std::string exeDir = exeDirAnsi();
    const std::string tempDir = getTempDirectory();
    const std::string lt = launcherTempDir;
    const std::string jvm = selectedJavaHome();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"%VEXLO_EXEDIR%", exeDir},
        {"%QUANDREL_EXEDIR%", exeDir},
        {"%VEXLO_TEMPDIR%", lt},
        {"%QUANDREL_TEMPDIR%", lt},
        {"%VEXLO_PATHLIST_SEPARATOR%", ";"},
        {"%QUANDREL_PATHLIST_SEPARATOR%", ";"},
        {"%VEXLO_JVM_HOME%", jvm},
        {"%QUANDREL_JVM_HOME%", jvm},
        {"${VEXLO_EXEDIR}", exeDir},
        {"${QUANDREL_EXEDIR}", exeDir},
        {"${VEXLO_TEMPDIR}", lt},
        {"${QUANDREL_TEMPDIR}", lt},
        {"${VEXLO_PATHLIST_SEPARATOR}", ";"},
        {"${QUANDREL_PATHLIST_SEPARATOR}", ";"},
        {"${VEXLO_JVM_HOME}", jvm},
        {"${QUANDREL_JVM_HOME}", jvm},
        {"${launcher:sys.launcherDirectory}", exeDir},
        {"${launcher:sys.launcherTempDirectory}", lt},
        {"${launcher:sys.pathlistSeparator}", ";"},
        {"${launcher:sys.jvmHome}", jvm},
        {"${launcher:sys.tempDir}", tempDir},
    };
    ASSERT_FALSE(exeDir.empty());
    ASSERT_FALSE(tempDir.empty());
    for (const auto& [placeholder, value] : cases) {
        EXPECT_EQ(expanded("<" + placeholder + ">"), "<" + value + ">") << placeholder;
        EXPECT_EQ(expandedWide(widenBytes("<" + placeholder + ">"), true), widenBytes("<" + value + ">"))
            << placeholder;
    }
}

TEST_F(LauncherVariablesTest, ExecutableDirectoryJoinsTheFollowingPath) {
    const std::string exeDir = exeDirAnsi();
    ASSERT_EQ(exeDir.back(), '\\');
    EXPECT_EQ(expanded("%VEXLO_EXEDIR%lib\\a.jar"), exeDir + "lib\\a.jar");
    EXPECT_EQ(expanded("%VEXLO_EXEDIR%a.jar%VEXLO_PATHLIST_SEPARATOR%${QUANDREL_EXEDIR}b.jar"),
              exeDir + "a.jar;" + exeDir + "b.jar");
}

TEST_F(LauncherVariablesTest, JvmHomeIsEmptyUntilARuntimeIsChosen) {
    setSelectedJavaHome("");
    EXPECT_EQ(expanded("${launcher:sys.jvmHome}"), "");
    EXPECT_EQ(expanded("%VEXLO_JVM_HOME%\\bin"), "\\bin");
    EXPECT_EQ(expandedWide(L"${VEXLO_JVM_HOME}", false), L"");
}

TEST_F(LauncherVariablesTest, ValuesAreReadAtEachExpansion) {
    EXPECT_EQ(expanded("%VEXLO_TEMPDIR%"), "C:\\lt\\vxl1.tmp_dir17");
    launcherTempDir.clear();
    EXPECT_EQ(expanded("%VEXLO_TEMPDIR%"), "");
    setSelectedJavaHome("D:\\other\\bin\\..");
    EXPECT_EQ(expanded("${launcher:sys.jvmHome}"), "D:\\other\\bin\\..");
}

TEST_F(LauncherVariablesTest, PlaceholdersAreCaseSensitive) {
    const std::vector<std::string> unchanged = {
        "${launcher:sys.tempdir}",
        "${LAUNCHER:SYS.TEMPDIR}",
        "%vexlo_exedir%",
        "%Vexlo_ExeDir%",
        "${vexlo_exedir}",
        "${launcher:sys.jvmhome}",
        "${Launcher:sys.launcherDirectory}",
        "%VEXLO_EXEDIR",
        "{VEXLO_EXEDIR}",
        "$VEXLO_EXEDIR",
    };
    for (const std::string& text : unchanged) {
        EXPECT_EQ(expanded(text), text);
        EXPECT_EQ(expandedWide(widenBytes(text), false), widenBytes(text));
    }
}

TEST_F(LauncherVariablesTest, LaterPlaceholdersSearchEarlierValues) {
    // The JVM home comes before the temporary directory and the environment in the order.
    setSelectedJavaHome("${launcher:sys.tempDir}jre");
    EXPECT_EQ(expanded("%VEXLO_JVM_HOME%"), getTempDirectory() + "jre");

    // The launcher temporary directory comes after the executable directory, so this stays.
    launcherTempDir = "%VEXLO_EXEDIR%x";
    EXPECT_EQ(expanded("%VEXLO_TEMPDIR%"), "%VEXLO_EXEDIR%x");

    ScopedEnv env(L"VexloOrderVar", L"fromEnv");
    setSelectedJavaHome("${VexloOrderVar}");
    EXPECT_EQ(expanded("${launcher:sys.jvmHome}"), "fromEnv");
    EXPECT_EQ(expandedWide(L"${launcher:sys.jvmHome}", true), L"fromEnv");
}

// ---- the wide variant's two forms ----

TEST_F(LauncherVariablesTest, WideFormsFollowUseAnsiForms) {
    EXPECT_EQ(expandedWide(L"${launcher:sys.launcherDirectory}", true), exeDirAnsiWide());
    EXPECT_EQ(expandedWide(L"${launcher:sys.launcherDirectory}", false), exeDirLong());
    EXPECT_EQ(expandedWide(L"${launcher:sys.tempDir}", true), widenBytes(getTempDirectory()));
    EXPECT_EQ(expandedWide(L"${launcher:sys.tempDir}", false), getTempDirectoryWide(true));
    // Launcher temporary directory and JVM home are 8-bit values widened byte by byte in both forms.
    launcherTempDir = "C:\\t\xe9mp";
    setSelectedJavaHome("C:\\j\xe9");
    for (bool ansi : {true, false}) {
        EXPECT_EQ(expandedWide(L"%VEXLO_TEMPDIR%|%VEXLO_JVM_HOME%", ansi), L"C:\\t\x00e9mp|C:\\j\x00e9");
    }
}

// Run by a copy of this program placed in a directory whose name the ANSI code page cannot express.
TEST(LauncherVariablesForeignDirectory, ChildSeesBothDirectoryForms) {
    if (GetEnvironmentVariableW(L"VEXLO_TEST_FOREIGN_CHILD", nullptr, 0) == 0) {
        GTEST_SKIP() << "runs only in the copy started by ForeignDirectory.WideFormsDiffer";
    }
    const std::wstring longDir = exeDirLong();
    const std::wstring ansiDir = exeDirAnsiWide();
    ASSERT_NE(longDir.find(L"\x65e5\x672c"), std::wstring::npos);
    for (wchar_t c : ansiDir) ASSERT_LT(c, 0x80) << test::wideToUtf8(ansiDir);
    EXPECT_EQ(ansiDir, widenBytes(exeDirAnsi()));

    std::wstring text = L"${launcher:sys.launcherDirectory}lib";
    std::wstring withAnsi = text;
    std::wstring withLong = text;
    expandLauncherVariables(withAnsi, launcherVariableValuesWide(selectedJavaHome(), true));
    expandLauncherVariables(withLong, launcherVariableValuesWide(selectedJavaHome(), false));
    EXPECT_EQ(withAnsi, ansiDir + L"lib");
    EXPECT_EQ(withLong, longDir + L"lib");

    std::string narrow = "%VEXLO_EXEDIR%lib";
    expandLauncherVariables(narrow, launcherVariableValues(selectedJavaHome()));
    EXPECT_EQ(narrow, exeDirAnsi() + "lib");

    // Both forms name the same directory.
    wchar_t lengthened[6000];
    DWORD n = GetLongPathNameW(ansiDir.c_str(), lengthened, 6000);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(CompareStringOrdinal(lengthened, static_cast<int>(n), longDir.c_str(), static_cast<int>(longDir.size()),
                                   TRUE),
              CSTR_EQUAL)
        << test::wideToUtf8(lengthened) << " vs " << test::wideToUtf8(longDir);
}

TEST(ForeignDirectory, WideFormsDiffer) {
    test::TempDir dir(L"\x65e5\x672c-\x0432\x0435\x043a");
    wchar_t self[6000];
    DWORD n = GetModuleFileNameW(nullptr, self, 6000);
    ASSERT_GT(n, 0u);
    const std::wstring copy = dir.file(L"unit_launch_copy.exe");
    ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));

    test::RunOptions options;
    options.args = {L"--gtest_filter=LauncherVariablesForeignDirectory.*"};
    options.env = test::isolatedEnvironment(dir.subdir(L"tmp"), false);
    options.env[L"VEXLO_TEST_FOREIGN_CHILD"] = L"1";
    test::RunResult result = test::runProcess(copy, options);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0u) << result.out;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("SKIPPED"), std::string::npos) << result.out;
}

// ---- environment placeholders ----

TEST_F(LauncherVariablesTest, EnvironmentVariablesInExactAndUpperCaseForm) {
    ScopedEnv env(L"VexloMixedCase", L"mixed");
    EXPECT_EQ(expanded("${VexloMixedCase}/${VEXLOMIXEDCASE}/${vexlomixedcase}"), "mixed/mixed/${vexlomixedcase}");
    EXPECT_EQ(expandedWide(L"${VexloMixedCase}/${VEXLOMIXEDCASE}/${vexlomixedcase}", false),
              L"mixed/mixed/${vexlomixedcase}");
    // Only the "${...}" form reaches the environment.
    EXPECT_EQ(expanded("%VexloMixedCase%"), "%VexloMixedCase%");
}

TEST_F(LauncherVariablesTest, WideEnvironmentKeepsNonAnsiValues) {
    ScopedEnv env(L"VexloWideValue", L"\x65e5\x672c\\dir");
    EXPECT_EQ(expandedWide(L"${VexloWideValue}\\x", true), L"\x65e5\x672c\\dir\\x");
}

TEST(EnvironmentPlaceholders, PathInBothFormsButNotLowerCase) {
    const std::string b = block({"ALLUSERSPROFILE=C:\\ProgramData", "Path=C:\\bin;C:\\tools", "windir=C:\\Windows"});
    std::string text = "${Path}|${PATH}|${path}|${windir}|${WINDIR}|${WinDir}";
    detail::expandEnvironmentPlaceholders(text, b.c_str());
    EXPECT_EQ(text, "C:\\bin;C:\\tools|C:\\bin;C:\\tools|${path}|C:\\Windows|C:\\Windows|${WinDir}");

    const std::wstring w = blockWide({L"Path=C:\\bin"});
    std::wstring wide = L"${Path}${PATH}${path}";
    detail::expandEnvironmentPlaceholders(wide, w.c_str());
    EXPECT_EQ(wide, L"C:\\binC:\\bin${path}");
}

TEST(EnvironmentPlaceholders, EmptyNameTakesTheFirstEqualsEntry) {
    const std::string b = block({"ALLUSERSPROFILE=C:\\ProgramData", "=C:=C:\\work", "=D:=D:\\", "A=1"});
    std::string text = "[${}]";
    detail::expandEnvironmentPlaceholders(text, b.c_str());
    EXPECT_EQ(text, "[C:=C:\\work]");

    const std::wstring w = blockWide({L"=E:=E:\\x", L"=C:=C:\\"});
    std::wstring wide = L"${}${}";
    detail::expandEnvironmentPlaceholders(wide, w.c_str());
    EXPECT_EQ(wide, L"E:=E:\\xE:=E:\\x");
}

TEST(EnvironmentPlaceholders, ValueSplitsAtTheFirstEqualsAndEntriesWithoutOneAreSkipped) {
    const std::string b = block({"NOEQUALS", "A=x=y", "B="});
    std::string text = "${NOEQUALS}|${A}|${B}|";
    detail::expandEnvironmentPlaceholders(text, b.c_str());
    EXPECT_EQ(text, "${NOEQUALS}|x=y||");
}

TEST(EnvironmentPlaceholders, SinglePassInBlockOrder) {
    // A placeholder inside an inserted value expands only for a later variable.
    std::string later = "${A}";
    detail::expandEnvironmentPlaceholders(later, block({"A=[${B}]", "B=bee"}).c_str());
    EXPECT_EQ(later, "[bee]");

    std::string earlier = "${A}";
    detail::expandEnvironmentPlaceholders(earlier, block({"B=bee", "A=[${B}]"}).c_str());
    EXPECT_EQ(earlier, "[${B}]");

    std::wstring wide = L"${A}|${C}";
    detail::expandEnvironmentPlaceholders(wide, blockWide({L"B=bee", L"A=[${B}${C}]", L"C=sea"}).c_str());
    EXPECT_EQ(wide, L"[${B}sea]|sea");
}

TEST(EnvironmentPlaceholders, ValueHoldingItsOwnPlaceholderDoesNotLoop) {
    // Both for a lower-case name (whose upper-case form differs) and an upper-case one (whose forms coincide).
    std::string lower = "${a}";
    detail::expandEnvironmentPlaceholders(lower, block({"a=<${a}>"}).c_str());
    EXPECT_EQ(lower, "<${a}>");

    std::string upper = "${PATH}";
    detail::expandEnvironmentPlaceholders(upper, block({"PATH=C:\\x;${PATH}"}).c_str());
    EXPECT_EQ(upper, "C:\\x;${PATH}");

    // The exact form's value is searched by the different upper-case form, as by any later placeholder.
    std::string mixed = "${Path}";
    detail::expandEnvironmentPlaceholders(mixed, block({"Path=a;${PATH}"}).c_str());
    EXPECT_EQ(mixed, "a;a;${PATH}");
}

TEST(EnvironmentPlaceholders, FixedPlaceholdersInsideValuesStay) {
    ScopedEnv env(L"VexloHoldsFixed", L"%VEXLO_EXEDIR%x");
    std::string text = "${VexloHoldsFixed}";
    expandLauncherVariables(text, launcherVariableValues(selectedJavaHome()));
    EXPECT_EQ(text, "%VEXLO_EXEDIR%x");
}

TEST(EnvironmentPlaceholders, NamesTooLongForThePlaceholderAreSkipped) {
    // "${", the name, "}" and a terminator fit 6000 units for names of up to 5996 characters.
    const std::string fits(5996, 'N');
    const std::string tooLong = std::string(5997, 'N');
    std::string text = "${" + fits + "}|${" + tooLong + "}";
    detail::expandEnvironmentPlaceholders(text, block({tooLong + "=long", fits + "=fit"}).c_str());
    EXPECT_EQ(text, "fit|${" + tooLong + "}");

    // A shortened name would have turned into the placeholder of another variable.
    const std::wstring prefix(5996, L'Q');
    std::wstring wide = L"${" + prefix + L"}";
    detail::expandEnvironmentPlaceholders(wide, blockWide({prefix + L"X=wrong"}).c_str());
    EXPECT_EQ(wide, L"${" + prefix + L"}");
}

TEST(EnvironmentPlaceholders, NullBlockAndEmptyBlockChangeNothing) {
    std::string text = "${A}";
    detail::expandEnvironmentPlaceholders(text, static_cast<const char*>(nullptr));
    detail::expandEnvironmentPlaceholders(text, block({}).c_str());
    EXPECT_EQ(text, "${A}");
}

}  // namespace
}  // namespace vexlo
