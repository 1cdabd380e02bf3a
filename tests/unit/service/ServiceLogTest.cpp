// The service log writer: the child's output split into prefixed lines across reads, the last lines kept,
// the cap, and a file that cannot be written.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "TestText.h"
#include "common/Handles.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "paths/ExecutablePath.h"
#include "service/ServiceLog.h"

namespace vexlo {
namespace {

class ServiceLogTest : public ::testing::Test {
protected:
    test::TempDir dir{L"service log"};
    void SetUp() override { resetServiceLogForTests(); }
    void TearDown() override {
        resetServiceLogForTests();
        resetConfigForTests();
    }
    std::vector<std::string> lines(const std::wstring& path) {
        return test::splitCrLfLines(test::readFileBytes(path).value_or(""));
    }
};

TEST_F(ServiceLogTest, ChildOutputBecomesPrefixedTimestampedLinesWhateverTheReadsCut) {
    std::wstring path = dir.file(L"deep\\er\\svc.service.log");
    ASSERT_TRUE(openServiceLog(path));  // folders created
    writeServiceLogLine(L"service started \u00e4");
    for (const char* chunk : {"first li", "ne\r\nsecond\nthi", "rd\n\nlast without end"}) writeChildOutput(chunk);
    endChildOutput();
    closeServiceLog();

    std::vector<std::string> got = lines(path);
    ASSERT_EQ(got.size(), 6u);
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    std::vector<std::string> texts;
    for (const std::string& line : got) {
        ASSERT_TRUE(std::regex_search(line, stamp, std::regex_constants::match_continuous)) << line;
        texts.push_back(line.substr(24));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"service started \xc3\xa4", "child| first line", "child| second",
                                               "child| third", "child| ", "child| last without end"}));
    EXPECT_EQ(lastChildLines(), (std::vector<std::string>{"first line", "second", "third", "", "last without end"}));
}

TEST_F(ServiceLogTest, KeepsTheLastTwentyChildLinesAndRenamesTheFileAtItsCap) {
    std::wstring path = dir.file(L"cap.log");
    ASSERT_TRUE(test::writeFileBytes(path + L".1", "older generation"));
    setServiceLogCapForTests(1000);
    ASSERT_TRUE(openServiceLog(path));
    for (int i = 0; i < 100; ++i) writeChildOutput("line " + std::to_string(i) + "\n");
    closeServiceLog();

    std::vector<std::string> kept = lastChildLines();
    ASSERT_EQ(kept.size(), 20u);
    EXPECT_EQ(kept.front(), "line 80");
    EXPECT_EQ(kept.back(), "line 99");
    auto current = test::readFileBytes(path), older = test::readFileBytes(path + L".1");
    ASSERT_TRUE(current && older);
    EXPECT_LE(current->size(), 1000u);
    EXPECT_LE(older->size(), 1000u);
    EXPECT_NE(older->find("child| "), std::string::npos) << "the older generation was replaced by a rotated one";
    EXPECT_NE(current->find("line 99"), std::string::npos);
    EXPECT_FALSE(takeServiceLogFailure());
}

// Held without sharing by another program (a read-only attribute would do on Windows, but Wine running as root
// writes such a file all the same).
TEST_F(ServiceLogTest, AFileThatCannotBeWrittenIsReportedOnceAndLinesAreDropped) {
    std::wstring path = dir.file(L"locked.log");
    ASSERT_TRUE(test::writeFileBytes(path, "kept\r\n"));
    {
        unique_file holder(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(openServiceLog(path));
        writeServiceLogLine(L"dropped");
        writeChildOutput("dropped too\n");
    }
    std::optional<std::wstring> failure = takeServiceLogFailure();
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->find(path + L" could not be opened"), std::wstring::npos) << test::wideToUtf8(*failure);
    EXPECT_FALSE(takeServiceLogFailure()) << "reported once";
    EXPECT_EQ(lastChildLines(), (std::vector<std::string>{"dropped too"})) << "the reason is kept for the event";
    EXPECT_EQ(test::readFileBytes(path).value_or(""), "kept\r\n");
}

TEST_F(ServiceLogTest, ThePathDefaultsBesideTheExecutableAndAnEmptySettingMeansNone) {
    EXPECT_EQ(serviceLogPath(L"svc"), exeDirLong() + L"logs\\svc.service.log");
    setConfigValueForTests(ids::kServiceLogPath, "");
    EXPECT_EQ(serviceLogPath(L"svc"), L"");
    setConfigValueForTests(ids::kServiceLogPath, "out\\s.log");
    EXPECT_EQ(serviceLogPath(L"svc"), exeDirLong() + L"out\\s.log");
    setConfigValueForTests(ids::kServiceLogPath, "D:\\logs\\s.log");
    EXPECT_EQ(serviceLogPath(L"svc"), L"D:\\logs\\s.log");
}

}  // namespace
}  // namespace vexlo
