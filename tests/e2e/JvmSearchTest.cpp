// The order in which "vexlo.exe -run" looks for a runtime: the preferred location, the configured sequence,
// the installer location, the version-blind fallback pass and the two home variables.
#include <gtest/gtest.h>

#include <windows.h>

#include "RuntimeRegistry.h"
#include "StandinRuntimes.h"
#include "common/Handles.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

class JvmSearchE2E : public ::testing::Test {
protected:
    TempDir app_{L"searchapp"};
    TempDir runtimes_{L"searchrt"};
    TempDir temp_{L"searchtmp"};

    void TearDown() override {
        forgetCachedRuntimes(runtimes_.path());
        forgetCachedRuntimes(app_.path());
    }

    std::wstring home(const wchar_t* name) const { return runtimes_.path() + L"\\" + name; }
    std::wstring launcher(const pack::Block& block) { return makeLauncher(app_.path(), L"app.exe", block); }
    static std::string entry(char type, const std::wstring& location) { return type + wideToUtf8(location); }

    void writeLocationFile(const wchar_t* name, const std::wstring& line) {
        app_.subdir(L".quandrel");
        ASSERT_TRUE(writeFileBytes(app_.path() + L"\\.quandrel\\" + name, wideToUtf8(line) + "\r\nsecond line\r\n"));
    }

    // The jvm.dll that the run loaded, lower-cased; empty when none.
    static std::wstring loadedLibrary(const LaunchResult& r) {
        auto loads = r.loads();
        EXPECT_LE(loads.size(), 1u);
        return loads.empty() ? std::wstring() : lower(utf8ToWide(loads[0]["dll"]));
    }
    static std::wstring serverLibrary(const std::wstring& home) { return lower(home) + L"\\bin\\server\\jvm.dll"; }
};

TEST_F(JvmSearchE2E, PreferredLocationWinsEvenForABetaRuntime) {
    layOutRuntime(home(L"beta"), {.version = "21-ea"});
    layOutRuntime(home(L"newer"), {.version = "22.0.1"});
    writeLocationFile(L"pref_jre.cfg", home(L"beta"));
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', home(L"newer")));
    LaunchResult r = launchRun(launcher(block), temp_);

    EXPECT_TRUE(logHas(r.log, L"Has preferred location " + home(L"beta"))) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"Using preferred location"));
    EXPECT_EQ(loadedLibrary(r), serverLibrary(home(L"beta")));
    EXPECT_FALSE(logHas(r.log, L"Testing location ", true));
}

TEST_F(JvmSearchE2E, AcceptAnyVersionTriesADirectoryEntryOutsideTheBounds) {
    layOutRuntime(home(L"old"), {.version = "11.0.2"});
    pack::Block block = searchBlock();
    block.set(ids::kMinJavaVersion, "17");
    block.set(ids::kSearchSequence, entry('A', home(L"old")));

    // Without id 134 the runtime is rejected (and an absolute A entry is not retried by the fallback pass).
    LaunchResult r = launchRun(launcher(block), temp_);
    EXPECT_TRUE(logHas(r.log, L"ERROR: No JVM found")) << wideToUtf8(r.log.text);
    EXPECT_EQ(loadedLibrary(r), L"");

    block.set(ids::kAcceptFailedDirectoryEntry, "1");
    r = launchRun(launcher(block), temp_);
    EXPECT_TRUE(logHas(r.log, L"checkJavaExe returning 0")) << wideToUtf8(r.log.text);
    EXPECT_EQ(loadedLibrary(r), serverLibrary(home(L"old")));
    EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));
}

TEST_F(JvmSearchE2E, FallbackPassLoadsTheRelativeJreRegardlessOfVersion) {
    const std::wstring jre = app_.path() + L"\\jre";
    layOutRuntime(jre, {.version = "1.8.0_202"});
    pack::Block block = searchBlock();
    block.set(ids::kMinJavaVersion, "11");
    block.set(ids::kSearchSequence, "R.\\jre");
    LaunchResult r = launchRun(launcher(block), temp_);

    int mainPass = messageIndex(r.log, L"Testing location .\\jre (type R)");
    int fallback = messageIndex(r.log, L"Testing relative location .\\jre");
    int exists = messageIndex(r.log, lower(jre) + L"\\bin\\java.exe exists");
    EXPECT_GE(mainPass, 0) << wideToUtf8(r.log.text);
    EXPECT_GT(fallback, mainPass);
    EXPECT_GT(exists, fallback);
    EXPECT_EQ(loadedLibrary(r), serverLibrary(jre));
    EXPECT_FALSE(logHas(r.log, L"Search sequence finished"));
}

TEST_F(JvmSearchE2E, FallbackPassSkipsAbsoluteAAndREntriesButTriesB) {
    for (const wchar_t* name : {L"a", L"r", L"b"}) layOutRuntime(home(name), {.version = "1.7.0_80"});
    pack::Block block = searchBlock();
    block.set(ids::kMinJavaVersion, "1.8");
    block.set(ids::kSearchSequence,
              entry('A', home(L"a")) + ";" + entry('R', home(L"r")) + ";" + entry('B', home(L"b")));
    LaunchResult r = launchRun(launcher(block), temp_);

    EXPECT_FALSE(logHas(r.log, L"Testing relative location " + home(L"a"))) << wideToUtf8(r.log.text);
    EXPECT_FALSE(logHas(r.log, L"Testing relative location " + home(L"r")));
    EXPECT_TRUE(logHas(r.log, L"Testing relative location " + home(L"b")));
    EXPECT_EQ(loadedLibrary(r), serverLibrary(home(L"b")));
}

TEST_F(JvmSearchE2E, HomeVariablesComeLastAndAcceptForwardSlashes) {
    auto slashed = [](std::wstring path) {
        for (wchar_t& c : path)
            if (c == L'\\') c = L'/';
        return path;
    };
    layOutRuntime(home(L"configured"));
    layOutRuntime(home(L"vexlohome"));
    layOutRuntime(home(L"quandrelhome"));
    std::map<std::wstring, std::optional<std::wstring>> env = {{L"VEXLO_JAVA_HOME", slashed(home(L"vexlohome"))},
                                                               {L"QUANDREL_JAVA_HOME", slashed(home(L"quandrelhome"))}};

    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', home(L"configured")));
    LaunchResult r = launchRun(launcher(block), temp_, env);
    EXPECT_EQ(loadedLibrary(r), serverLibrary(home(L"configured"))) << wideToUtf8(r.log.text);

    r = launchRun(launcher(searchBlock()), temp_, env);
    EXPECT_GE(messageIndex(r.log, L"Search sequence finished"), 0) << wideToUtf8(r.log.text);
    EXPECT_EQ(loadedLibrary(r), serverLibrary(home(L"vexlohome")));

    // A VEXLO_JAVA_HOME runtime that does not load hands over to QUANDREL_JAVA_HOME.
    layOutRuntime(home(L"vexlobroken"), {.jvmDirs = {}});
    env[L"VEXLO_JAVA_HOME"] = slashed(home(L"vexlobroken"));
    r = launchRun(launcher(searchBlock()), temp_, env);
    int finished = messageIndex(r.log, L"Search sequence finished");
    int vexlo = messageIndex(r.log, L"Trying to load JVM-DLL from " + lower(home(L"vexlobroken")));
    int quandrel = messageIndex(r.log, L"Trying to load JVM-DLL from " + lower(home(L"quandrelhome")));
    EXPECT_GE(finished, 0) << wideToUtf8(r.log.text);
    EXPECT_GT(vexlo, finished);
    EXPECT_GT(quandrel, vexlo);
    EXPECT_EQ(loadedLibrary(r), serverLibrary(home(L"quandrelhome")));
}

TEST_F(JvmSearchE2E, RequiredJdkNeedsToolsJarAndUsesItsJre) {
    layOutRuntime(home(L"jreonly"));
    const std::wstring jdk = home(L"jdk");
    layOutRuntime(jdk, {.version = "1.8.0_202", .javaDir = L"jre\\bin", .jvmDirs = {L"jre\\bin\\server"}});
    CreateDirectoryW((jdk + L"\\lib").c_str(), nullptr);
    ASSERT_TRUE(writeFileBytes(jdk + L"\\lib\\tools.jar", "PK"));
    pack::Block block = searchBlock();
    block.set(ids::kRequireJdk, "1");
    block.set(ids::kSearchSequence, entry('A', home(L"jreonly")) + ";" + entry('A', jdk));
    LaunchResult r = launchRun(launcher(block), temp_);

    // The home without tools.jar is not even probed.
    EXPECT_FALSE(logHas(r.log, L"checkJavaExe (" + lower(home(L"jreonly")), true)) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"Trying to load JVM-DLL from " + lower(jdk) + L"\\jre\\bin\\java.exe"));
    EXPECT_EQ(loadedLibrary(r), lower(jdk) + L"\\jre\\bin\\server\\jvm.dll");
}

TEST_F(JvmSearchE2E, InstallerLocationComesAfterTheSequence) {
    layOutRuntime(home(L"tooold"), {.version = "1.8.0_202"});
    layOutRuntime(home(L"installed"));
    writeLocationFile(L"inst_jre.cfg", home(L"installed"));
    pack::Block block = searchBlock();
    block.set(ids::kMinJavaVersion, "11");
    block.set(ids::kSearchSequence, entry('A', home(L"tooold")));
    LaunchResult r = launchRun(launcher(block), temp_);

    int tested = messageIndex(r.log, L"Testing location " + home(L"tooold") + L" (type A)");
    int has = messageIndex(r.log, L"Has installer location " + home(L"installed"));
    EXPECT_GE(tested, 0) << wideToUtf8(r.log.text);
    EXPECT_GT(has, tested);
    EXPECT_TRUE(logHas(r.log, L"Using installer location"));
    EXPECT_EQ(loadedLibrary(r), serverLibrary(home(L"installed")));
}

// A runtime registered under a vendor key for the duration of one test, under the registry tests' lock (another
// test process wipes the vendor keys).
class RegisteredRuntime {
public:
    RegisteredRuntime(const std::string& version, const std::wstring& home)
        : key_("SOFTWARE\\JavaSoft\\JDK\\" + version) {
        unique_hkey key;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        const std::string value = wideToUtf8(home);
        EXPECT_EQ(RegSetValueExA(key.get(), "JavaHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    }
    ~RegisteredRuntime() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str()); }

private:
    RuntimeRegistryScope lock_;
    std::string key_;
};

TEST_F(JvmSearchE2E, ApplicationJreBeforeRegistryAndAgainInTheFallbackPass) {
    const std::wstring jre = app_.path() + L"\\jre";
    layOutRuntime(jre, {.version = "1.8.0_202"});
    layOutRuntime(home(L"registered"), {.version = "98.7.6"});
    RegisteredRuntime registered("98.7.6", home(L"registered"));
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, "R.\\jre;Y");

    // The application's runtime passes: the registry is not looked at.
    LaunchResult r = launchRun(launcher(block), temp_);
    EXPECT_EQ(loadedLibrary(r), serverLibrary(jre)) << wideToUtf8(r.log.text);
    EXPECT_FALSE(logHas(r.log, L"Testing location  (type Y)"));

    // Too old: the newest acceptable registry runtime is used.
    block.set(ids::kMinJavaVersion, "11");
    r = launchRun(launcher(block), temp_);
    EXPECT_TRUE(logHas(r.log, L"Testing location  (type Y)")) << wideToUtf8(r.log.text);
    EXPECT_EQ(loadedLibrary(r), serverLibrary(home(L"registered")));

    // Nothing acceptable anywhere: the fallback pass takes the application's runtime whatever its version.
    block.set(ids::kMinJavaVersion, "98.8");
    r = launchRun(launcher(block), temp_);
    EXPECT_TRUE(logHas(r.log, L"Testing relative location .\\jre")) << wideToUtf8(r.log.text);
    EXPECT_EQ(loadedLibrary(r), serverLibrary(jre));
}

TEST_F(JvmSearchE2E, EntriesWithOtherLettersAreNoLocations) {
    layOutRuntime(home(L"any"));
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('a', home(L"any")) + ";;" + entry('X', home(L"any")));
    LaunchResult r = launchRun(launcher(block), temp_);
    EXPECT_FALSE(logHas(r.log, L"checkJavaExe (", true)) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"ERROR: No JVM found"));
    EXPECT_EQ(r.run.exitCode, 1u);
}

}  // namespace
}  // namespace vexlo::test
