// A runtime shipped with packed class archives, prepared by a real launch that finds it through a directory
// entry of the search sequence.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "RuntimeRegistry.h"
#include "TestSupport.h"
#include "TestText.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

constexpr char kAnnouncement[] = "Preparing JRE ...";

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class PackedRuntimeE2E : public ::testing::Test {
protected:
    TempDir dir_{L"packrun"};
    TempDir temp_{L"packtemp"};
    std::wstring home_ = dir_.file(L"jre");
    // The launcher works with the canonical, lower-case form of the home.
    std::string canonicalHome_ = lowerAscii(asciiPath(home_));

    void SetUp() override {
        makeStandinRuntime(home_, "1.8.0_392", true);
        CreateDirectoryW((home_ + L"\\lib").c_str(), nullptr);
        CreateDirectoryW((home_ + L"\\lib\\ext").c_str(), nullptr);
        ASSERT_TRUE(CopyFileW((binDir() + L"\\standin_unpack200.exe").c_str(),
                              (home_ + L"\\bin\\unpack200.exe").c_str(), FALSE));
    }

    void put(const std::wstring& relative, const std::string& content) {
        ASSERT_TRUE(writeFileBytes(home_ + L"\\" + relative, content));
    }
    bool has(const std::wstring& relative) const { return fileExists(home_ + L"\\" + relative); }
    std::vector<std::string> toolRuns() const {
        return splitCrLfLines(readFileBytes(home_ + L"\\bin\\unpack200_runs.txt").value_or(""));
    }
    std::string expectedArguments(const std::string& relativeArchive) const {
        std::string archive = canonicalHome_ + "\\" + relativeArchive;
        return "-r \"" + archive + ".pack\" \"" + archive + "\"";
    }

    struct Launch {
        RunResult result;
        LogContent log;
    };
    Launch launch(const pack::Block& extra = {}) {
        pack::Block block = extra;
        block.set(ids::kServiceName, "vexlo-packed-test");
        block.set(ids::kSearchSequence, "A" + asciiPath(home_));
        block.message(ids::kMsgUnpackFailed, "The runtime could not be unpacked.");
        Launch run;
        std::wstring exe = makeLauncher(dir_.path(), L"app.exe", block);
        if (exe.empty()) return run;
        RunOptions options;
        options.args = {L"-run"};
        options.env = isolatedEnvironment(temp_.path(), true);
        run.result = runProcess(exe, options);
        std::wstring logPath = newestLog(temp_.path());
        if (logPath.empty()) {
            ADD_FAILURE() << "no log in " << wideToUtf8(temp_.path());
        } else {
            run.log = readLog(logPath);
            DeleteFileW(logPath.c_str());
        }
        return run;
    }
    static int messages(const LogContent& log, std::wstring_view text) {
        int n = 0;
        for (const std::wstring& m : log.messages) n += m == text ? 1 : 0;
        return n;
    }
};

TEST_F(PackedRuntimeE2E, APackedArchiveIsUnpackedOnceAndAnnouncedOnce) {
    put(L"lib\\rt.jar.pack", "packed rt");
    Launch first = launch();
    ASSERT_TRUE(first.result.started);
    EXPECT_EQ(count(first.result.out, kAnnouncement), 1) << first.result.out;
    EXPECT_NE(first.result.out.find(std::string(kAnnouncement) + "\r\n"), std::string::npos);
    EXPECT_EQ(toolRuns(), std::vector<std::string>{expectedArguments("lib\\rt.jar")});
    EXPECT_TRUE(has(L"lib\\rt.jar"));
    EXPECT_FALSE(has(L"lib\\rt.jar.pack"));

    std::wstring tool = utf8ToWide(canonicalHome_ + "\\bin\\unpack200.exe");
    EXPECT_EQ(messages(first.log, L"Unpacking JRE"), 1);
    EXPECT_EQ(messages(first.log, tool), 1);
    EXPECT_EQ(messages(first.log, utf8ToWide(expectedArguments("lib\\rt.jar"))), 1);
    EXPECT_EQ(messages(first.log, L"unpack done"), 1);
    EXPECT_EQ(messages(first.log, L"Unpacking JRE done"), 1);
    // The unpacked runtime is the one that loads.
    EXPECT_TRUE(logHas(first.log, L"Loading of JVM-DLL successful"));

    Launch second = launch();
    EXPECT_EQ(second.result.out.find(kAnnouncement), std::string::npos) << second.result.out;
    EXPECT_EQ(toolRuns().size(), 1u);
    EXPECT_EQ(messages(second.log, L"Unpacking JRE"), 0);
}

TEST_F(PackedRuntimeE2E, APackedFileBesideItsArchiveRunsNothing) {
    put(L"lib\\rt.jar", "archive");
    put(L"lib\\rt.jar.pack", "packed");
    Launch run = launch();
    EXPECT_EQ(run.result.out.find(kAnnouncement), std::string::npos);
    EXPECT_TRUE(toolRuns().empty());
    EXPECT_TRUE(has(L"lib\\rt.jar.pack"));
    EXPECT_TRUE(logHas(run.log, utf8ToWide("checking " + canonicalHome_ + "\\lib\\rt.jar")));
    EXPECT_EQ(messages(run.log, L"Unpacking JRE done"), 0);
}

TEST_F(PackedRuntimeE2E, LibAndLibExtShareOneAnnouncement) {
    put(L"lib\\ext\\zipfs.jar.pack", "zipfs");
    put(L"lib\\rt.jar.pack", "rt");
    Launch run = launch();
    EXPECT_EQ(count(run.result.out, kAnnouncement), 1) << run.result.out;
    EXPECT_EQ(toolRuns(),
              (std::vector<std::string>{expectedArguments("lib\\rt.jar"), expectedArguments("lib\\ext\\zipfs.jar")}));
    EXPECT_EQ(messages(run.log, L"Unpacking JRE"), 1);
    EXPECT_EQ(messages(run.log, L"Unpacking JRE done"), 1);
    EXPECT_TRUE(has(L"lib\\ext\\zipfs.jar"));
    EXPECT_FALSE(has(L"lib\\ext\\zipfs.jar.pack"));
}

TEST_F(PackedRuntimeE2E, AMissingUnpackingToolEndsTheLaunch) {
    ASSERT_TRUE(DeleteFileW((home_ + L"\\bin\\unpack200.exe").c_str()));
    put(L"lib\\rt.jar.pack", "rt");
    Launch run = launch();
    EXPECT_EQ(run.result.exitCode, 1u);
    EXPECT_TRUE(logHas(run.log, L"could not create unpack process"));
    EXPECT_NE(run.result.err.find("The runtime could not be unpacked."), std::string::npos) << run.result.err;
    EXPECT_FALSE(logHas(run.log, L"waiting for unpack200 to finish"));
}

}  // namespace
}  // namespace vexlo::test
