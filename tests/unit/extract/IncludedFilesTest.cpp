// Copying one included file's data and the names that may be extracted; the whole extraction from a
// launcher's block is covered end to end.
#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "common/Handles.h"
#include "config/BlockFormat.h"
#include "extract/IncludedFileName.h"
#include "extract/IncludedFiles.h"
#include "log/Log.h"

namespace vexlo {
namespace {

// The log is on for this whole program, in a private directory, so that its lines can be checked.
const bool logEnvironment = (test::logIntoPrivateTemp(L"extractlog"), true);

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

std::string masked(std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(static_cast<unsigned char>(c) ^ blockformat::kIncludedFileMask);
    return bytes;
}

std::string le64(long long value) {
    std::string bytes;
    for (int k = 0; k < 8; ++k)
        bytes.push_back(static_cast<char>((static_cast<unsigned long long>(value) >> (8 * k)) & 0xFF));
    return bytes;
}

bool lastLogLineIs(const std::wstring& message) {
    auto messages = test::readLog(getLogPath()).messages;
    return !messages.empty() && messages.back() == message;
}

class IncludedFilesTest : public ::testing::Test {
protected:
    test::TempDir dir{L"included"};
    int count = 0;

    unique_file openSource(const std::string& bytes) {
        std::wstring path = dir.file(L"source" + std::to_wstring(++count));
        EXPECT_TRUE(test::writeFileBytes(path, bytes));
        return unique_file(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    std::string targetPath(const char* name) const { return test::wideToUtf8(dir.file(test::utf8ToWide(name))); }
    static unique_file openTarget(const std::string& path, DWORD access = GENERIC_WRITE) {
        return unique_file(CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
    }
    static long long position(HANDLE file) {
        LARGE_INTEGER zero{}, at{};
        SetFilePointerEx(file, zero, &at, FILE_CURRENT);
        return at.QuadPart;
    }
};

TEST_F(IncludedFilesTest, CopiesExactlyTheCountThroughTheBuffer) {
    for (size_t size : {1u, 5999u, 6000u, 6001u, 12001u}) {
        for (bool removeMask : {true, false}) {
            const std::string data = pattern(size);
            // Bytes after the record belong to the next one and must stay unread.
            unique_file source = openSource((removeMask ? masked(data) : data) + "NEXT");
            const std::string target = targetPath("copy.bin");
            {
                unique_file out = openTarget(target);
                SetEndOfFile(out.get());
                EXPECT_EQ(detail::copyMaskedData(source.get(), out.get(), static_cast<std::int64_t>(size), removeMask),
                          0);
            }
            EXPECT_EQ(position(source.get()), static_cast<long long>(size)) << size;
            EXPECT_EQ(test::readFileBytes(test::utf8ToWide(target)).value_or("<none>"), data)
                << size << " mask " << removeMask;
        }
    }
}

TEST_F(IncludedFilesTest, WriteFailureReportsTheRestOfTheChunk) {
    const std::string target = targetPath("readonly.bin");
    for (auto [size, unwritten] : {std::pair{12001, 6000}, std::pair{10, 10}}) {
        unique_file source = openSource(pattern(static_cast<size_t>(size)));
        unique_file out = openTarget(target, GENERIC_READ);
        EXPECT_EQ(detail::copyMaskedData(source.get(), out.get(), size, true), kExtractWriteFailed);
        EXPECT_TRUE(lastLogLineIs(L"ERROR: WriteFile failed " + std::to_wstring(unwritten) + L" " +
                                  std::to_wstring(ERROR_ACCESS_DENIED)))
            << test::wideToUtf8(test::readLog(getLogPath()).text);
    }
}

TEST_F(IncludedFilesTest, RecordsOfLengthZeroOrLessCreateNothingAndExistingTargetsAreReplaced) {
    const std::string first = targetPath("first.txt"), none = targetPath("none.txt"), negative = targetPath("neg.txt"),
                      last = targetPath("last.txt");
    ASSERT_TRUE(test::writeFileBytes(test::utf8ToWide(last), "an older and much longer content"));
    unique_file source = openSource(le64(3) + masked("abc") + le64(0) + le64(-5) + le64(2) + masked("xy"));
    for (const std::string* target : {&first, &none, &negative, &last})
        EXPECT_EQ(detail::extractOneFile(source.get(), *target), 0) << *target;
    EXPECT_EQ(test::readFileBytes(test::utf8ToWide(first)).value_or("<none>"), "abc");
    EXPECT_FALSE(test::fileExists(test::utf8ToWide(none)));
    EXPECT_FALSE(test::fileExists(test::utf8ToWide(negative)));
    EXPECT_EQ(test::readFileBytes(test::utf8ToWide(last)).value_or("<none>"), "xy");
}

TEST(IncludedFileNames, OnlyNamesThatStayBelowTheDirectoryAreAccepted) {
    const std::string longest(kMaxIncludedFileNameLength, 'n'), tooLong = longest + "n";
    for (std::string name : {"a.jar", "lib\\b.dll", "a\\b\\c.txt", "a..b", "..a", "x..", "console.txt", "com10", "lpt",
                             "nul_file.txt", "name with blanks.txt", "\xe4\xf6.bin", longest.c_str()})
        EXPECT_EQ(includedFileNameProblem(name), nullptr) << name;
    for (std::string name : {"",
                             "\\x",
                             "/x",
                             "\\\\server\\share\\x",
                             "\\\\?\\C:\\x",
                             "C:x",
                             "C:\\x",
                             "c:/x",
                             "..",
                             ".",
                             ".\\x.txt",
                             "..\\x",
                             "../x",
                             "lib/x",
                             "a\\..\\..\\x",
                             "a\\..",
                             "...",
                             ". .",
                             ".. ",
                             "a\\...\\b",
                             "a\\",
                             "a\\\\b",
                             "x:stream",
                             "a;b",
                             "a*",
                             "a?",
                             "a|b",
                             "a<b",
                             "a\"b",
                             "NUL",
                             "con.txt",
                             "lib\\COM1",
                             "Lpt9.log",
                             "aux .x",
                             "CONIN$",
                             "com\xb9",
                             "a\tb",
                             "a\x7f",
                             tooLong.c_str()})
        EXPECT_NE(includedFileNameProblem(name), nullptr) << name;
}

}  // namespace
}  // namespace vexlo
