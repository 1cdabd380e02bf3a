#include <gtest/gtest.h>

#include <share.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "common/Handles.h"
#include "config/ConfigBlock.h"
#include "jvm/SelectedRuntime.h"
#include "launch/VmOptions.h"
#include "log/Log.h"

namespace vexlo {
namespace {

// The log is on for this whole program, in a private directory, so that refusals can be checked.
const bool logEnvironment = (test::logIntoPrivateTemp(L"vmoptslog"), true);

using Strings = std::vector<std::string>;

bool logHas(const std::wstring& message) { return test::logHas(test::readLog(getLogPath()), message, true); }

struct Collected {
    OptionVector options;
    ClassPathOverrides overrides;
};

Collected readOptionsFile(const std::wstring& path) {
    Collected c;
    unique_cfile file(_wfsopen(path.c_str(), L"rt", _SH_DENYNO));
    readVmOptionsFile(path, file.get(), c.options, c.overrides);
    return c;
}

TEST(VmOptionsFile, LinesBecomeOptionsOrClassPathOverrides) {
    const std::string longValue(7000, 'x');
    struct Case {
        const char* name;
        std::string bytes;
        Strings options;
        const char* replacement;
        const char* suffix;
    } cases[] = {
        {"blank and comment lines", "-Xmx512m\n\n# comment\n  -Dx=1 \t\n", {"-Xmx512m", "-Dx=1"}, nullptr, nullptr},
        {"hash inside a line", "-Xmx512m # kept\n", {"-Xmx512m # kept"}, nullptr, nullptr},
        {"CR LF, no final line feed", "-Da=1\r\n-Db=2", {"-Da=1", "-Db=2"}, nullptr, nullptr},
        {"CR alone ends no line", "-Da=1\r-Db=2\r", {"-Da=1\r-Db=2"}, nullptr, nullptr},
        {"NUL cuts its line", std::string("-Da=1\0junk\n-Db=2\n", 17), {"-Da=1", "-Db=2"}, nullptr, nullptr},
        {"long line kept whole",
         "-Dlong=" + longValue + "\n-Dnext",
         {"-Dlong=" + longValue, "-Dnext"},
         nullptr,
         nullptr},
        {"class path lines",
         "-classpath\n-classpath x.jar\n-classpath/a a.jar\n-classpath/a b.jar\n",
         {"-classpath"},
         "x.jar",
         "b.jar"},
    };
    test::TempDir dir(L"vmopts");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = dir.file(L"case.vmoptions");
        ASSERT_TRUE(test::writeFileBytes(path, c.bytes));
        Collected got = readOptionsFile(path);
        EXPECT_EQ(got.options, c.options);
        EXPECT_EQ(got.overrides.classPathReplacement.value_or("<none>"), c.replacement ? c.replacement : "<none>");
        EXPECT_EQ(got.overrides.classPathSuffix.value_or("<none>"), c.suffix ? c.suffix : "<none>");
        EXPECT_FALSE(got.overrides.classPathPrefix.has_value());
    }
}

TEST(VmOptionsFile, IncludesResolveAgainstTheIncludingFileAndEnd) {
    test::TempDir dir(L"vminc");
    dir.subdir(L"sub");
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"main.vmoptions"),
                                     "-Dmain=1\n-include-options sub\\inc.vmoptions\n-include-options sub\n"
                                     "-include-options missing.vmoptions\n-Dmain=2\n"));
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"sub\\inc.vmoptions"), "-Dinc=1\n-include-options deeper.vmoptions\n"));
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"sub\\deeper.vmoptions"), "-Ddeeper=1\n"));
    // A directory and a missing file add nothing.
    EXPECT_EQ(readOptionsFile(dir.file(L"main.vmoptions")).options,
              (Strings{"-Dmain=1", "-Dinc=1", "-Ddeeper=1", "-Dmain=2"}));

    // A file already being read is not read again, however many lines name it.
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"self.vmoptions"), "-Dself\n-include-options self.vmoptions\n"
                                                                  "-include-options .\\SELF.vmoptions\n"
                                                                  "-include-options self.vmoptions\n"));
    EXPECT_EQ(readOptionsFile(dir.file(L"self.vmoptions")).options, Strings{"-Dself"});
    EXPECT_TRUE(logHas(L"ERROR: vmoptions file <" + dir.file(L".\\SELF.vmoptions") + L"> is already being read"));
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"a.vmoptions"),
                                     "-Da\n-include-options b.vmoptions\n-include-options b.vmoptions\n"));
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"b.vmoptions"),
                                     "-Db\n-include-options a.vmoptions\n-include-options a.vmoptions\n"));
    EXPECT_EQ(readOptionsFile(dir.file(L"a.vmoptions")).options, (Strings{"-Da", "-Db", "-Db"}));

    // A chain of distinct files ends at the depth limit.
    for (int i = 0; i < kMaxIncludeDepth + 3; ++i) {
        ASSERT_TRUE(test::writeFileBytes(dir.file(L"d" + std::to_wstring(i)),
                                         "-Dd\n-include-options d" + std::to_string(i + 1) + "\n"));
    }
    EXPECT_EQ(readOptionsFile(dir.file(L"d0")).options, Strings(kMaxIncludeDepth + 1, "-Dd"));

    // Without a cycle, repetition is bounded by the lines read in all: a file of 2000 lines included
    // three times stops at the budget (the three include lines count too).
    std::string big;
    for (int i = 0; i < 2000; ++i) big += "-Dbig\n";
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"big.vmoptions"), big));
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"thrice.vmoptions"), "-include-options big.vmoptions\n"
                                                                    "-include-options big.vmoptions\n"
                                                                    "-include-options big.vmoptions\n-Dlast\n"));
    EXPECT_EQ(readOptionsFile(dir.file(L"thrice.vmoptions")).options.size(), static_cast<size_t>(kMaxOptionLines - 3));
    EXPECT_TRUE(logHas(L"ERROR: vmoptions: more than " + std::to_wstring(kMaxOptionLines) + L" lines"));

    // Token pairing: "-include-options" takes the next token as its path, unless it is the last token.
    Collected tokens;
    detail::addVmOptionTokens({L"-Dfirst", L"-include-options", dir.file(L"sub\\deeper.vmoptions"),
                               L"-include-options"},
                              tokens.options, tokens.overrides);
    EXPECT_EQ(tokens.options, (Strings{"-Dfirst", "-Ddeeper=1", "-include-options"}));
}

TEST(VmOptionsFile, DevicesAndOtherNonRegularFilesAreRefusedWithoutReading) {
    test::TempDir dir(L"vmdev");
    dir.subdir(L"folder");
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"ok.vmoptions"), "-Dok\n"));
    std::string lines;
    const wchar_t* devices[] = {L"COM1", L"NUL", L"con", L"CONIN$", L"nul.txt", L"aux .x", L"\\\\.\\COM1"};
    for (const wchar_t* device : devices) lines += "-include-options " + test::wideToUtf8(device) + "\n";
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"main.vmoptions"), lines + "-include-options folder\n-Dlast\n"));
    Collected got = readOptionsFile(dir.file(L"main.vmoptions"));
    EXPECT_EQ(got.options, Strings{"-Dlast"});
    for (const wchar_t* device : devices) {
        const std::wstring shown = device[0] == L'\\' ? device : dir.file(device);
        EXPECT_TRUE(logHas(L"ERROR: refusing vmoptions file <" + shown + L">: a device")) << test::wideToUtf8(device);
    }
    // An open handle that is not a disk file is refused as well.
    Collected nul;
    unique_cfile device(_wfsopen(L"NUL", L"rt", _SH_DENYNO));
    readVmOptionsFile(L"given", device.get(), nul.options, nul.overrides);
    EXPECT_TRUE(logHas(L"ERROR: refusing vmoptions file <given>: not a regular file"));
}

TEST(VmOptionsFile, CommandLineJOptionsAreStrippedNotExpanded) {
    Collected c;
    addCommandLineVmOptions({L"-Jprogram", L"-J-Xmx1g", L"-j-lower", L"x-J", L"-J${PATH}"}, c.options, c.overrides);
    EXPECT_EQ(c.options, (Strings{"program", "-Xmx1g", "${PATH}"}));
}

TEST(VmOptionsConfigured, OptionsThenFirstMatchingVersionRuleThenLocale) {
    struct Rule {
        const char* key;
        const char* options;
    };
    struct Case {
        const char* version;
        std::vector<Rule> rules;
        Strings expected;  // after the configured "-Dconf"
    } cases[] = {
        {"1.8.0_202", {{"11-17", "-Dmodern"}, {"-8", "-Dold -Dold2"}}, {"-Dold", "-Dold2"}},
        {"17.0.2", {{"11-17", "-Dmodern"}, {"-8", "-Dold"}}, {"-Dmodern"}},
        {"10", {{"11-17", "-Dmodern"}}, {}},
        {"18", {{"11-17", "-Dmodern"}}, {}},
        {"17.0.2", {{"*17.0.?", "-Dw"}}, {"-Dw"}},
        {"17.0.10", {{"*17.0.?", "-Dw"}}, {}},
        {"1.8.0_202", {{"*1.8*", "-D8"}}, {"-D8"}},
        {"11.0.1", {{"*1.8*", "-D8"}}, {}},
        {"21-ea", {{"**-ea", "-Dea"}}, {"-Dea"}},
        {"21", {{"**-ea", "-Dea"}}, {}},
        {"17.0.2", {{"*17*", "-Dfirst"}, {"17-17", "-Dsecond"}}, {"-Dfirst"}},
        {"17.0.2", {{"17", "-Dnodash"}, {"*17*", "-Dafter"}}, {"-Dafter"}},
        {"", {{"*", "-Dany"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " " + c.rules.front().key);
        resetConfigForTests();
        setConfigValueForTests(123, "-Dconf");
        setConfigValueForTests(10200, std::to_string(c.rules.size()));
        for (size_t i = 0; i < c.rules.size(); ++i) {
            setConfigValueForTests(static_cast<int>(10201 + 2 * i), c.rules[i].key);
            setConfigValueForTests(static_cast<int>(10202 + 2 * i), c.rules[i].options);
        }
        setSelectedJavaVersion(c.version);
        Collected got;
        addConfiguredVmOptions({}, got.options, got.overrides);
        Strings expected{"-Dconf"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(got.options, expected);
    }

    // Only the last locale argument counts; "true" brings the chosen language and country.
    resetConfigForTests();
    Collected locale;
    addConfiguredVmOptions({L"prog", L"-Dsun.locale.formatasdefault=true", L"-Dsun.locale.formatasdefault=false"},
                           locale.options, locale.overrides);
    EXPECT_EQ(locale.options, (Strings{"-Dsun.locale.formatasdefault=false"}));
    test::TempDir dir(L"vmlocale");
    detail::readConfigSecondPassFrom(test::writeBlockFile(dir.file(L"block.bin"), pack::Block{}));
    Strings withLanguage{"-Dsun.locale.formatasdefault=true"};
    if (!selectedLanguage().empty()) withLanguage.push_back("-Duser.language=" + selectedLanguage());
    if (!selectedCountry().empty()) withLanguage.push_back("-Duser.country=" + selectedCountry());
    Collected chosen;
    addConfiguredVmOptions({L"-Dsun.locale.formatasdefault=true"}, chosen.options, chosen.overrides);
    EXPECT_EQ(chosen.options, withLanguage);
}

TEST(VmOptionsConfigured, OverridesNeedTheirBlankInsideOneToken) {
    resetConfigForTests();
    setConfigValueForTests(123, "-classpath/p p.jar \"-classpath/p q.jar\"");
    Collected got;
    addConfiguredVmOptions({}, got.options, got.overrides);
    EXPECT_EQ(got.options, (Strings{"-classpath/p", "p.jar"}));
    EXPECT_EQ(got.overrides.classPathPrefix.value_or("<none>"), "q.jar");
}

TEST(Wildcard, MatchesWholeTextWithQuestionMarksAndStars) {
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    } cases[] = {
        {"", "", true},
        {"", "a", false},
        {"?", "a", true},
        {"?", "", false},
        {"a?c", "abc", true},
        {"a?c", "abbc", false},
        {"*", "", true},
        {"*", "anything", true},
        {"1.8*", "1.8", true},
        {"1.8*", "1.80_2", true},
        {"1.8*", "11.8", false},
        {"*-ea", "21-ea", true},
        {"*-ea", "21-ea1", false},
        {"a***b", "ab", true},
        {"a***b", "axyb", true},
        {"*a*b*", "xxaxxbxx", true},
        {"*a*b", "ba", false},
        {"*ab", "aab", true},
        {"A*", "a", false},
        {"a*?", "a", false},
        {"17.0.?", "17.0.2", true},
        {"17.0.?", "17.0.10", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(detail::matchesWildcard(c.pattern, c.text), c.matches) << c.pattern << " / " << c.text;
    EXPECT_EQ(detail::versionRuleNumber("1.8.0_202"), 8);
    EXPECT_EQ(detail::versionRuleNumber("17.0.2"), 17);
    EXPECT_EQ(detail::versionRuleNumber("1"), 1);
    EXPECT_EQ(detail::versionRuleNumber(""), -1);
}

}  // namespace
}  // namespace vexlo
