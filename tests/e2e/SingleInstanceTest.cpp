// The single-instance guard of "vexlo.exe -run". A first instance is held alive by the stand-in virtual
// machine, whose main leaves a non-daemon thread running for a while.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "StandinRuntimes.h"
#include "common/Handles.h"
#include "instance/SingleInstance.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

class SingleInstanceE2E : public ::testing::Test {
protected:
    TempDir app_{L"single app"};  // blanks in the path become "_" in the name
    TempDir runtimes_{L"singlert"};
    std::vector<std::unique_ptr<TempDir>> temps_;
    std::vector<std::wstring> launchers_;

    void TearDown() override {
        forgetCachedRuntimes(runtimes_.path());
        for (const std::wstring& exe : launchers_) deletePid(exe);
    }

    const TempDir& freshTemp() { return *temps_.emplace_back(std::make_unique<TempDir>(L"singletmp")); }

    // A launcher whose stand-in virtual machine runs for `holdMs` (returns at once when 0).
    std::wstring launcher(const std::vector<std::pair<int, std::string>>& config, int holdMs = 0,
                          const std::vector<std::string>& files = {}) {
        const std::wstring rt = runtimes_.path() + L"\\jre";
        if (!fileExists(rt + L"\\bin\\java.exe")) layOutRuntime(rt);
        if (holdMs > 0)
            writeFileBytes(rt + L"\\bin\\server\\script.txt", "non-daemon " + std::to_string(holdMs) + "\n");
        pack::Block block = searchBlock();
        block.set(ids::kSearchSequence, "A" + wideToUtf8(rt));
        for (const auto& [id, value] : config) block.set(id, value);
        for (const std::string& file : files) block.include(file);
        std::wstring exe = makeLauncher(app_.path(), L"Single App.exe", block);
        launchers_.push_back(exe);
        deletePid(exe);
        return exe;
    }

    // The canonical path the launcher derives from its long path: lower case.
    static std::string lowerPath(const std::wstring& exe) {
        wchar_t full[MAX_PATH];
        DWORD n = GetLongPathNameW(exe.c_str(), full, MAX_PATH);
        return lowerAscii(wideToUtf8(std::wstring(full, n)));
    }
    static std::string nameOf(const std::string& prefix, const std::wstring& exe) {
        std::string name = lowerPath(exe);
        for (char& c : name)
            if (c == '\\' || c == ' ') c = '_';
        return prefix + name;
    }
    static DWORD storedPid(const std::wstring& exe) {
        unique_hkey key;
        DWORD pid = 0, size = sizeof pid;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstancePidsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
        if (RegQueryValueExA(key.get(), lowerPath(exe).c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&pid),
                             &size) != ERROR_SUCCESS)
            return 0;
        return pid;
    }
    static void storePid(const std::wstring& exe, DWORD pid) {
        unique_hkey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kInstancePidsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key.get(), lowerPath(exe).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pid),
                       sizeof pid);
    }
    static void deletePid(const std::wstring& exe) {
        unique_hkey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstancePidsKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS)
            RegDeleteValueA(key.get(), lowerPath(exe).c_str());
    }
    static bool waitFor(const std::function<bool()>& condition) {
        for (int i = 0; i < 300; ++i) {
            if (condition()) return true;
            Sleep(50);
        }
        return false;
    }
    static std::wstring semaphoreLine(const std::string& name, int code) {
        return utf8ToWide("semaphore name " + name + ", code " + std::to_string(code) + ", value ");
    }
};

constexpr int kSingle = 10005, kToFront = 10008, kSession = 200, kFileCount = 2002, kFileList = 2003;

// The prefixes of the scopes are checked in the unit tests; here the default per-user scope of a real launch.
TEST_F(SingleInstanceE2E, FirstInstanceInTheUserScopeRegistersItselfBeforeTheSearch) {
    const std::wstring exe = launcher({{kSingle, "1"}});
    LaunchResult r = launchRun(exe, freshTemp());
    EXPECT_TRUE(logHas(r.log, L"user single instance")) << wideToUtf8(r.log.text);
    const int line = messageIndex(r.log, L"semaphore name Global\\S-1-5-");
    ASSERT_GE(line, 0) << wideToUtf8(r.log.text);
    const std::wstring& logged = r.log.messages[static_cast<size_t>(line)];
    EXPECT_NE(logged.find(utf8ToWide(nameOf("", exe)) + L", code 0, value "), std::wstring::npos) << wideToUtf8(logged);
    EXPECT_EQ(storedPid(exe), r.run.processId);
    EXPECT_LT(line, messageIndex(r.log, L"Searching for a JVM")) << wideToUtf8(r.log.text);
}

TEST_F(SingleInstanceE2E, SecondLaunchThroughAnyFormOfThePathFindsTheFirstAndExitsWithZero) {
    const std::wstring exe = launcher({{kSingle, "1"}, {kSession, "1"}, {kFileCount, "1"}, {kFileList, "x.txt"}}, 8000,
                                      {"x"});
    const std::string name = nameOf("Local\\", exe);
    LaunchResult first;
    std::thread holder([&] { first = launchRun(exe, freshTemp()); });
    const bool registered = waitFor([&] { return storedPid(exe) != 0; });
    const DWORD firstPid = storedPid(exe);

    wchar_t shortPath[MAX_PATH];
    DWORD n = GetShortPathNameW(exe.c_str(), shortPath, MAX_PATH);
    std::wstring upper = exe;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    std::vector<std::wstring> forms = {exe, std::wstring(shortPath, n), upper};
    std::vector<LaunchResult> seconds;
    std::vector<std::wstring> secondTemps;
    for (const std::wstring& form : forms) {
        const TempDir& temp = freshTemp();
        secondTemps.push_back(temp.path());
        seconds.push_back(launchRun(form, temp));
    }
    holder.join();

    ASSERT_TRUE(registered);
    EXPECT_EQ(firstPid, first.run.processId);
    EXPECT_EQ(first.run.exitCode, 0u) << first.recordText();
    EXPECT_TRUE(logHas(first.log, semaphoreLine(name, 0), true)) << wideToUtf8(first.log.text);
    EXPECT_EQ(first.recorded("option|-Dvexlo.semaphoreName="), std::vector<std::string>{name});
    EXPECT_EQ(first.recorded("non-daemon thread done").size(), 1u);  // its virtual machine ran
    EXPECT_NE(forms[1], exe) << "no short form differs from the long path";
    for (size_t i = 0; i < forms.size(); ++i) {
        const LaunchResult& second = seconds[i];
        const std::string context = wideToUtf8(forms[i]) + "\n" + wideToUtf8(second.log.text);
        EXPECT_EQ(second.run.exitCode, 0u) << context;
        EXPECT_TRUE(logHas(second.log, semaphoreLine(name, ERROR_ALREADY_EXISTS), true)) << context;
        EXPECT_TRUE(logHas(second.log, L"other pid " + std::to_wstring(firstPid))) << context;
        EXPECT_TRUE(logHas(second.log, L"exiting")) << context;
        EXPECT_FALSE(logHas(second.log, L"Searching for a JVM", true)) << context;
        EXPECT_TRUE(second.records.empty()) << context;  // no runtime was loaded
        // The second instance's own launcher temporary directory went with it.
        EXPECT_TRUE(logHas(second.log, L"extracting files done")) << context;
        WIN32_FIND_DATAW data;
        unique_find find(FindFirstFileW((secondTemps[i] + L"\\*_dir*").c_str(), &data));
        EXPECT_FALSE(find.valid()) << context;
        // The registry still holds the first's id: a second instance writes nothing.
        EXPECT_EQ(storedPid(exe), firstPid);
    }
}

TEST_F(SingleInstanceE2E, ThreeLaunchesAtOnceHoldNumberedNames) {
    const std::wstring exe = launcher({{kSession, "1"}}, 5000);
    const std::string base = nameOf("Local\\", exe);
    std::vector<LaunchResult> results(3);
    std::vector<const TempDir*> temps = {&freshTemp(), &freshTemp(), &freshTemp()};
    std::vector<std::thread> launches;
    for (size_t i = 0; i < results.size(); ++i)
        launches.emplace_back([&, i] { results[i] = launchRun(exe, *temps[i]); });
    for (auto& t : launches) t.join();

    std::set<std::wstring> numbers;
    for (const LaunchResult& r : results) {
        const int line = messageIndex(r.log, utf8ToWide("semaphore name " + base));
        ASSERT_GE(line, 0) << wideToUtf8(r.log.text);
        const std::wstring& logged = r.log.messages[static_cast<size_t>(line)];
        const size_t start = std::string("semaphore name ").size() + base.size();
        const std::wstring number = logged.substr(start, logged.find(L',') - start);
        numbers.insert(number);
        EXPECT_EQ(r.recorded("option|-Dvexlo.semaphoreName="), std::vector<std::string>{base + wideToUtf8(number)})
            << r.recordText();
        EXPECT_NE(logged.find(L", code 0, value "), std::wstring::npos) << wideToUtf8(logged);
        EXPECT_FALSE(logHas(r.log, L"single instance mode"));
        EXPECT_EQ(storedPid(exe), 0u);  // numbered instances register nothing
    }
    EXPECT_EQ(numbers, (std::set<std::wstring>{L"0", L"1", L"2"}));
}

// This test process plays the first instance: it holds the name, registers its id and shows a minimised
// window on a thread of its own that answers the second instance's requests.
TEST_F(SingleInstanceE2E, SecondLaunchRestoresTheFirstInstancesMinimisedWindow) {
    const std::wstring exe = launcher({{kSingle, "1"}, {kSession, "1"}, {kToFront, "1"}});
    unique_handle held(CreateSemaphoreA(nullptr, 1, 1, nameOf("Local\\", exe).c_str()));
    ASSERT_TRUE(held.valid());
    storePid(exe, GetCurrentProcessId());

    std::atomic<HWND> window{nullptr};
    std::atomic<DWORD> threadId{0};
    std::thread pump([&] {
        threadId = GetCurrentThreadId();
        WNDCLASSW cls{};
        cls.lpfnWndProc = DefWindowProcW;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = L"VexloFirstInstanceWindow";
        RegisterClassW(&cls);
        HWND w = CreateWindowExW(0, cls.lpszClassName, L"first instance", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                 nullptr, nullptr, cls.hInstance, nullptr);
        ShowWindow(w, SW_SHOWMINIMIZED);
        window = w;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        DestroyWindow(w);
    });
    ASSERT_TRUE(waitFor([&] { return window.load() != nullptr; }));
    const bool minimisedBefore = IsIconic(window) != FALSE;

    LaunchResult second = launchRun(exe, freshTemp());
    const bool minimisedAfter = IsIconic(window) != FALSE;
    PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    pump.join();

    EXPECT_TRUE(minimisedBefore);
    EXPECT_FALSE(minimisedAfter);
    EXPECT_EQ(second.run.exitCode, 0u) << wideToUtf8(second.log.text);
    EXPECT_TRUE(logHas(second.log, L"other pid " + std::to_wstring(GetCurrentProcessId())));
    const int found = messageIndex(second.log, L"found window ");
    ASSERT_GE(found, 0) << wideToUtf8(second.log.text);
    const std::vector<std::wstring> expected = {L"restore", L"foreground", L"popup", L"done", L"exiting"};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(second.log.messages.at(static_cast<size_t>(found) + 1 + i), expected[i]);
}

}  // namespace
}  // namespace vexlo::test
