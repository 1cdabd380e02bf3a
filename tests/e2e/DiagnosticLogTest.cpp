// The log file that a real launcher run writes into its temporary directory. The runs print the usage, which
// is quick; the service dispatcher takes seconds to give up under Wine.
#include <regex>

#include "LauncherFixture.h"
#include "config/ConfigIds.h"

using namespace vexlo;
using vexlo::e2e::show;

namespace {

class DiagnosticLog : public e2e::LauncherFixture {
protected:
    std::wstring exe() {
        pack::Block b;
        b.set(ids::kServiceName, "VexloLogNoSuchService");
        return launcher(b, L"logged.exe");
    }

    test::RunResult runWith(const std::wstring& program,
                            const std::map<std::wstring, std::optional<std::wstring>>& vars) {
        test::RunOptions o = options({L"/help"});
        for (const auto& [name, value] : vars) o.env[name] = value;
        return test::runProcess(program, o);
    }
};

std::wstring fileName(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

}  // namespace

TEST_F(DiagnosticLog, YesWritesTheNumberedFileWithHeaderAndPrefixedLines) {
    std::wstring program = exe();
    test::RunResult r = run(program, {L"/help"}, true);
    ASSERT_EQ(r.exitCode, 0u) << show(r);
    auto files = test::logFiles(tempDir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fileName(files[0]), L"qdr_nlog_1.log");

    std::string raw = test::readFileBytes(files[0]).value_or("");
    test::LogContent log = test::readLog(files[0]);
    EXPECT_TRUE(log.hasBom);
    EXPECT_TRUE(log.crlfOnly);
    EXPECT_NE(raw.find("\r\n\r\n["), std::string::npos) << "no empty line after the header";
    std::wregex header(
        L"Started executable (.*) at [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-3][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
    std::wsmatch m;
    ASSERT_TRUE(std::regex_match(log.header, m, header)) << test::wideToUtf8(log.header);
    EXPECT_EQ(_wcsicmp(fileName(m[1].str()).c_str(), L"logged.exe"), 0) << test::wideToUtf8(log.header);

    std::wregex prefixed(L"\\[[0-9]+:[0-9]{1,3}\\] .*");
    for (const auto& line : log.lines) EXPECT_TRUE(std::regex_match(line, prefixed)) << test::wideToUtf8(line);
    EXPECT_TRUE(test::logHas(log, L"command line ", true));
}

TEST_F(DiagnosticLog, EachRunTakesTheFirstFreeNumber) {
    std::wstring program = exe();
    test::writeFileBytes(tempDir.file(L"qdr_nlog_1.log"), "kept");
    test::writeFileBytes(tempDir.file(L"qdr_nlog_3.log"), "kept");
    for (int i = 0; i < 3; ++i) ASSERT_EQ(run(program, {L"/help"}, true).exitCode, 0u);
    std::vector<std::wstring> names;
    for (const auto& f : test::logFiles(tempDir.path())) names.push_back(fileName(f));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"qdr_nlog_1.log", L"qdr_nlog_2.log", L"qdr_nlog_3.log",
                                                L"qdr_nlog_4.log", L"qdr_nlog_5.log"}));
    EXPECT_EQ(test::readFileBytes(tempDir.file(L"qdr_nlog_1.log")).value_or(""), "kept");
    EXPECT_EQ(test::readFileBytes(tempDir.file(L"qdr_nlog_3.log")).value_or(""), "kept");
}

TEST_F(DiagnosticLog, OnlyLowerCaseYesSwitchesItOn) {
    std::wstring program = exe();
    for (const wchar_t* value : {L"Yes", L"1", L"YES", L"yes ", L" yes", L"true", L""}) {
        test::RunResult r = runWith(program, {{L"VEXLO_LOG", value}, {L"QUANDREL_LOG", value}});
        EXPECT_EQ(r.exitCode, 0u) << show(r);
        EXPECT_TRUE(test::logFiles(tempDir.path()).empty()) << "value '" << test::wideToUtf8(value) << "'";
    }
    test::RunResult r = runWith(program, {{L"VEXLO_LOG", std::nullopt}, {L"QUANDREL_LOG", std::nullopt}});
    EXPECT_EQ(r.exitCode, 0u) << show(r);
    EXPECT_TRUE(test::logFiles(tempDir.path()).empty());
}

TEST_F(DiagnosticLog, EitherVariableSwitchesItOn) {
    std::wstring program = exe();
    runWith(program, {{L"VEXLO_LOG", std::nullopt}, {L"QUANDREL_LOG", L"yes"}});
    EXPECT_EQ(test::logFiles(tempDir.path()).size(), 1u);
    runWith(program, {{L"VEXLO_LOG", L"no"}, {L"QUANDREL_LOG", L"yes"}});
    EXPECT_EQ(test::logFiles(tempDir.path()).size(), 2u);
    runWith(program, {{L"VEXLO_LOG", L"yes"}, {L"QUANDREL_LOG", L"Yes"}});
    EXPECT_EQ(test::logFiles(tempDir.path()).size(), 3u);
}
