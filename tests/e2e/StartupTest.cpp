// Start-up and command dispatch of the real launcher.
#include <algorithm>
#include <future>
#include <optional>

#include "LauncherFixture.h"
#include "config/ConfigIds.h"

using namespace vexlo;
using vexlo::e2e::show;

namespace {

class Startup : public e2e::LauncherFixture {
protected:
    pack::Block block() {
        pack::Block b;
        b.set(ids::kServiceName, "VexloStartupNoSuchService").set(ids::kLauncherKind, "e");
        return b;
    }

    // Outside the service control manager the dispatcher fails and the launcher ends with 0. Under Wine the
    // dispatcher takes about ten seconds to give up, so the cases run side by side.
    void expectDispatcher(const std::vector<std::vector<std::wstring>>& cases) {
        test::ServiceManagerLock serviceLock;
        std::wstring exe = launcher(block(), L"dispatch.exe");
        std::vector<std::unique_ptr<test::TempDir>> temps;
        std::vector<std::future<test::RunResult>> runs;
        for (const auto& args : cases) {
            temps.push_back(std::make_unique<test::TempDir>(L"dispatch"));
            test::RunOptions o = options(args, true);
            o.env = test::isolatedEnvironment(temps.back()->path(), true);
            runs.push_back(std::async(std::launch::async, [exe, o] { return test::runProcess(exe, o); }));
        }
        for (size_t i = 0; i < cases.size(); ++i) {
            test::RunResult r = runs[i].get();
            std::string context = "case " + std::to_string(i) + "\n" + show(r);
            EXPECT_EQ(r.exitCode, 0u) << context;
            EXPECT_TRUE(r.out.empty()) << context;
            EXPECT_TRUE(r.boxes.empty()) << context;
            auto files = test::logFiles(temps[i]->path());
            ASSERT_EQ(files.size(), 1u) << context;
            test::LogContent log = test::readLog(files[0]);
            auto calling = std::find(log.messages.begin(), log.messages.end(), L"calling StartServiceCtrlDispatcher");
            ASSERT_NE(calling, log.messages.end()) << context << "\n" << test::wideToUtf8(log.text);
            ASSERT_GE(log.messages.end() - calling, 3) << context;
            EXPECT_EQ(calling[1].rfind(L"StartServiceCtrlDispatcher failed with error ", 0), 0u)
                << test::wideToUtf8(calling[1]);
            EXPECT_EQ(calling[2], L"StartServiceCtrlDispatcher returned");
        }
    }
};

}  // namespace

TEST_F(Startup, LauncherWithoutBlockShowsReadIntAndExits1) {
    std::wstring exe = test::makeLauncherWithBytes(appDir.path(), L"noblock.exe", {});
    test::RunResult r = run(exe, {});
    ASSERT_FALSE(r.timedOut) << show(r);
    EXPECT_EQ(r.exitCode, 1u) << show(r);
    ASSERT_EQ(r.boxes.size(), 1u) << show(r);
    EXPECT_EQ(r.boxes[0].title, L"");
    EXPECT_EQ(r.boxes[0].text, L"Internal Error: readInt");
}

TEST_F(Startup, FatalBoxCarriesTheLogPathWhenLogging) {
    std::wstring exe = test::makeLauncherWithBytes(appDir.path(), L"noblock.exe", {});
    test::RunResult r = run(exe, {L"word"}, true);
    EXPECT_EQ(r.exitCode, 1u) << show(r);
    ASSERT_EQ(r.boxes.size(), 1u) << show(r);
    auto files = test::logFiles(tempDir.path());
    ASSERT_EQ(files.size(), 1u);
    const std::wstring head = L"Internal Error: readInt\n\nLog: ";
    ASSERT_EQ(r.boxes[0].text.substr(0, head.size()), head) << show(r);
    // The path is shown in its long form; compare the files, not the spelling.
    std::wstring shown = r.boxes[0].text.substr(head.size());
    wchar_t a[MAX_PATH * 4], b[MAX_PATH * 4];
    ASSERT_GT(GetLongPathNameW(shown.c_str(), a, MAX_PATH * 4), 0u) << test::wideToUtf8(shown);
    ASSERT_GT(GetLongPathNameW(files[0].c_str(), b, MAX_PATH * 4), 0u);
    EXPECT_EQ(_wcsicmp(a, b), 0) << test::wideToUtf8(a) << " vs " << test::wideToUtf8(b);
    // The failed read is logged before the box: the error number and the 0 bytes read.
    test::LogContent log = test::readLog(files[0]);
    ASSERT_FALSE(log.messages.empty());
    EXPECT_EQ(log.messages[0].rfind(L"error ", 0), 0u);
    EXPECT_NE(log.messages[0].find(L" 0"), std::wstring::npos) << test::wideToUtf8(log.messages[0]);
}

TEST_F(Startup, PlainWordsAndUnknownWordsGoToTheServiceDispatcher) {
    expectDispatcher({
        {},
        {L"hello"},
        {L"STATUS"},
        {L"/Status"},
        {L"/nonsense", L"x"},
        {L""},
        {L"---status"},            // only one more dash is removed
        {L"__qdr_restart", L"x"},  // the restart marker counts only as the last argument
    });
}

TEST_F(Startup, SlashDashAndDoubleDashNameTheSameWord) {
    std::wstring exe = launcher(block(), L"status.exe");
    std::vector<test::RunResult> results;
    for (const wchar_t* word : {L"/status", L"-status", L"--status"}) {
        results.push_back(run(exe, {word}, true));
        test::LogContent log = onlyLog();
        EXPECT_FALSE(test::logHas(log, L"calling StartServiceCtrlDispatcher")) << test::wideToUtf8(word);
        test::removeTree(tempDir.path());
        CreateDirectoryW(tempDir.path().c_str(), nullptr);
    }
    EXPECT_FALSE(results[0].out.empty()) << show(results[0]);
    for (size_t i = 1; i < results.size(); ++i) {
        EXPECT_EQ(results[i].exitCode, results[0].exitCode) << show(results[i]);
        EXPECT_EQ(results[i].out, results[0].out);
        EXPECT_EQ(results[i].err, results[0].err);
    }
}

TEST_F(Startup, HelpWordsPrintTheUsage) {
    std::wstring exe = launcher(block(), L"usage.exe");
    test::RunResult question = run(exe, {L"-?"});
    test::RunResult help = run(exe, {L"/help"});
    EXPECT_EQ(question.exitCode, 0u) << show(question);
    EXPECT_EQ(question.out.rfind("Usage: usage.exe ", 0), 0u) << show(question);
    EXPECT_EQ(help.exitCode, 0u) << show(help);
    EXPECT_EQ(help.out, question.out);
}

TEST_F(Startup, CommandLineIsLoggedAsGivenBeforeDispatch) {
    std::wstring exe = launcher(block(), L"\u0437\u0430\u043f\u0443\u0441\u043a.exe");
    test::RunOptions o = options({});
    o.env = test::isolatedEnvironment(tempDir.path(), true);
    std::wstring commandLine = L"\"" + exe + L"\"  /help \"two words\" \u65e5\u672c";
    o.commandLine = commandLine;
    test::RunResult r = test::runProcess(exe, o);
    EXPECT_EQ(r.exitCode, 0u) << show(r);
    test::LogContent log = onlyLog();
    ASSERT_FALSE(log.messages.empty());
    // Logged by the initialisation, before the command line is examined.
    auto at = std::find(log.messages.begin(), log.messages.end(), L"command line " + commandLine);
    ASSERT_NE(at, log.messages.end()) << test::wideToUtf8(log.text);
    auto language = std::find_if(log.messages.begin(), log.messages.end(),
                                 [](const std::wstring& m) { return m.rfind(L"language/country is ", 0) == 0; });
    EXPECT_LT(language, at);
}

namespace {

// The names of the libraries in a PE32+ file's import table, upper case; empty for a file that is none.
std::vector<std::string> importedLibraries(const std::string& image) {
    auto at = [&](size_t offset, size_t size) {
        return offset + size <= image.size() ? image.data() + offset : nullptr;
    };
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
    if (!dos) return {};
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        at(static_cast<size_t>(dos->e_lfanew), sizeof(IMAGE_NT_HEADERS64)));
    if (!nt) return {};
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    auto fileOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return image.size();
    };
    std::vector<std::string> names;
    size_t entry = fileOffset(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    for (;; entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
            at(entry, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (!import || import->Name == 0) break;
        std::string name(at(fileOffset(import->Name), 1) ? image.c_str() + fileOffset(import->Name) : "");
        for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        names.push_back(name);
    }
    return names;
}

}  // namespace

// The window library comes with the graphics libraries and costs most of a bare start: the launcher loads it
// only to show a window, so the import table must not name it.
TEST(LauncherImage, ImportTableNamesNoWindowLibrary) {
    std::optional<std::string> image = test::readFileBytes(test::binDir() + L"\\vexlo.exe");
    ASSERT_TRUE(image.has_value());
    std::vector<std::string> names = importedLibraries(*image);
    EXPECT_NE(std::find(names.begin(), names.end(), "KERNEL32.DLL"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "USER32.DLL"), names.end());
}
