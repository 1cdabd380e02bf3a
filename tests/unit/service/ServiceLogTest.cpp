// The service log writer: the child's output split into prefixed lines across reads, the last lines kept,
// rotation by size, by day or never, and a file that cannot be written.
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

// Numbered by size: every file within the limit, at most `keep` old ones (a leftover beyond them goes), and the
// lines across the files, oldest first, a gapless run ending with the last one written.
TEST_F(ServiceLogTest, SizeRotationKeepsTheConfiguredOldFilesAndLosesNoLineBetweenThem) {
    struct Case {
        const char* keep;
        unsigned oldFiles;
    };
    for (Case c : {Case{"3", 3}, Case{"1", 1}, Case{"0", 0}}) {
        SCOPED_TRACE(c.keep);
        test::TempDir each{L"size"};
        std::wstring path = each.file(L"svc.service.log");
        ASSERT_TRUE(test::writeFileBytes(each.file(L"svc.service.7.log"), "leftover"));
        setConfigValueForTests(ids::kOutputMaxSize, "1000");
        setConfigValueForTests(ids::kOutputKeep, c.keep);
        ASSERT_TRUE(openServiceLog(path));
        // Several lines per chunk, as the drain hands them over.
        for (int i = 0; i < 200; i += 4)
            writeChildOutput("line " + std::to_string(i) + "\nline " + std::to_string(i + 1) + "\nline " +
                             std::to_string(i + 2) + "\nline " + std::to_string(i + 3) + "\n");
        closeServiceLog();

        std::vector<std::wstring> files;
        for (unsigned n = c.oldFiles; n >= 1; --n)
            files.push_back(each.file(L"svc.service." + std::to_wstring(n) + L".log"));
        files.push_back(path);
        EXPECT_FALSE(test::readFileBytes(each.file(L"svc.service." + std::to_wstring(c.oldFiles + 1) + L".log")));
        EXPECT_FALSE(test::readFileBytes(each.file(L"svc.service.7.log")));
        int expected = -1;
        for (const std::wstring& file : files) {
            std::optional<std::string> bytes = test::readFileBytes(file);
            ASSERT_TRUE(bytes) << test::wideToUtf8(file);
            EXPECT_LE(bytes->size(), 1000u);
            for (const std::string& line : lines(file)) {
                int number = std::stoi(line.substr(line.find("line ") + 5));
                if (expected >= 0) {
                    EXPECT_EQ(number, expected);
                }
                expected = number + 1;
            }
        }
        EXPECT_EQ(expected, 200);
        resetServiceLogForTests();
    }
}

TEST_F(ServiceLogTest, KeepsTheLastTwentyChildLines) {
    ASSERT_TRUE(openServiceLog(dir.file(L"last.log")));
    for (int i = 0; i < 100; ++i) writeChildOutput("line " + std::to_string(i) + "\n");
    std::vector<std::string> kept = lastChildLines();
    ASSERT_EQ(kept.size(), 20u);
    EXPECT_EQ(kept.front(), "line 80");
    EXPECT_EQ(kept.back(), "line 99");
}

SYSTEMTIME clockNow;
void testClock(SYSTEMTIME& now) { now = clockNow; }

// Two midnights crossed: each day's lines under that day's name, a day older than `keep` days deleted, other
// files of the folder left alone.
TEST_F(ServiceLogTest, DailyRotationNamesEachDayAndDeletesDaysBeyondKeep) {
    std::wstring path = dir.file(L"svc.service.log");
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"svc.service.2026-11-30.log"), "old"));
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"svc.service.notes.log"), "not ours"));
    setConfigValueForTests(ids::kOutputRotate, "daily");
    setConfigValueForTests(ids::kOutputMaxSize, "10");  // no effect by day
    setConfigValueForTests(ids::kOutputKeep, "1");
    setServiceLogClockForTests(testClock);
    // An earlier run's lines belong to the day they were written.
    ASSERT_TRUE(test::writeFileBytes(path, "earlier run\r\n"));
    {
        SYSTEMTIME local{2026, 12, 0, 6, 12, 0, 0, 0}, utc;
        FILETIME written;
        unique_file file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file && TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) &&
                    SystemTimeToFileTime(&utc, &written) && SetFileTime(file.get(), nullptr, nullptr, &written));
    }
    clockNow = SYSTEMTIME{2026, 12, 0, 7, 23, 59, 0, 0};
    ASSERT_TRUE(openServiceLog(path));
    writeChildOutput("day 7 a\nday 7 b\n");
    EXPECT_EQ(test::readFileBytes(dir.file(L"svc.service.2026-12-06.log")).value_or(""), "earlier run\r\n");
    EXPECT_FALSE(test::readFileBytes(dir.file(L"svc.service.2026-11-30.log")));
    clockNow = SYSTEMTIME{2026, 12, 0, 8, 0, 0, 1, 0};
    writeChildOutput("day 8\n");
    EXPECT_FALSE(test::readFileBytes(dir.file(L"svc.service.2026-12-06.log")));
    EXPECT_EQ(lines(dir.file(L"svc.service.2026-12-07.log")).size(), 2u);
    clockNow = SYSTEMTIME{2026, 12, 0, 9, 8, 0, 0, 0};
    writeChildOutput("day 9\n");
    closeServiceLog();

    EXPECT_FALSE(test::readFileBytes(dir.file(L"svc.service.2026-12-07.log"))) << "older than one day";
    std::vector<std::string> day8 = lines(dir.file(L"svc.service.2026-12-08.log")), day9 = lines(path);
    ASSERT_EQ(day8.size(), 1u);
    EXPECT_EQ(day8[0].substr(0, 11) + day8[0].substr(24), "2026-12-08 child| day 8");
    ASSERT_EQ(day9.size(), 1u);
    EXPECT_NE(day9[0].find("day 9"), std::string::npos);
    EXPECT_EQ(test::readFileBytes(dir.file(L"svc.service.notes.log")).value_or(""), "not ours");
}

// "none" has no limit; a reader that does not share deletion blocks the rename, so the lines are copied over and
// the file emptied.
TEST_F(ServiceLogTest, NoneNeverRotatesAndAHeldFileIsCopiedInstead) {
    std::wstring never = dir.file(L"never.log");
    setConfigValueForTests(ids::kOutputRotate, "none");
    setConfigValueForTests(ids::kOutputMaxSize, "100");
    ASSERT_TRUE(openServiceLog(never));
    for (int i = 0; i < 50; ++i) writeChildOutput("a line of some length\n");
    closeServiceLog();
    EXPECT_EQ(lines(never).size(), 50u);
    EXPECT_FALSE(test::readFileBytes(dir.file(L"never.1.log")));

    std::wstring held = dir.file(L"held.log");
    setConfigValueForTests(ids::kOutputRotate, "size");
    setConfigValueForTests(ids::kOutputMaxSize, "150");  // one rotation, before the last line
    ASSERT_TRUE(openServiceLog(held));
    writeChildOutput("first\n");
    unique_file reader(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    for (int i = 0; i < 3; ++i) writeChildOutput("a line of some length " + std::to_string(i) + "\n");
    closeServiceLog();
    reader.reset();
    std::string all = test::readFileBytes(dir.file(L"held.1.log")).value_or("") +
                      test::readFileBytes(held).value_or("");
    EXPECT_TRUE(test::readFileBytes(dir.file(L"held.1.log")));
    for (const char* line : {"first", "length 0", "length 1", "length 2"}) {
        size_t at = all.find(line);
        EXPECT_TRUE(at != std::string::npos && at == all.rfind(line)) << line << "\n" << all;
    }
    EXPECT_EQ(lines(held).size(), 1u);
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
