// Reading valid blocks in-process; damaged blocks end the process and are covered end to end.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "common/Format.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "config/Language.h"
#include "log/Log.h"

using namespace vexlo;
using vexlo::pack::Block;

namespace {

// The log is on for this whole program, in a private directory, so that its lines can be checked.
const bool logEnvironment = (test::logIntoPrivateTemp(L"configlog"), true);

class ConfigBlockTest : public ::testing::Test {
protected:
    void SetUp() override { resetConfigForTests(); }
    void TearDown() override { resetConfigForTests(); }

    // Writes the block behind a small image and runs both passes over it.
    void load(const Block& block) {
        std::wstring path = writeFile(block);
        detail::readConfigFirstPassFrom(path);
        detail::readConfigSecondPassFrom(path);
    }
    std::wstring writeFile(const Block& block) {
        return test::writeBlockFile(dir_.file(L"image" + std::to_wstring(++count_) + L".exe"), block);
    }
    std::vector<std::wstring> logMessages() {
        std::wstring path = getLogPath();
        return path.empty() ? std::vector<std::wstring>() : test::readLog(path).messages;
    }

    test::TempDir dir_{L"config"};
    int count_ = 0;
};

std::string lookup(int id, int capacity) {
    std::vector<char> buffer(static_cast<size_t>(capacity) + 8, 'X');
    int n = getConfigString(id, buffer.data(), capacity);
    std::string value(buffer.data());
    EXPECT_EQ(n, static_cast<int>(value.size()));
    return value;
}

}  // namespace

TEST_F(ConfigBlockTest, EmptyBlockGivesAbsentResults) {
    load(Block());
    char buffer[16] = "garbage";
    EXPECT_EQ(getConfigString(ids::kServiceName, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(getConfigInt(ids::kExecutableType), 0);
    EXPECT_EQ(copyConfigString(ids::kServiceName), "");
    std::string text = "keep";
    appendConfigText(ids::kServiceName, text);
    EXPECT_EQ(text, "keep");
    std::wstring wide = L"keep";
    appendConfigWide(ids::kServiceName, wide);
    EXPECT_EQ(wide, L"keep");
    wchar_t wbuffer[8] = L"junk";
    EXPECT_EQ(getConfigWide(ids::kServiceName, wbuffer, 8), 0);
    EXPECT_STREQ(wbuffer, L"");
    EXPECT_EQ(getMessageText(ids::kMsgErrorTitle), L"");
    // Absent id 107: errors go to the console.
    EXPECT_FALSE(detail::errorDisplayIsMessageBox());
    // Nothing follows the three counts.
    EXPECT_EQ(includedFilesOffset(), test::kMinimalImageBlockOffset + 32);
}

TEST_F(ConfigBlockTest, LaterEntryOfAnIdWins) {
    Block block;
    block.set(ids::kServiceName, "first").set(ids::kUseRuntimeArgument2, "other").set(ids::kServiceName, "second");
    block.message(ids::kMsgErrorTitle, u"old").message(1001, u"kept").message(ids::kMsgErrorTitle, u"new");
    load(block);
    EXPECT_EQ(copyConfigString(ids::kServiceName), "second");
    EXPECT_EQ(copyConfigString(ids::kUseRuntimeArgument2), "other");
    EXPECT_EQ(getMessageText(ids::kMsgErrorTitle), L"new");
    EXPECT_EQ(getMessageText(1001), L"kept");
}

TEST_F(ConfigBlockTest, ValuesKeepEveryByteAndWidenOneToOne) {
    Block block;
    block.set(ids::kWorkingDirectory, std::string("a\xE9\xFF\x80 z"));
    block.set(147, std::string("in\0side", 7));
    load(block);
    EXPECT_EQ(copyConfigString(ids::kWorkingDirectory), "a\xE9\xFF\x80 z");
    EXPECT_EQ(copyConfigString(147), std::string("in\0side", 7));
    EXPECT_EQ(getConfigWide(ids::kWorkingDirectory), std::wstring(L"a\u00e9\u00ff\u0080 z"));
    std::wstring appended = L">";
    appendConfigWide(ids::kWorkingDirectory, appended);
    EXPECT_EQ(appended, L">a\u00e9\u00ff\u0080 z");
    EXPECT_EQ(widenBytes("\xC4x"), L"\u00c4x");
    // A message id without a message falls back to the widened configuration value.
    EXPECT_EQ(getMessageText(ids::kWorkingDirectory), L"a\u00e9\u00ff\u0080 z");
}

TEST_F(ConfigBlockTest, MessagesKeepUtf16Text) {
    Block block;
    block.message(ids::kMsgLaunchFailed, u"\u65e5\u672c\u8a9e {0} \U0001F600").message(ids::kMsgMainClassNotFound, u"");
    block.set(ids::kMsgMainClassNotFound, "from config");
    load(block);
    EXPECT_EQ(getMessageText(ids::kMsgLaunchFailed), L"\u65e5\u672c\u8a9e {0} \U0001F600");
    // An empty message also falls back to the configuration value.
    EXPECT_EQ(getMessageText(ids::kMsgMainClassNotFound), L"from config");
}

TEST_F(ConfigBlockTest, TruncatedLookupIsCutAndLogged) {
    Block block;
    block.set(ids::kServiceName, "service");
    load(block);
    EXPECT_EQ(lookup(101, 2), "s");
    EXPECT_EQ(lookup(101, 7), "servic");
    EXPECT_EQ(lookup(101, 8), "service");
    auto messages = logMessages();
    ASSERT_FALSE(getLogPath().empty());
    EXPECT_NE(std::find(messages.begin(), messages.end(), L"ERROR: config string 101 truncated (2 7)"), messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(), L"ERROR: config string 101 truncated (7 7)"), messages.end());
    EXPECT_EQ(std::find(messages.begin(), messages.end(), L"ERROR: config string 101 truncated (8 7)"), messages.end());

    // The launcher kind is read with room for one character.
    char kind[2] = {'?', '?'};
    getConfigString(ids::kServiceName, kind, sizeof kind);
    EXPECT_EQ(kind[0], 's');
    EXPECT_EQ(kind[1], '\0');

    // The wide lookup never writes past the capacity either.
    wchar_t wide[4] = {L'#', L'#', L'#', L'#'};
    EXPECT_EQ(getConfigWide(ids::kServiceName, wide, 3), 2);
    EXPECT_STREQ(wide, L"se");
    EXPECT_EQ(wide[3], L'#');
}

TEST_F(ConfigBlockTest, IntegerValuesFollowDecimalConversion) {
    Block block;
    block.set(1, "42").set(2, "  -17").set(3, "+8").set(4, "12abc").set(5, "abc").set(6, "").set(7, "0x10");
    block.set(8, "\t 3 4");
    load(block);
    EXPECT_EQ(getConfigInt(1), 42);
    EXPECT_EQ(getConfigInt(2), -17);
    EXPECT_EQ(getConfigInt(3), 8);
    EXPECT_EQ(getConfigInt(4), 12);
    EXPECT_EQ(getConfigInt(5), 0);
    EXPECT_EQ(getConfigInt(6), 0);
    EXPECT_EQ(getConfigInt(7), 0);
    EXPECT_EQ(getConfigInt(8), 3);
    EXPECT_EQ(getConfigInt(9), 0);
}

TEST_F(ConfigBlockTest, ErrorDisplayModeFollowsId107) {
    struct Case {
        const char* value;
        bool messageBox;
    };
    for (Case c : {Case{"1", true}, Case{"5", true}, Case{"0", false}, Case{"2", false}, Case{"4", false},
                   Case{"x", false}, Case{" 5", true}}) {
        resetConfigForTests();
        Block block;
        block.set(ids::kExecutableType, c.value);
        load(block);
        EXPECT_EQ(detail::errorDisplayIsMessageBox(), c.messageBox) << "id 107 = '" << c.value << "'";
    }
}

TEST_F(ConfigBlockTest, OverrideGroupsMatchByPrefixInBlockOrder) {
    // The groups are built around whatever locale this machine reports.
    std::string locale = languageSelection();
    ASSERT_GE(locale.size(), 2u);
    std::string language = locale.substr(0, 2);
    Block block;
    block.message(1, u"base 1").message(2, u"base 2").message(3, u"base 3").message(4, u"base 4");
    block.group(language, {{1, u"language 1"}, {2, u"language 2"}, {5, u"language 5"}});
    block.group("zz", {{1, u"other 1"}, {6, u"other 6"}});
    block.group(locale, {{2, u"locale 2"}});
    block.group(locale + "_X", {{3, u"too long"}});
    block.group("", {{4, u"everyone 4"}});
    load(block);
    EXPECT_EQ(getMessageText(1), L"language 1");
    EXPECT_EQ(getMessageText(2), L"locale 2");
    EXPECT_EQ(getMessageText(3), L"base 3");
    EXPECT_EQ(getMessageText(4), L"everyone 4");
    EXPECT_EQ(getMessageText(5), L"language 5");
    EXPECT_EQ(getMessageText(6), L"");
    EXPECT_EQ(selectedLanguage(), language);
    EXPECT_EQ(selectedCountry(), locale.size() == 5 ? locale.substr(3, 2) : std::string());
}

TEST_F(ConfigBlockTest, PrefixComparisonIsCaseSensitive) {
    std::string locale = languageSelection();
    std::string upper = locale;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    ASSERT_NE(upper, locale);
    Block block;
    block.message(1, u"base").group(upper, {{1, u"upper"}});
    load(block);
    EXPECT_EQ(getMessageText(1), L"base");
}

TEST_F(ConfigBlockTest, IncludedFilesStartAfterTheGroups) {
    Block block;
    block.set(ids::kIncludedFileCount, "1").message(7, u"m").group("zz", {{7, u"n"}}).include("payload");
    std::vector<uint8_t> all = pack::serializeBlock(block);
    load(block);
    // The included file's data is its 8-byte length and its 7 bytes.
    EXPECT_EQ(includedFilesOffset(), test::kMinimalImageBlockOffset + all.size() - 15);
}

TEST_F(ConfigBlockTest, FirstPassAloneFillsOnlyTheConfigurationTable) {
    Block block;
    block.set(ids::kServiceName, "name").message(ids::kMsgErrorTitle, u"title");
    std::wstring path = writeFile(block);
    detail::readConfigFirstPassFrom(path);
    EXPECT_EQ(copyConfigString(ids::kServiceName), "name");
    EXPECT_EQ(getMessageText(ids::kMsgErrorTitle), L"");
    // Until the second pass the display mode stays at message box.
    EXPECT_TRUE(detail::errorDisplayIsMessageBox());
}
