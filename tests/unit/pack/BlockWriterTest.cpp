#include <gtest/gtest.h>

#include <filesystem>

#include "BlockWriter.h"
#include "TestSupport.h"
#include "config/ConfigIds.h"

using namespace vexlo;
using vexlo::pack::Block;

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace

TEST(BlockWriter, EmptyBlockIsMagicHeaderAndThreeZeroCounts) {
    Block block;
    block.header1 = 0x01020304;
    block.header2 = 0xA0B0C0D0;
    block.header3 = 0x1122334455667788ull;
    std::vector<uint8_t> expected = bytes({0xD5, 0x13, 0xE4, 0xE8, 0x04, 0x03, 0x02, 0x01, 0xD0, 0xC0,
                                           0xB0, 0xA0, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11});
    append(expected, bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(pack::serializeBlock(block), expected);
}

TEST(BlockWriter, EntriesInOrderWithLittleEndianFields) {
    Block block;
    block.set(ids::kServiceName, "svc").set(-2, "").message(ids::kMsgErrorTitle, u"T\u00e9");
    block.group("de", {{7, u"x"}}).group("", {});
    block.include(std::string("\x00\x5A\xFF", 3));
    std::vector<uint8_t> expected(20, 0);
    std::vector<uint8_t> head = pack::serializeBlock(Block());
    std::copy(head.begin(), head.begin() + 20, expected.begin());
    append(expected, bytes({2, 0, 0, 0}));                                     // N1
    append(expected, bytes({101, 0, 0, 0, 3, 0, 0, 0, 's', 'v', 'c'}));        // id, length, bytes
    append(expected, bytes({0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));             // negative id, empty value
    append(expected, bytes({1, 0, 0, 0}));                                     // N2
    append(expected, bytes({0xE8, 0x03, 0, 0, 4, 0, 0, 0, 'T', 0, 0xE9, 0}));  // byte length, UTF-16LE
    append(expected, bytes({2, 0, 0, 0}));                                     // N3
    append(expected, bytes({2, 0, 0, 0, 'd', 'e', 1, 0, 0, 0, 7, 0, 0, 0, 2, 0, 0, 0, 'x', 0}));
    append(expected, bytes({0, 0, 0, 0, 0, 0, 0, 0}));                    // empty prefix, no messages
    append(expected, bytes({3, 0, 0, 0, 0, 0, 0, 0, 0x5A, 0x00, 0xA5}));  // 64-bit length, bytes ^ 0x5A
    EXPECT_EQ(pack::serializeBlock(block), expected);
}

TEST(BlockWriter, Utf8MessagesBecomeUtf16) {
    EXPECT_EQ(pack::utf8ToUtf16("a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"), u"a\u00e9\u65e5\U0001F600");
    EXPECT_EQ(pack::utf8ToUtf16("x\xC3"), u"x\uFFFD");  // cut sequence
    EXPECT_EQ(pack::utf8ToUtf16("\xFFy"), u"\uFFFDy");
    Block block;
    block.message(5, "\xD0\x96");
    EXPECT_EQ(block.messages.at(0).text, u"\u0416");
}

TEST(BlockWriter, BlockGoesAfterTheLastSectionAndReplacesAnOldOne) {
    test::TempDir dir(L"pack");
    std::wstring source = dir.file(L"image.exe");
    std::vector<uint8_t> image = test::minimalPeImage();
    // Bytes beyond the last section (an old block) must not survive a rewrite.
    std::vector<uint8_t> withTail = image;
    append(withTail, bytes({1, 2, 3, 4, 5}));
    ASSERT_TRUE(test::writeFileBytes(source, std::string(withTail.begin(), withTail.end())));

    uint64_t offset = 0;
    std::string error;
    ASSERT_TRUE(pack::blockOffset(source, &offset, &error)) << error;
    EXPECT_EQ(offset, test::kMinimalImageBlockOffset);

    std::wstring target = dir.file(L"\u0437\u0430\u043f\u0443\u0441\u043a.exe");  // Cyrillic file name
    Block block;
    block.set(1, "v");
    ASSERT_TRUE(pack::writeLauncher(source, target, block, &error)) << error;
    std::string written = test::readFileBytes(target).value_or("");
    std::vector<uint8_t> expected = image;
    append(expected, pack::serializeBlock(block));
    EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.end()), expected);
}

TEST(BlockWriter, RejectsFilesThatAreNoImage) {
    test::TempDir dir(L"pack");
    std::string error;
    uint64_t offset = 0;
    std::wstring junk = dir.file(L"junk.exe");
    ASSERT_TRUE(test::writeFileBytes(junk, "not an executable at all, but long enough to hold a header........"));
    EXPECT_FALSE(pack::blockOffset(junk, &offset, &error));
    EXPECT_FALSE(error.empty());

    // A section whose raw data would end past the file's end.
    std::vector<uint8_t> image = test::minimalPeImage();
    image.resize(0x300);
    std::wstring shortImage = dir.file(L"short.exe");
    ASSERT_TRUE(test::writeFileBytes(shortImage, std::string(image.begin(), image.end())));
    EXPECT_FALSE(pack::blockOffset(shortImage, &offset, &error));
    EXPECT_FALSE(pack::writeLauncher(shortImage, dir.file(L"out.exe"), Block(), &error));
    EXPECT_FALSE(pack::writeLauncher(dir.file(L"missing.exe"), dir.file(L"out.exe"), Block(), &error));
}

TEST(BlockWriter, TheLauncherCarriesNoBlockOfItsOwn) {
    // The built launcher's last section ends its file, so a block is read from exactly where we append it.
    uint64_t offset = 0;
    std::string error;
    ASSERT_TRUE(pack::blockOffset(test::launcherPath(), &offset, &error)) << error;
    EXPECT_EQ(offset, std::filesystem::file_size(test::launcherPath()));
}
