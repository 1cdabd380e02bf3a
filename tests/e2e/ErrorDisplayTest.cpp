// How a fatal error reaches the user: console or message box, the log path added, and the user's language.
// The error used is the one every launch without a Java runtime ends in: message 1016 with the detail "64".
#include "LauncherFixture.h"
#include "config/ConfigIds.h"

using namespace vexlo;
using vexlo::e2e::show;

namespace {

class ErrorDisplay : public e2e::LauncherFixture {
protected:
    pack::Block block(const char* executableType = nullptr) {
        pack::Block b;
        b.set(ids::kServiceName, "VexloErrorNoSuchService").set(ids::kMsgErrorTitle, "Configured title");
        if (executableType) b.set(ids::kExecutableType, executableType);
        b.message(ids::kMsgNoJvmFound, u"No Java runtime ({0}) \u00e9");
        return b;
    }
};

}  // namespace

TEST_F(ErrorDisplay, ConsoleModeWritesToStandardErrorWhenOutputIsAPipe) {
    std::wstring exe = launcher(block());
    test::RunResult r = run(exe, {L"/run"});
    EXPECT_EQ(r.exitCode, 1u) << show(r);
    EXPECT_TRUE(r.boxes.empty()) << show(r);
    EXPECT_EQ(r.out, "") << show(r);
    // 8-bit text in the ANSI code page, one line end.
    EXPECT_EQ(r.err, "No Java runtime (64) \xE9\n") << show(r);
}

TEST_F(ErrorDisplay, ConsoleMessageCarriesTheLogPath) {
    std::wstring exe = launcher(block("2"));
    test::RunResult r = run(exe, {L"/run"}, true);
    EXPECT_EQ(r.exitCode, 1u) << show(r);
    auto files = test::logFiles(tempDir.path());
    ASSERT_EQ(files.size(), 1u);
    const std::string head = "No Java runtime (64) \xE9\n\nLog: ";
    ASSERT_EQ(r.err.substr(0, head.size()), head) << show(r);
    ASSERT_EQ(r.err.back(), '\n');
    std::wstring shown = test::utf8ToWide(r.err.substr(head.size(), r.err.size() - head.size() - 1));
    EXPECT_EQ(shown.substr(shown.find_last_of(L'\\') + 1), L"qdr_nlog_1.log") << show(r);
    EXPECT_TRUE(test::fileExists(shown)) << show(r);
}

TEST_F(ErrorDisplay, ExecutableTypes1And5ShowAMessageBox) {
    for (const char* type : {"1", "5"}) {
        std::wstring exe = launcher(block(type), L"boxed" + test::utf8ToWide(type) + L".exe");
        test::RunResult r = run(exe, {L"/run"});
        EXPECT_EQ(r.exitCode, 1u) << show(r);
        EXPECT_EQ(r.err, "") << show(r);
        ASSERT_EQ(r.boxes.size(), 1u) << show(r);
        EXPECT_EQ(r.boxes[0].title, L"Configured title");
        EXPECT_EQ(r.boxes[0].text, L"No Java runtime (64) \u00e9");
    }
}

// A service's child has no desktop: even where a message box is configured, the whole text goes to standard
// error as UTF-8, where the service log takes it.
TEST_F(ErrorDisplay, TheServicesChildNeverShowsAMessageBox) {
    std::wstring exe = launcher(block("5"), L"child.exe");
    test::RunResult r = run(exe, {L"svc", L"__qdr_restart"});
    EXPECT_EQ(r.exitCode, 1u) << show(r);
    EXPECT_TRUE(r.boxes.empty()) << show(r);
    EXPECT_EQ(r.err, "No Java runtime (64) \xC3\xA9\n") << show(r);
}

// Wine takes the user interface language from the Unix locale, which only a Unix parent can set for it.
class UserLanguage : public e2e::LauncherFixture {
protected:
    test::RunResult runIn(const std::wstring& exe, const wchar_t* locale) {
        test::RunOptions o = options({L"/run"});
        o.env[L"LC_ALL"] = locale;
        o.env[L"LANG"] = locale;
        return test::runWithUnixEnvironment(exe, o);
    }

    std::wstring exe() {
        pack::Block b;
        b.set(ids::kServiceName, "VexloLanguageNoSuchService");
        b.message(ids::kMsgNoJvmFound, u"No Java {0}").message(ids::kMsgMainClassNotFound, u"Main class");
        b.group("de", {{1016, u"Kein Java {0} (de)"}, {1010, u"Hauptklasse"}});
        b.group("fr", {{1016, u"Pas de Java {0}"}});
        b.group("de_DE", {{1016, u"Kein Java {0} (de_DE)"}});
        return launcher(b, L"lang.exe");
    }
};

TEST_F(UserLanguage, GermanLocaleTakesTheGermanTextsLaterGroupWinning) {
    if (!test::runningUnderWine()) GTEST_SKIP() << "the Unix locale exists only under Wine";
    std::wstring program = exe();
    test::RunResult german = runIn(program, L"de_DE.UTF-8");
    EXPECT_EQ(german.exitCode, 1u) << show(german);
    EXPECT_EQ(german.err, "Kein Java 64 (de_DE)\n") << show(german);

    // Austrian German (0x0C07, de_AT) matches the "de" group only.
    test::RunResult austrian = runIn(program, L"de_AT.UTF-8");
    EXPECT_EQ(austrian.err, "Kein Java 64 (de)\n") << show(austrian);

    test::RunResult english = runIn(program, L"en_US.UTF-8");
    EXPECT_EQ(english.err, "No Java 64\n") << show(english);
}
