// Loading the chosen runtime's jvm.dll through "vexlo.exe -run": the library subdirectories, the JDK layout,
// PATH while and after loading, the messages when nothing can be used, the native library directories and
// the launch steps that this build does not have yet.
#include <gtest/gtest.h>

#include <windows.h>

#include "StandinRuntimes.h"
#include "common/Handles.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

class JvmLoadE2E : public ::testing::Test {
protected:
    TempDir app_{L"loadapp"};
    TempDir runtimes_{L"loadrt"};
    TempDir temp_{L"loadtmp"};

    void TearDown() override { forgetCachedRuntimes(runtimes_.path()); }

    std::wstring home(const wchar_t* name) const { return runtimes_.path() + L"\\" + name; }
    std::wstring launcher(const pack::Block& block) { return makeLauncher(app_.path(), L"app.exe", block); }
    static std::string entry(char type, const std::wstring& location) { return type + wideToUtf8(location); }
};

TEST_F(JvmLoadE2E, ServerLibraryLoadsWithItsBinDirectoryInFrontOfPath) {
    const std::wstring rt = home(L"jre17");
    layOutRuntime(rt);
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', rt));
    LaunchResult r = launchRun(launcher(block), temp_);

    const std::wstring bin = lower(rt) + L"\\bin";
    EXPECT_TRUE(logHas(r.log, L"Trying to load JVM-DLL from " + bin + L"\\java.exe")) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"Trying " + bin + L"\\server\\jvm.dll (exists 1)"));
    EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));
    EXPECT_TRUE(logHas(r.log, L"launch done"));
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();

    auto loads = r.loads();
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(lowerAscii(loads[0]["dll"]), wideToUtf8(bin) + "\\server\\jvm.dll");
    EXPECT_TRUE(startsWith(utf8ToWide(loads[0]["PATH"]), bin + L";")) << loads[0]["PATH"];
    // Both views of the environment agree, in full.
    EXPECT_EQ(loads[0]["CRTPATH"], loads[0]["PATH"]);
}

TEST_F(JvmLoadE2E, ClientLibraryLoadsAfterTheMissingServerOne) {
    const std::wstring rt = home(L"client");
    layOutRuntime(rt, {.jvmDirs = {L"bin\\client"}});
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', rt));
    LaunchResult r = launchRun(launcher(block), temp_);

    const std::wstring bin = lower(rt) + L"\\bin";
    int server = messageIndex(r.log, L"Trying " + bin + L"\\server\\jvm.dll (exists 0)");
    int client = messageIndex(r.log, L"Trying " + bin + L"\\client\\jvm.dll (exists 1)");
    EXPECT_GE(server, 0) << wideToUtf8(r.log.text);
    EXPECT_GT(client, server);
    EXPECT_FALSE(logHas(r.log, L"Failed with error code ", true));  // an absent file is no failure
    auto loads = r.loads();
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(lowerAscii(loads[0]["dll"]), wideToUtf8(bin) + "\\client\\jvm.dll");
    EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));
}

TEST_F(JvmLoadE2E, LibraryThatFailsToLoadIsLoggedAndTheNextSubdirectoryTried) {
    const std::wstring rt = home(L"damaged");
    layOutRuntime(rt, {.jvmDirs = {L"bin\\client"}});
    CreateDirectoryW((rt + L"\\bin\\server").c_str(), nullptr);
    ASSERT_TRUE(writeFileBytes(rt + L"\\bin\\server\\jvm.dll", "not a library"));
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', rt));
    LaunchResult r = launchRun(launcher(block), temp_);

    const std::wstring bin = lower(rt) + L"\\bin";
    int server = messageIndex(r.log, L"Trying " + bin + L"\\server\\jvm.dll (exists 1)");
    int failed = messageIndex(r.log, L"Failed with error code ");
    int client = messageIndex(r.log, L"Trying " + bin + L"\\client\\jvm.dll (exists 1)");
    EXPECT_GE(server, 0) << wideToUtf8(r.log.text);
    EXPECT_EQ(failed, server + 1);
    EXPECT_GT(client, failed);
    EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));
}

TEST_F(JvmLoadE2E, ConfiguredSubdirectoryIsTriedFirst) {
    const std::wstring rt = home(L"hot");
    layOutRuntime(rt, {.jvmDirs = {L"bin\\server", L"bin\\hotspot"}});
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', rt));
    block.set(ids::kJvmSubdirectory, "hotspot");
    LaunchResult r = launchRun(launcher(block), temp_);

    const std::wstring bin = lower(rt) + L"\\bin";
    EXPECT_TRUE(logHas(r.log, L"Trying " + bin + L"\\hotspot\\jvm.dll (exists 1)")) << wideToUtf8(r.log.text);
    EXPECT_FALSE(logHas(r.log, L"Trying " + bin + L"\\server\\jvm.dll", true));
    auto loads = r.loads();
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(lowerAscii(loads[0]["dll"]), wideToUtf8(bin) + "\\hotspot\\jvm.dll");
}

TEST_F(JvmLoadE2E, JdkWithItsLibraryOnlyBelowJreLoadsThroughTheFallback) {
    const std::wstring jdk = home(L"jdk8");
    layOutRuntime(jdk, {.version = "1.8.0_202", .jvmDirs = {L"jre\\bin\\server"}});
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', jdk));
    LaunchResult r = launchRun(launcher(block), temp_);

    const std::wstring bin = lower(jdk) + L"\\bin";
    const std::wstring jreBin = bin + L"\\..\\jre\\bin";
    EXPECT_TRUE(logHas(r.log, L"Trying " + bin + L"\\server\\jvm.dll (exists 0)")) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"Trying " + jreBin + L"\\server\\jvm.dll (exists 1)"));
    auto loads = r.loads();
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_TRUE(startsWith(utf8ToWide(loads[0]["PATH"]), jreBin + L";")) << loads[0]["PATH"];
    // The first bin directory was taken back out of PATH before the second went in.
    EXPECT_EQ(utf8ToWide(loads[0]["PATH"]).find(bin + L";"), std::wstring::npos) << loads[0]["PATH"];
    EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));
}

TEST_F(JvmLoadE2E, NoRuntimeAnywhereShowsMessage1016) {
    LaunchResult r = launchRun(launcher(searchBlock()), temp_);
    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_TRUE(logHas(r.log, L"ERROR: No JVM found")) << wideToUtf8(r.log.text);
    EXPECT_NE(r.run.err.find("No Java 64"), std::string::npos) << r.run.err;
    EXPECT_FALSE(logHas(r.log, L"Could not get DLL-Handle."));
    EXPECT_TRUE(r.records.empty());
}

TEST_F(JvmLoadE2E, VariableEntryWhoseLibraryDoesNotLoadNamesTheVariable) {
    const std::wstring rt = home(L"nolib");
    layOutRuntime(rt, {.jvmDirs = {}});
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, "EMY_RUNTIME");
    LaunchResult r = launchRun(launcher(block), temp_, {{L"MY_RUNTIME", rt}});

    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_TRUE(logHas(r.log, L"ERROR: Could not get DLL-Handle.")) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"ERROR: Could not load functions"));
    EXPECT_NE(r.run.err.find("Variable runtime MY_RUNTIME not loaded"), std::string::npos) << r.run.err;
}

TEST_F(JvmLoadE2E, DirectoryEntriesThatDoNotLoadLeavePathAsItWas) {
    // Two runtimes without a loadable library (each tried in its bin directory and in the JDK layout's
    // jre\bin), then one that loads.
    layOutRuntime(home(L"broken1"), {.jvmDirs = {}});
    layOutRuntime(home(L"broken2"), {.jvmDirs = {}});
    layOutRuntime(home(L"good"));
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence,
              entry('A', home(L"broken1")) + ";" + entry('A', home(L"broken2")) + ";" + entry('A', home(L"good")));
    LaunchResult r = launchRun(launcher(block), temp_);

    // The PATH that the native library step left behind ...
    int nativeAt = messageIndex(r.log, L"Setting PATH (native libs) ");
    ASSERT_GE(nativeAt, 0) << wideToUtf8(r.log.text);
    const std::wstring original = r.log.messages[static_cast<size_t>(nativeAt)].substr(
        wcslen(L"Setting PATH (native libs) "));
    // ... is set back after each of the four failed bin directories ...
    int restored = 0;
    for (const std::wstring& m : r.log.messages) restored += m == L"Setting PATH " + original ? 1 : 0;
    EXPECT_EQ(restored, 4) << wideToUtf8(r.log.text);
    // ... so the library that loads sees its own bin directory in front of it and nothing else.
    auto loads = r.loads();
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(utf8ToWide(loads[0]["PATH"]), lower(home(L"good")) + L"\\bin;" + original);
    EXPECT_EQ(loads[0]["CRTPATH"], loads[0]["PATH"]);
}

TEST_F(JvmLoadE2E, DirectoryEntryThatDoesNotLoadNamesTheExpandedLocation) {
    layOutRuntime(app_.path() + L"\\jre", {.jvmDirs = {}});
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, "R%VEXLO_EXEDIR%jre");
    LaunchResult r = launchRun(launcher(block), temp_);

    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_NE(r.run.err.find("Directory runtime " + wideToUtf8(app_.path()) + "\\jre not loaded"), std::string::npos)
        << r.run.err;
    // The fallback pass takes the entry as configured, which names no existing runtime here.
    EXPECT_TRUE(logHas(r.log, L"Testing relative location %VEXLO_EXEDIR%jre")) << wideToUtf8(r.log.text);
}

TEST_F(JvmLoadE2E, LibraryWithoutCreateJavaVMIsReported) {
    const std::wstring rt = home(L"noexport");
    layOutRuntime(rt, {.exportsCreateJavaVM = false});
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', rt));
    LaunchResult r = launchRun(launcher(block), temp_);

    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_EQ(r.loads().size(), 1u);
    EXPECT_FALSE(logHas(r.log, L"ERROR: Could not get DLL-Handle.")) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"ERROR: Could not load functions"));
    EXPECT_FALSE(logHas(r.log, L"Loading of JVM-DLL successful"));
    EXPECT_NE(r.run.err.find("Directory runtime " + wideToUtf8(rt) + " not loaded"), std::string::npos) << r.run.err;
}

TEST_F(JvmLoadE2E, SearchPathRuntimeLoadsAndItsFailureShowsMessage1016) {
    const std::wstring good = home(L"onpath");
    layOutRuntime(good);
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, "S");
    const std::wstring path = good + L"\\bin;C:\\windows\\system32;C:\\windows";
    LaunchResult r = launchRun(launcher(block), temp_, {{L"PATH", path}});
    EXPECT_TRUE(logHas(r.log, L"Trying " + lower(good) + L"\\bin\\server\\jvm.dll (exists 1)"))
        << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));

    const std::wstring broken = home(L"brokenonpath");
    layOutRuntime(broken, {.jvmDirs = {}});
    r = launchRun(launcher(block), temp_, {{L"PATH", broken + L"\\bin;C:\\windows\\system32;C:\\windows"}});
    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_TRUE(logHas(r.log, L"ERROR: Could not get DLL-Handle.")) << wideToUtf8(r.log.text);
    EXPECT_NE(r.run.err.find("No Java 64"), std::string::npos) << r.run.err;
}

TEST_F(JvmLoadE2E, NativeLibraryDirectoriesGoInFrontOfPath) {
    const std::wstring rt = home(L"native");
    layOutRuntime(rt);
    const std::string oldPath = "C:\\windows\\system32;C:\\windows";
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', rt));
    block.set(ids::kNativeLibraryDirectories, "lib;bin\\native");
    LaunchResult r = launchRun(launcher(block), temp_, {{L"PATH", utf8ToWide(oldPath)}});

    const std::string x = wideToUtf8(app_.path());
    const std::string expected = x + "\\lib;" + x + "\\bin\\native;" + oldPath;
    EXPECT_TRUE(logHas(r.log, L"native lib dir is lib;bin\\native")) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"Setting PATH (native libs) " + utf8ToWide(expected)));
    auto loads = r.loads();
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0]["PATH"], lowerAscii(wideToUtf8(rt)) + "\\bin;" + expected);
    EXPECT_EQ(loads[0]["CRTPATH"], loads[0]["PATH"]);
    EXPECT_FALSE(logHas(r.log, L"Adding DLL directory ", true));
}

TEST_F(JvmLoadE2E, DllDirectoriesAreRegisteredOnlyWhenConfigured) {
    layOutRuntime(home(L"broken"), {.jvmDirs = {}});
    layOutRuntime(home(L"good"));
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', home(L"broken")) + ";" + entry('A', home(L"good")));
    block.set(ids::kNativeLibraryDirectories, "lib;bin\\native");
    block.set(ids::kAddDllDirectories, "1");
    LaunchResult r = launchRun(launcher(block), temp_);

    const std::wstring x = app_.path();
    EXPECT_TRUE(logHas(r.log, L"Adding DLL directory " + x + L"\\lib")) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"Adding DLL directory " + x + L"\\bin\\native"));
    // Each candidate's bin directory too; the one that did not load is taken back.
    int broken = messageIndex(r.log, L"Adding DLL directory " + lower(home(L"broken")) + L"\\bin");
    int removed = messageIndex(r.log, L"Removing DLL directory");
    int good = messageIndex(r.log, L"Adding DLL directory " + lower(home(L"good")) + L"\\bin");
    EXPECT_GE(broken, 0);
    EXPECT_GT(removed, broken);
    EXPECT_GT(good, removed);
    EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));
}

// Wine reports the Windows version configured for an executable's name; the key is removed again afterwards.
class WineVersionForExecutable {
public:
    WineVersionForExecutable(const std::wstring& exeName, const wchar_t* version)
        : key_(L"Software\\Wine\\AppDefaults\\" + exeName) {
        unique_hkey key;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                                 static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    ~WineVersionForExecutable() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

private:
    std::wstring key_;
};

TEST_F(JvmLoadE2E, UcrtbaseIsPreloadedOnlyOnSystemsBeforeWindows10) {
    const std::wstring rt = home(L"ucrt");
    layOutRuntime(rt);
    copyStandin(L"standin_jvm_noexport.dll", rt + L"\\bin\\ucrtbase.dll");
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, entry('A', rt));
    const std::wstring win7Exe = makeLauncher(app_.path(), L"ucrt7.exe", block);
    const std::wstring win10Exe = makeLauncher(app_.path(), L"ucrt10.exe", block);

    {
        WineVersionForExecutable win7(L"ucrt7.exe", L"win7");
        LaunchResult r = launchRun(win7Exe, temp_);
        EXPECT_TRUE(logHas(r.log, L"Preloading ucrtbase.dll 4")) << wideToUtf8(r.log.text);
        EXPECT_FALSE(logHas(r.log, L"Could not preload ucrtbase.dll"));
        EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));
    }
    LaunchResult r = launchRun(win10Exe, temp_);
    EXPECT_FALSE(logHas(r.log, L"Preloading ucrtbase.dll", true)) << wideToUtf8(r.log.text);
    EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));
}

TEST_F(JvmLoadE2E, ExtractionAndTheGuardComeBeforeTheSearch) {
    const std::wstring rt = home(L"steps");
    layOutRuntime(rt);
    pack::Block included = searchBlock();
    included.set(ids::kSearchSequence, entry('A', rt));
    included.set(ids::kIncludedFileCount, "1");
    LaunchResult r = launchRun(launcher(included), temp_);
    // The native library path comes between extraction and the guard, the search after them.
    const int extracted = messageIndex(r.log, L"extracting files done");
    EXPECT_GE(extracted, 0) << wideToUtf8(r.log.text);
    EXPECT_LT(extracted, messageIndex(r.log, L"Setting PATH (native libs) "));
    EXPECT_LT(messageIndex(r.log, L"Setting PATH (native libs) "), messageIndex(r.log, L"semaphore name "));
    EXPECT_LT(messageIndex(r.log, L"semaphore name "), messageIndex(r.log, L"Searching for a JVM"));
    EXPECT_TRUE(logHas(r.log, L"Loading of JVM-DLL successful"));
}

}  // namespace
}  // namespace vexlo::test
