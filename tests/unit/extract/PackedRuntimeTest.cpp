#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "extract/PackedRuntime.h"
#include "TestText.h"

namespace vexlo {
namespace {

using test::splitCrLfLines;

using test::TempDir;

std::string ansi(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) result.push_back(static_cast<char>(c));
    return result;
}

// A runtime home with the stand-in unpacking tool in bin; paths are kept ASCII so the 8-bit form is exact.
class PackedRuntimeTest : public ::testing::Test {
protected:
    TempDir dir{L"packedjre"};
    std::wstring home = dir.subdir(L"jre");

    void SetUp() override {
        dir.subdir(L"jre\\bin");
        dir.subdir(L"jre\\lib\\ext");
        ASSERT_TRUE(CopyFileW((test::binDir() + L"\\standin_unpack200.exe").c_str(),
                              (home + L"\\bin\\unpack200.exe").c_str(), FALSE));
    }

    std::string homeAnsi() const { return ansi(home); }
    std::wstring at(const std::wstring& relative) const { return home + L"\\" + relative; }
    void put(const std::wstring& relative, const std::string& content) {
        ASSERT_TRUE(test::writeFileBytes(at(relative), content));
    }
    std::vector<std::string> toolRuns() const {
        auto content = test::readFileBytes(at(L"bin\\unpack200_runs.txt"));
        return content ? splitCrLfLines(*content) : std::vector<std::string>{};
    }
    std::string expectedRun(const std::string& relativeArchive) const {
        std::string archive = homeAnsi() + "\\" + relativeArchive;
        return "-r \"" + archive + ".pack\" \"" + archive + "\"";
    }
};

TEST_F(PackedRuntimeTest, RestoresAMissingArchiveAndRemovesThePackedFile) {
    put(L"lib\\rt.jar.pack", "packed rt");
    preparePackedRuntime(homeAnsi());

    EXPECT_EQ(toolRuns(), std::vector<std::string>{expectedRun("lib\\rt.jar")});
    EXPECT_EQ(test::readFileBytes(at(L"lib\\rt.jar")).value_or("<missing>"), "packed rt");
    EXPECT_FALSE(test::fileExists(at(L"lib\\rt.jar.pack")));

    // Nothing is left to do the second time.
    preparePackedRuntime(homeAnsi());
    EXPECT_EQ(toolRuns().size(), 1u);
}

TEST_F(PackedRuntimeTest, LeavesAPackedFileAloneWhenItsArchiveExists) {
    put(L"lib\\rt.jar", "archive");
    put(L"lib\\rt.jar.pack", "packed");
    preparePackedRuntime(homeAnsi());

    EXPECT_TRUE(toolRuns().empty());
    EXPECT_EQ(test::readFileBytes(at(L"lib\\rt.jar")).value_or(""), "archive");
    EXPECT_TRUE(test::fileExists(at(L"lib\\rt.jar.pack")));
}

TEST_F(PackedRuntimeTest, UnpacksLibBeforeLibExtAndSkipsOtherFiles) {
    put(L"lib\\ext\\zipfs.jar.pack", "zipfs");
    put(L"lib\\rt.jar.pack", "rt");
    put(L"lib\\charsets.jar.pack", "charsets");
    put(L"lib\\notes.pack", "not an archive");
    put(L"lib\\jce.jar", "jce");
    preparePackedRuntime(homeAnsi());

    std::vector<std::string> runs = toolRuns();
    ASSERT_EQ(runs.size(), 3u);
    // Within one directory the enumeration order decides; lib\ext always comes last.
    EXPECT_EQ(runs[2], expectedRun("lib\\ext\\zipfs.jar"));
    std::vector<std::string> libRuns{runs[0], runs[1]};
    std::sort(libRuns.begin(), libRuns.end());
    EXPECT_EQ(libRuns, (std::vector<std::string>{expectedRun("lib\\charsets.jar"), expectedRun("lib\\rt.jar")}));
    for (const wchar_t* name : {L"lib\\rt.jar", L"lib\\charsets.jar", L"lib\\ext\\zipfs.jar"}) {
        EXPECT_TRUE(test::fileExists(at(name))) << test::wideToUtf8(name);
        EXPECT_FALSE(test::fileExists(at(std::wstring(name) + L".pack"))) << test::wideToUtf8(name);
    }
    EXPECT_TRUE(test::fileExists(at(L"lib\\notes.pack")));
}

TEST_F(PackedRuntimeTest, DeletesThePackedFileWhenTheToolKeepsIt) {
    put(L"bin\\keep_packed.txt", "");
    put(L"lib\\ext\\a.jar.pack", "a");
    preparePackedRuntime(homeAnsi());

    EXPECT_EQ(toolRuns().size(), 1u);
    EXPECT_TRUE(test::fileExists(at(L"lib\\ext\\a.jar")));
    EXPECT_FALSE(test::fileExists(at(L"lib\\ext\\a.jar.pack")));
}

TEST_F(PackedRuntimeTest, AMissingPackedFileStartsNoTool) {
    detail::unpackArchive(homeAnsi(), homeAnsi() + "\\lib\\gone.jar.pack");
    EXPECT_TRUE(toolRuns().empty());
    EXPECT_FALSE(test::fileExists(at(L"lib\\gone.jar")));
}

}  // namespace
}  // namespace vexlo
