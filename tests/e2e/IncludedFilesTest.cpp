// Included files: what an extraction leaves in the launcher temporary directory (read by a probe program
// built on the launcher's code, which keeps the directory as a normal run does), and how the launcher ends
// when the files are damaged or named to escape.

#include "LauncherFixture.h"
#include "common/Handles.h"
#include "StandinRuntimes.h"
#include "TestText.h"
#include "config/ConfigIds.h"

using namespace vexlo;
using vexlo::e2e::show;

namespace {

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 977) & 0xFF);
    return bytes;
}

pack::Block withFiles(const std::string& list, const std::vector<std::string>& files, int count = -1) {
    pack::Block block;
    block.message(ids::kMsgLaunchFailed, "Launch failed ({0})").message(ids::kMsgNoJvmFound, "No Java {0}");
    block.set(ids::kIncludedFileCount, std::to_string(count < 0 ? static_cast<int>(files.size()) : count))
        .set(ids::kIncludedFilePaths, list);
    for (const std::string& file : files) block.include(file);
    return block;
}

long long fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

std::vector<std::wstring> directoriesIn(const std::wstring& dir) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
        std::wstring name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") found.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

struct Extraction {
    test::RunResult run;
    std::map<std::string, std::string> values;  // result, launcherTempDir, unextractedPosition
    test::LogContent log;
    long long exeSize = 0;
    std::wstring dir() const { return test::utf8ToWide(values.at("launcherTempDir")); }
    std::wstring file(const std::wstring& name) const { return dir() + L"\\" + name; }
};

class IncludedFilesE2E : public e2e::LauncherFixture {
protected:
    // Extracts the block's files in the probe program, which prints what extraction left behind.
    Extraction extract(const pack::Block& block) {
        const std::wstring exe = appDir.file(L"probe" + std::to_wstring(++probes_) + L".exe");
        std::string error;
        EXPECT_TRUE(pack::writeLauncher(std::filesystem::path(test::binDir() + L"\\standin_pathprobe.exe"),
                                        std::filesystem::path(exe), block, &error))
            << error;
        Extraction e;
        e.exeSize = fileSize(exe);
        test::RunOptions o = options({L"extract"}, true);
        e.run = test::runProcess(exe, o);
        for (const std::string& line : test::splitCrLfLines(e.run.out)) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) e.values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        EXPECT_EQ(e.values.size(), 3u) << show(e.run);
        if (std::wstring log = test::newestLog(tempDir.path()); !log.empty()) e.log = test::readLog(log);
        return e;
    }
    std::string bytesOf(const std::wstring& path) { return test::readFileBytes(path).value_or("<missing>"); }

    int probes_ = 0;
};

TEST_F(IncludedFilesE2E, FilesLandWithTheirBytesAndThePositionFollowsTheLastRecord) {
    const std::string big = pattern(12001);
    Extraction e = extract(withFiles("lib\\app.jar;big.bin;empty.txt", {"PK\x03\x04 jar", big, ""}));
    ASSERT_EQ(e.values["result"], "0") << show(e.run);
    ASSERT_FALSE(e.values["launcherTempDir"].empty());
    EXPECT_EQ(e.dir().rfind(tempDir.path() + L"\\", 0), 0u) << test::wideToUtf8(e.dir());
    EXPECT_EQ(bytesOf(e.file(L"lib\\app.jar")), "PK\x03\x04 jar");
    EXPECT_EQ(bytesOf(e.file(L"big.bin")), big);
    EXPECT_FALSE(test::fileExists(e.file(L"empty.txt")));
    // The block ends with the last record, so the position is the file's size.
    EXPECT_EQ(e.values["unextractedPosition"], std::to_string(e.exeSize));

    const std::string dir = e.values["launcherTempDir"];
    for (const std::string& line :
         {std::string("Included files: 3"), "creating directory " + dir + "\\lib",
          "extracting " + dir + "\\big.bin (size: 12001)", "extracting " + dir + "\\empty.txt (size: 0)",
          std::string("extracting files done")})
        EXPECT_TRUE(test::logHas(e.log, test::utf8ToWide(line))) << line << "\n" << test::wideToUtf8(e.log.text);
}

TEST_F(IncludedFilesE2E, ListAndCountVariants) {
    struct Case {
        const char* what;
        pack::Block block;
        std::map<std::wstring, std::string> expected;  // "" for a file that must not exist
        long long bytesAfterPosition;                  // of the block's end
    };
    const std::vector<Case> cases = {
        {"separator runs, the later entry replaces the earlier",
         withFiles(";;a.txt;;;a.txt;", {"first and longer", "second"}),
         {{L"a.txt", "second"}},
         0},
        {"two entries in one directory", withFiles("d\\x;d\\y", {"x", "y"}), {{L"d\\x", "x"}, {L"d\\y", "y"}}, 0},
        {"deeper levels are created", withFiles("a\\b\\c.txt", {"deep"}), {{L"a\\b\\c.txt", "deep"}}, 0},
        {"entries beyond the count are ignored",
         withFiles("one;two;three", {"1", "2", "three"}, 2),
         {{L"one", "1"}, {L"two", "2"}, {L"three", ""}},
         8 + 5},
        {"the list ends before the count", withFiles("one", {"1", "2"}, 2), {{L"one", "1"}}, 8 + 1},
    };
    for (const Case& c : cases) {
        Extraction e = extract(c.block);
        ASSERT_EQ(e.values["result"], "0") << c.what << "\n" << show(e.run);
        for (const auto& [name, bytes] : c.expected) {
            if (bytes.empty()) EXPECT_FALSE(test::fileExists(e.file(name))) << c.what;
            else EXPECT_EQ(bytesOf(e.file(name)), bytes) << c.what;
        }
        EXPECT_EQ(e.values["unextractedPosition"], std::to_string(e.exeSize - c.bytesAfterPosition)) << c.what;
        EXPECT_FALSE(test::logHas(e.log, L"ERROR: ", true)) << c.what << "\n" << test::wideToUtf8(e.log.text);
    }
}

TEST_F(IncludedFilesE2E, NoCountMeansNoDirectoryAndPositionZero) {
    pack::Block block = withFiles("a.txt", {"data"});
    block.config.erase(block.config.begin());  // id 2002
    Extraction e = extract(block);
    EXPECT_EQ(e.values["result"], "0") << show(e.run);
    EXPECT_EQ(e.values["launcherTempDir"], "");
    EXPECT_EQ(e.values["unextractedPosition"], "0");
    EXPECT_TRUE(test::logHas(e.log, L"Included files: 0"));
    EXPECT_FALSE(test::logHas(e.log, L"Temp dir3: ", true));
    EXPECT_TRUE(directoriesIn(tempDir.path()).empty());
}

// The real launcher: a failed extraction ends the launch with a message and leaves no directory behind.
TEST_F(IncludedFilesE2E, FailuresEndTheLaunchAndRemoveTheDirectory) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string message;
        std::wstring logLine;
    };
    auto cut = [](const pack::Block& block, size_t dropped) {
        std::vector<uint8_t> bytes = pack::serializeBlock(block);
        bytes.resize(bytes.size() - dropped);
        return bytes;
    };
    const std::wstring outside = appDir.file(L"escaped.txt");
    std::vector<Case> cases = {
        {"cut inside the data", cut(withFiles("x\\y\\deep.bin;cut.bin", {"deep", pattern(7000)}), 10),
         "Launch failed (16)", L"ERROR: ReadFile failed 0 0 6990"},
        {"cut inside a length", cut(withFiles("whole.bin;cut.bin", {"whole", "z"}), 5), "Internal Error: readLong",
         L""},
        {"a target that cannot be created", pack::serializeBlock(withFiles("sub;sub\\file", {"s", "f"})),
         "Launch failed (11)", L"extracting "},
    };
    for (std::string name :
         {std::string("..\\escaped.txt"), std::string("ok\\..\\..\\escaped.txt"), test::wideToUtf8(outside),
          std::string("\\\\localhost\\c$\\escaped.txt"), std::string("C:escaped.txt"), std::string("..")})
        cases.push_back({"unsafe name", pack::serializeBlock(withFiles("first.txt;" + name, {"1", "escaped"})),
                         "Launch failed (16)", L"ERROR: refusing included file " + test::utf8ToWide(name)});

    for (const Case& c : cases) {
        const std::wstring exe = test::makeLauncherWithBytes(appDir.path(), L"fails.exe", c.bytes);
        test::RunResult r = run(exe, {L"-run"}, true);
        test::LogContent log = test::readLog(test::newestLog(tempDir.path()));
        EXPECT_EQ(r.exitCode, 1u) << c.what << "\n" << show(r);
        EXPECT_EQ(r.err.substr(0, c.message.size()), c.message) << c.what << "\n" << show(r);
        if (!c.logLine.empty()) {
            EXPECT_TRUE(test::logHas(log, c.logLine, true)) << c.what << "\n" << test::wideToUtf8(log.text);
        }
        EXPECT_FALSE(test::logHas(log, L"Searching for a JVM", true)) << c.what;
        EXPECT_TRUE(directoriesIn(tempDir.path()).empty()) << c.what;
        EXPECT_FALSE(test::fileExists(tempDir.file(L"escaped.txt"))) << c.what;
        EXPECT_FALSE(test::fileExists(outside)) << c.what;
    }
}

// The real launcher with readable files goes on to the runtime search, and the directory goes with the
// failed launch.
TEST_F(IncludedFilesE2E, ExtractionComesFirstInTheLaunch) {
    const std::wstring exe = launcher(withFiles("lib\\a.jar;b.txt", {"a", "b"}));
    test::RunResult r = run(exe, {L"-run"}, true);
    test::LogContent log = onlyLog();
    EXPECT_EQ(r.exitCode, 1u) << show(r);
    EXPECT_EQ(r.err.rfind("No Java", 0), 0u) << show(r);
    auto at = [&](const wchar_t* prefix) {
        for (size_t i = 0; i < log.messages.size(); ++i)
            if (log.messages[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
        return -1;
    };
    const int done = at(L"extracting files done");
    EXPECT_GE(done, 0) << test::wideToUtf8(log.text);
    EXPECT_LT(done, at(L"Setting PATH (native libs) "));
    EXPECT_TRUE(directoriesIn(tempDir.path()).empty());
}

// A complete launch with the stand-in virtual machine: the files stay for the application, which is told
// where they are and where the block's own data ends.
TEST_F(IncludedFilesE2E, TheVirtualMachineIsToldWhereTheFilesAre) {
    test::TempDir runtimes(L"includedrt");
    const std::wstring rt = runtimes.path() + L"\\jre";
    test::layOutRuntime(rt);
    pack::Block block = test::searchBlock();
    block.set(ids::kSearchSequence, "A" + test::wideToUtf8(rt))
        .set(ids::kIncludedFileCount, "3")
        .set(ids::kIncludedFilePaths, "conf\\app.properties;app.jar;empty.txt");
    const std::string jar = pattern(12001);
    block.include("name=value").include(jar).include("");
    const std::wstring exe = launcher(block);
    test::LaunchResult r = test::launchRun(exe, tempDir);
    test::forgetCachedRuntimes(runtimes.path());
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();

    const auto tempDirs = r.recorded("option|-Dvexlo.tempDir=");
    ASSERT_EQ(tempDirs.size(), 1u) << r.recordText();
    const std::wstring dir = test::utf8ToWide(tempDirs[0]);
    EXPECT_EQ(dir.rfind(tempDir.path() + L"\\", 0), 0u) << tempDirs[0];
    EXPECT_EQ(bytesOf(dir + L"\\conf\\app.properties"), "name=value");
    EXPECT_EQ(bytesOf(dir + L"\\app.jar"), jar);
    EXPECT_FALSE(test::fileExists(dir + L"\\empty.txt"));
    EXPECT_EQ(r.recorded("option|-Dvexlo.unextractedPosition="),
              std::vector<std::string>{std::to_string(fileSize(exe))});
    const auto classPath = r.recorded("option|-Djava.class.path=");
    ASSERT_EQ(classPath.size(), 1u) << r.recordText();
    EXPECT_NE((";" + classPath[0] + ";").find(";" + tempDirs[0] + "\\app.jar;"), std::string::npos) << classPath[0];
}

// Launches that end normally leave their directory for the application; the next launch of the same
// executable removes it, so the temporary folder never holds more than the last one, and no name file.
TEST_F(IncludedFilesE2E, EachLaunchRemovesWhatEndedLaunchesLeftButNeverARunningOnes) {
    test::TempDir runtimes(L"litterrt");
    const std::wstring rt = runtimes.path() + L"\\jre";
    test::layOutRuntime(rt);
    pack::Block block = test::searchBlock();
    block.set(128, "A" + test::wideToUtf8(rt)).set(2002, "1").set(2003, "app.jar").include("PK jar");
    const std::wstring exe = launcher(block);
    auto litter = [&] {
        std::vector<std::wstring> names = directoriesIn(tempDir.path());
        WIN32_FIND_DATAW data;
        unique_find find(FindFirstFileW((tempDir.path() + L"\\vxl*.tmp").c_str(), &data));
        // "*.tmp" also matches the directories through their short names.
        if (find) do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
            } while (FindNextFileW(find.get(), &data));
        return names;
    };
    for (int i = 0; i < 20; ++i) {
        test::RunResult r = test::runProcess(exe, test::launchOptions(tempDir));
        ASSERT_EQ(r.exitCode, 0u) << i << show(r);
        ASSERT_EQ(litter().size(), 1u) << i;
    }
    // Two at once, each sleeping in main: neither may take the other's directory away.
    test::writeFileBytes(rt + L"\\bin\\server\\script.txt", "sleep 2500\n");
    const auto both = test::runProcesses({exe, exe}, test::launchOptions(tempDir), 2);
    test::forgetCachedRuntimes(runtimes.path());
    for (const test::RunResult& r : both) EXPECT_EQ(r.exitCode, 0u) << show(r);
    const std::vector<std::wstring> left = litter();
    EXPECT_EQ(left.size(), 2u);
    for (const std::wstring& name : left) {
        EXPECT_TRUE(test::fileExists(tempDir.path() + L"\\" + name + L"\\app.jar")) << test::wideToUtf8(name);
    }
}

// Damaged included data ends in a defined way: a message and exit code 1, and no directory left behind.
TEST_F(IncludedFilesE2E, DamagedIncludedDataEndsInADefinedWay) {
    const pack::Block block = withFiles("a.bin;dir\\b.bin;c.bin", {pattern(10), pattern(7000), pattern(3)});
    const std::vector<uint8_t> base = pack::serializeBlock(block);
    const size_t region = base.size() - (8 + 10) - (8 + 7000) - (8 + 3);
    const size_t lengths[] = {region, region + 18, region + 18 + 7008};

    struct Variant {
        std::vector<uint8_t> bytes;
        std::string what;
        const char* expected;  // the message that must be shown, or none for any defined one
    };
    std::vector<Variant> variants;
    for (size_t at = region; at < base.size(); at += (at < region + 40 ? 1 : 397)) {
        bool inLength = false;
        for (size_t l : lengths) inLength = inLength || (at >= l && at < l + 8);
        variants.push_back({std::vector<uint8_t>(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(at)),
                            "cut at " + std::to_string(at),
                            inLength ? "Internal Error: readLong" : "Launch failed (16)"});
    }
    for (size_t l : lengths) {
        for (long long value :
             {-1LL, INT64_MIN, 1LL << 62, 0x7FFFFFFFLL, static_cast<long long>(base.size() - l - 8 + 1), 0LL}) {
            Variant v{base, "length at " + std::to_string(l) + " = " + std::to_string(value), nullptr};
            for (int k = 0; k < 8; ++k)
                v.bytes[l + static_cast<size_t>(k)] = static_cast<uint8_t>(static_cast<unsigned long long>(value) >>
                                                                           (8 * k));
            // Larger than the rest of the file: a read failure.
            if (value > static_cast<long long>(base.size() - l - 8)) v.expected = "Launch failed (16)";
            variants.push_back(std::move(v));
        }
    }

    std::vector<std::wstring> programs;
    for (size_t i = 0; i < variants.size(); ++i)
        programs.push_back(
            test::makeLauncherWithBytes(appDir.path(), L"damaged" + std::to_wstring(i) + L".exe", variants[i].bytes));
    const std::vector<test::RunResult> results = test::runProcesses(programs, options({L"-run"}), 6);

    const std::vector<std::string> defined = {"Internal Error: readLong", "Launch failed (16)", "Launch failed (11)",
                                              "No Java"};
    for (size_t i = 0; i < variants.size(); ++i) {
        const test::RunResult& r = results[i];
        const std::string context = variants[i].what + "\n" + show(r);
        ASSERT_FALSE(r.timedOut) << context;
        EXPECT_EQ(r.exitCode, 1u) << context;
        if (variants[i].expected) {
            EXPECT_EQ(r.err.rfind(variants[i].expected, 0), 0u) << context;
        } else {
            bool known = false;
            for (const std::string& text : defined) known = known || r.err.rfind(text, 0) == 0;
            EXPECT_TRUE(known) << context;
        }
    }
    EXPECT_TRUE(directoriesIn(tempDir.path()).empty());
}

}  // namespace
