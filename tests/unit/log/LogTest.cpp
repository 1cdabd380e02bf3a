// The log is switched on once per process, so this program switches it on before anything logs and every
// test reads the same file.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "TestSupport.h"
#include "log/Log.h"

using namespace vexlo;

namespace {

test::TempDir* logDir = nullptr;

class LogSwitchedOn : public ::testing::Environment {
public:
    void SetUp() override {
        dir_ = std::make_unique<test::TempDir>(L"log");
        logDir = dir_.get();
        // Numbers 1 to 3 are taken, one of them by a directory.
        test::writeFileBytes(dir_->file(L"qdr_nlog_1.log"), "old");
        dir_->subdir(L"qdr_nlog_2.log");
        test::writeFileBytes(dir_->file(L"qdr_nlog_3.log"), "old");
        SetEnvironmentVariableW(L"TEMP", dir_->path().c_str());
        SetEnvironmentVariableW(L"TMP", dir_->path().c_str());
        SetEnvironmentVariableW(L"VEXLO_LOG", L"yes");
        SetEnvironmentVariableW(L"QUANDREL_LOG", nullptr);
    }
    void TearDown() override {
        logDir = nullptr;
        dir_.reset();
    }

private:
    std::unique_ptr<test::TempDir> dir_;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new LogSwitchedOn);

std::wstring fileName(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

test::LogContent currentLog() { return test::readLog(getLogPath()); }

}  // namespace

TEST(Log, FirstFreeNumberInTheTemporaryDirectory) {
    logMessage(L"numbering");
    ASSERT_FALSE(getLogPath().empty());
    EXPECT_EQ(fileName(getLogPath()), L"qdr_nlog_4.log");
    auto files = test::logFiles(logDir->path());
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(fileName(files.back()), L"qdr_nlog_4.log");
    // The older files are left alone.
    EXPECT_EQ(test::readFileBytes(logDir->file(L"qdr_nlog_1.log")).value_or(""), "old");
}

TEST(Log, Utf8WithBomCrLfAndHeaderLine) {
    logMessage(L"header check");
    test::LogContent log = currentLog();
    EXPECT_TRUE(log.hasBom);
    EXPECT_TRUE(log.crlfOnly);
    wchar_t module[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
    std::wstring expectedStart = L"Started executable " + std::wstring(module, n) + L" at ";
    ASSERT_EQ(log.header.substr(0, expectedStart.size()), expectedStart);
    std::wregex ctimeForm(L"[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}");
    EXPECT_TRUE(std::regex_match(log.header.substr(expectedStart.size()), ctimeForm)) << test::wideToUtf8(log.header);
    // ctime's own line end leaves an empty line after the header.
    EXPECT_EQ(log.text.find(log.header + L"\n\n["), 0u);
}

TEST(Log, LinesCarryElapsedTimePrefix) {
    logMessage(L"prefixed");
    logError(L"failed %d", 7);
    test::LogContent log = currentLog();
    ASSERT_GE(log.lines.size(), 2u);
    std::wregex prefix(L"\\[([0-9]+):([0-9]+)\\] (.*)");
    for (const auto& line : log.lines) {
        std::wsmatch m;
        ASSERT_TRUE(std::regex_match(line, m, prefix)) << test::wideToUtf8(line);
        EXPECT_LT(std::stoi(m[2].str()), 1000);
        // Milliseconds have no leading zeros.
        EXPECT_TRUE(m[2].str() == L"0" || m[2].str()[0] != L'0') << test::wideToUtf8(line);
    }
    EXPECT_EQ(log.messages[log.messages.size() - 2], L"prefixed");
    EXPECT_EQ(log.messages.back(), L"ERROR: failed 7");
}

TEST(Log, WideFormatConventions) {
    logMessage(L"%s|%S|%d|%I64d|%%", L"wide \u0436", "narrow", -5, 1LL << 40);
    EXPECT_EQ(currentLog().messages.back(), L"wide \u0436|narrow|-5|1099511627776|%");
}

TEST(Log, ExactlyOneLineEndIsAdded) {
    logMessage(L"error %d %d\n", 6, 0);
    logMessage(L"after");
    auto messages = currentLog().messages;
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[messages.size() - 3], L"error 6 0");
    EXPECT_EQ(messages[messages.size() - 2], L"");
    EXPECT_EQ(messages.back(), L"after");
}

TEST(Log, LastErrorSurvivesLogging) {
    SetLastError(1234);
    logMessage(L"keeps %d", 1);
    EXPECT_EQ(GetLastError(), 1234u);
    SetLastError(5);
    logError(L"keeps %d", 2);
    EXPECT_EQ(GetLastError(), 5u);
}

TEST(Log, ActivationHappensOnce) {
    logMessage(L"on");
    SetEnvironmentVariableW(L"VEXLO_LOG", L"no");
    std::wstring before = getLogPath();
    logMessage(L"still on");
    SetEnvironmentVariableW(L"VEXLO_LOG", L"yes");
    EXPECT_EQ(getLogPath(), before);
    EXPECT_EQ(currentLog().messages.back(), L"still on");
}

TEST(Log, ConcurrentLinesNeverInterleave) {
    constexpr int kThreads = 4, kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) logMessage(L"thread %d line %d of a somewhat longer text", t, i);
        });
    for (auto& th : threads) th.join();
    test::LogContent log = currentLog();
    std::vector<int> next(kThreads, 0);
    std::wregex form(L"thread ([0-9]) line ([0-9]+) of a somewhat longer text");
    for (const auto& m : log.messages) {
        std::wsmatch match;
        if (m.find(L"thread ") != 0) continue;
        ASSERT_TRUE(std::regex_match(m, match, form)) << test::wideToUtf8(m);
        int t = std::stoi(match[1].str());
        EXPECT_EQ(std::stoi(match[2].str()), next[static_cast<size_t>(t)]++);
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[static_cast<size_t>(t)], kLines);
}
