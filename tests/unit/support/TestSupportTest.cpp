// The test helpers themselves: every end-to-end test relies on them passing arguments and environment exactly.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <thread>

#include "TestSupport.h"
#include "TestText.h"
#include "common/CommandLine.h"
#include "common/Handles.h"

using namespace vexlo;

namespace {

std::wstring cmdExe() {
    wchar_t dir[MAX_PATH];
    GetSystemDirectoryW(dir, MAX_PATH);
    return std::wstring(dir) + L"\\cmd.exe";
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace

TEST(QuoteArgument, LauncherSplittingGivesTheArgumentsBack) {
    std::vector<std::wstring> args = {L"plain",
                                      L"",
                                      L"two words",
                                      L"tab\there",
                                      L"\"",
                                      L"a\"b",
                                      L"\"\"",
                                      L"end\\",
                                      L"C:\\Program Files\\x\\",
                                      L"\u65e5\u672c \u8a9e",
                                      L"x\"\"\"y z"};
    std::wstring line = L"prog.exe";
    for (const auto& a : args) line += L" " + test::quoteArgument(a);
    std::vector<std::wstring> split;
    splitCommandLine(line, split);
    ASSERT_FALSE(split.empty());
    split.erase(split.begin());
    EXPECT_EQ(split, args);
}

TEST(TempDir, RemovesNestedReadOnlyContentWithAnyName) {
    std::wstring path;
    {
        test::TempDir dir(L"\u0442\u0435\u0441\u0442 \u65e5\u672c");
        path = dir.path();
        ASSERT_TRUE(test::fileExists(path));
        std::wstring sub = dir.subdir(L"a\\\u00e9\\c");
        ASSERT_TRUE(test::writeFileBytes(sub + L"\\f.txt", "data"));
        ASSERT_TRUE(SetFileAttributesW((sub + L"\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(test::readFileBytes(sub + L"\\f.txt").value_or(""), "data");
    }
    EXPECT_FALSE(test::fileExists(path));
}

TEST(RunProcess, EnvironmentChangesWorkingDirectoryAndOutput) {
    test::TempDir dir(L"run");
    SetEnvironmentVariableW(L"VEXLO_SUPPORT_INHERITED", L"inherited");
    test::RunOptions o;
    o.commandLine = L"cmd.exe /c echo [%VEXLO_SUPPORT_SET%][%VEXLO_SUPPORT_INHERITED%]& cd & echo oops 1>&2& exit 7";
    o.env[L"VEXLO_SUPPORT_SET"] = L"set \u00e9";
    o.env[L"vexlo_support_inherited"] = std::nullopt;  // names compare without case
    o.workingDirectory = dir.path();
    test::RunResult r = test::runProcess(cmdExe(), o);
    SetEnvironmentVariableW(L"VEXLO_SUPPORT_INHERITED", nullptr);
    ASSERT_TRUE(r.started) << r.startError;
    EXPECT_EQ(r.exitCode, 7u);
    // A removed variable stays unexpanded.
    std::string out = r.out;
    EXPECT_EQ(out.substr(0, out.find('\r')), "[set \xE9][%VEXLO_SUPPORT_INHERITED%]") << out;
    std::string cwd = trimmed(out.substr(out.find('\n') + 1));
    wchar_t a[MAX_PATH * 2], b[MAX_PATH * 2];
    GetLongPathNameW(test::utf8ToWide(cwd).c_str(), a, MAX_PATH * 2);
    GetLongPathNameW(dir.path().c_str(), b, MAX_PATH * 2);
    EXPECT_EQ(_wcsicmp(a, b), 0) << cwd;
    EXPECT_EQ(trimmed(r.err), "oops");
}

TEST(RunProcess, StandardInputAndTimeout) {
    test::RunOptions o;
    o.commandLine = L"cmd.exe /c more";
    o.stdinData = "line one\r\nline two\r\n";
    test::RunResult r = test::runProcess(cmdExe(), o);
    EXPECT_NE(r.out.find("line two"), std::string::npos) << r.out;

    test::RunOptions slow;
    slow.commandLine = L"cmd.exe /c ping -n 30 127.0.0.1";
    slow.timeoutMs = 300;
    test::RunResult killed = test::runProcess(cmdExe(), slow);
    EXPECT_TRUE(killed.timedOut);
}

// A child gets its own pipe ends and no other inheritable handle of this program, nor the runner's output
// handles: under Wine a child that lingers keeps whatever it inherited open after this program has ended.
TEST(RunProcess, ChildrenInheritOnlyTheirOwnPipeEnds) {
    for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        DWORD flags = 0;
        if (GetHandleInformation(GetStdHandle(which), &flags)) {
            EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u) << which;
        }
    }
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
    unique_handle reader(readEnd), writer(writeEnd);
    test::RunOptions o;
    o.commandLine = L"cmd.exe /c ping -n 4 127.0.0.1";
    std::thread child([&] { test::runProcess(cmdExe(), o); });
    // Once the child runs, this program's end is the pipe's only writer.
    bool running = false;
    for (ULONGLONG end = GetTickCount64() + 10000; !running && GetTickCount64() < end; Sleep(20)) {
        unique_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
            running = running || entry.th32ParentProcessID == GetCurrentProcessId();
    }
    writer.reset();
    DWORD available = 0;
    BOOL open = PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr);
    DWORD error = GetLastError();
    child.join();
    ASSERT_TRUE(running);
    EXPECT_FALSE(open) << "the child holds a copy of the pipe's write end";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
}

TEST(LogReading, SplitsHeaderLinesAndPrefixes) {
    test::TempDir dir(L"logread");
    std::wstring path = dir.file(L"qdr_nlog_12.log");
    test::writeFileBytes(path, "\xEF\xBB\xBFStarted executable x at Tue Dec  8 18:24:15 2026\r\n\r\n"
                               "[0:5] first\r\n[61:42] ERROR: second \xC3\xA9\r\n");
    test::writeFileBytes(dir.file(L"qdr_nlog_9.log"), "");
    test::writeFileBytes(dir.file(L"qdr_nlog_x.log"), "");
    test::LogContent log = test::readLog(path);
    EXPECT_TRUE(log.hasBom);
    EXPECT_TRUE(log.crlfOnly);
    EXPECT_EQ(log.header, L"Started executable x at Tue Dec  8 18:24:15 2026");
    EXPECT_EQ(log.messages, (std::vector<std::wstring>{L"first", L"ERROR: second \u00e9"}));
    EXPECT_TRUE(test::logHas(log, L"ERROR: sec", true));
    EXPECT_FALSE(test::logHas(log, L"ERROR: sec"));
    // Numbered by value, not by name.
    EXPECT_EQ(test::newestLog(dir.path()), path);
    EXPECT_EQ(test::logFiles(dir.path()).size(), 2u);

    test::writeFileBytes(path, "header\n\n[0:0] bare line end\n");
    EXPECT_FALSE(test::readLog(path).crlfOnly);
}

// Java writes LF or CR LF depending on the writer; the C++ side writes CR LF.
TEST(TestText, SplittersKeepLinesApartAtTheirEndings) {
    struct Case {
        std::string text;
        std::vector<std::string> crLf, any;
    };
    const std::vector<Case> cases = {
        {"a\nb\n", {"a\nb\n"}, {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}, {"a", "b"}},
        {"a\r\n\nb", {"a", "\nb"}, {"a", "", "b"}},
        {"a\rb", {"a\rb"}, {"a\rb"}},
        {"", {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(test::splitCrLfLines(c.text), c.crLf) << c.text;
        EXPECT_EQ(test::splitLines(c.text), c.any) << c.text;
    }
}
