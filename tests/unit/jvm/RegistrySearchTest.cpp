#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RuntimeRegistry.h"
#include "TestSupport.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "jvm/JavaProbe.h"
#include "jvm/JvmSearch.h"
#include "jvm/RegistrySearch.h"
#include "jvm/SelectedRuntime.h"
#include "paths/PathForms.h"

namespace vexlo {
namespace {

using test::asciiPath;
using test::setRegistryString;

constexpr char kJavaSoftJre[] = "SOFTWARE\\JavaSoft\\JRE";
constexpr char kJavaSoftJdk[] = "SOFTWARE\\JavaSoft\\JDK";
constexpr char kJavaSoftRuntime[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
constexpr char kJavaSoftDevKit[] = "SOFTWARE\\JavaSoft\\Java Development Kit";
constexpr char kAdoptiumJdk[] = "SOFTWARE\\Eclipse Adoptium\\JDK";
constexpr char kAdoptiumJre[] = "SOFTWARE\\Eclipse Adoptium\\JRE";
constexpr char kZulu[] = "SOFTWARE\\Azul Systems\\Zulu";

// Runtimes in a temporary directory, registered in the shared registry under a lock.
class RegistrySearchTest : public ::testing::Test {
protected:
    test::RuntimeRegistryScope registry;
    test::TempDir dir{L"regjre"};
    VersionBounds versionBounds;

    void SetUp() override {
        resetConfigForTests();
        nonWorkingJavas.clear();
        setPreviousInstallationFlag(false);
    }
    void TearDown() override {
        resetConfigForTests();
        nonWorkingJavas.clear();
        setPreviousInstallationFlag(false);
    }

    void bounds(const std::string& min, const std::string& max) {
        setConfigValueForTests(ids::kMinJavaVersion, min);
        setConfigValueForTests(ids::kMaxJavaVersion, max);
        versionBounds = loadVersionBounds();
    }

    // A runtime home named `name` in the temporary directory; answers its 8-bit path.
    std::string runtime(const std::wstring& name, const std::string& version, bool jvm = false) {
        test::makeStandinRuntime(dir.file(name), version, jvm);
        return asciiPath(dir.file(name));
    }
    // A JDK layout: the runtime in jre, lib\tools.jar beside it.
    std::string jdk(const std::wstring& name, const std::string& version) {
        test::makeStandinRuntime(dir.file(name) + L"\\jre", version, false);
        CreateDirectoryW((dir.file(name) + L"\\lib").c_str(), nullptr);
        test::writeFileBytes(dir.file(name) + L"\\lib\\tools.jar", "");
        return asciiPath(dir.file(name));
    }
    static std::string javaOf(const std::string& home) { return canonicalPathAnsi(home + "\\bin\\java.exe", false); }
    static std::string jdkJavaOf(const std::string& home) {
        return canonicalPathAnsi(home + "\\jre\\bin\\java.exe", false);
    }
    // How often the runtime's java.exe was run to learn its version.
    static int probes(const std::string& home, const char* bin = "\\bin") {
        auto content = test::readFileBytes(test::utf8ToWide(home + bin + "\\runs.txt"));
        if (!content) return 0;
        int count = 0;
        for (std::size_t at = content->find("\r\n"); at != std::string::npos; at = content->find("\r\n", at + 2))
            ++count;
        return count;
    }

    static void plain(HKEY root, const char* key, const std::string& name, const std::string& home) {
        setRegistryString(root, std::string(key) + "\\" + name, "JavaHome", home);
    }
    static void msi(HKEY root, const char* key, const std::string& name, const std::string& home) {
        setRegistryString(root, std::string(key) + "\\" + name + "\\hotspot\\MSI", "Path", home);
    }
    static void located(HKEY root, const std::string& javaExe) {
        std::string name = javaExe;
        for (char& c : name)
            if (c == '\\') c = '/';
        test::createRegistryKey(root, kLocatedJvmsKey + name);
    }
    static void installations(HKEY root, const std::string& appId, const std::string& directories) {
        setRegistryString(root, kInstallationsKey, appId, directories);
    }

    struct Found {
        bool ok = false;
        std::string javaExe;
        std::string version;
    };
    static Found asFound(const std::optional<Runtime>& runtime) {
        return runtime ? Found{true, runtime->javaExe, runtime->version} : Found{};
    }
    Found registryJre() { return asFound(findRegistryJre(versionBounds)); }
    Found previousInstallationJre() { return asFound(findPreviousInstallationJre(versionBounds)); }
};

TEST_F(RegistrySearchTest, NewestVendorRuntimeWinsAndEqualVersionsKeepTheKeyOrder) {
    std::string jre11 = runtime(L"jre11", "11.0.21");
    std::string oracle = runtime(L"oracle17", "17.0.9");
    std::string temurin = runtime(L"temurin17", "17.0.9");
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJre, "11", jre11);
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "17", oracle);
    msi(HKEY_LOCAL_MACHINE, kAdoptiumJdk, "17.0.9.9", temurin);

    Found found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(oracle));
    EXPECT_EQ(found.version, "17.0.9");

    // A newer MSI-layout runtime, registered for the user only, beats them all.
    std::string user = runtime(L"user21", "21.0.1");
    msi(HKEY_CURRENT_USER, kAdoptiumJdk, "21.0.1.12", user);
    found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(user));
}

TEST_F(RegistrySearchTest, VersionKeysOutsideTheBoundsAreNotProbedAndTheNewestIsProbedFirst) {
    std::string h8 = runtime(L"h8", "1.8.0_392");
    std::string h11 = runtime(L"h11", "11.0.21");
    std::string h17 = runtime(L"h17", "17.0.9");
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "1.8", h8);
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "17", h17);
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "11", h11);
    bounds("", "11");

    Found found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(h11));
    EXPECT_EQ(probes(h17), 0);
    EXPECT_EQ(probes(h8), 0);

    // Once 11 is known not to work, the next-best key is probed.
    ASSERT_TRUE(addNonWorkingJava(javaOf(h11)));
    found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(h8));
    EXPECT_EQ(found.version, "1.8.0_392");
    EXPECT_EQ(probes(h17), 0);
}

TEST_F(RegistrySearchTest, AKeyWhoseRuntimeFailsItsProbeGivesWayToTheNextName) {
    std::string h8 = runtime(L"h8", "1.8.0_392");
    std::string h11 = runtime(L"h11", "17.0.1");  // registered as 11, but it is a 17 and breaks the maximum
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "11", h11);
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "1.8", h8);
    bounds("", "11");

    Found found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(h8));
    EXPECT_EQ(probes(h11), 1);
    EXPECT_EQ(probes(h8), 1);
}

TEST_F(RegistrySearchTest, ZuluNamesAreTestedWithoutTheirPrefixAndReadInstallationPath) {
    std::string z8 = runtime(L"z8", "1.8.0_392");
    std::string z17 = runtime(L"z17", "17.0.9");
    std::string z21 = runtime(L"z21", "21.0.1");
    setRegistryString(HKEY_LOCAL_MACHINE, std::string(kZulu) + "\\zulu-8", "InstallationPath", z8);
    setRegistryString(HKEY_CURRENT_USER, std::string(kZulu) + "\\zulu-17", "InstallationPath", z17);
    // The plain layout's value means nothing below the Zulu key.
    setRegistryString(HKEY_LOCAL_MACHINE, std::string(kZulu) + "\\zulu-21", "JavaHome", z21);

    Found found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(z17));
    EXPECT_EQ(probes(z21), 0);

    bounds("", "11");
    found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(z8));
}

TEST_F(RegistrySearchTest, LocatedRuntimeWinsATieWithAVendorRuntimeButNotAnOlderVersion) {
    std::string vendor = runtime(L"vendor", "17.0.9");
    std::string other = runtime(L"other", "17.0.9");
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "17", vendor);
    located(HKEY_LOCAL_MACHINE, javaOf(other));

    Found found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(other));

    test::clearRuntimeRegistryKeys();
    std::string older = runtime(L"older", "17.0.8");
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "17", vendor);
    located(HKEY_CURRENT_USER, javaOf(older));
    found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(vendor));
}

TEST_F(RegistrySearchTest, LocatedRuntimesIgnoreQdrJresAndPreferTheMachineOnATie) {
    std::string own = runtime(L"qdr_jres_21", "21.0.1");
    std::string user = runtime(L"user", "17.0.9");
    std::string machine = runtime(L"machine", "17.0.9");
    located(HKEY_CURRENT_USER, javaOf(own));
    located(HKEY_CURRENT_USER, javaOf(user));
    located(HKEY_LOCAL_MACHINE, javaOf(machine));

    Found f = asFound(detail::findLocatedJvm(kLocatedJvmsKey, versionBounds));
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.javaExe, javaOf(machine));
    EXPECT_EQ(probes(own), 0);

    // A newer user entry wins.
    std::string newer = runtime(L"newer", "17.0.10");
    located(HKEY_CURRENT_USER, javaOf(newer));
    f = asFound(detail::findLocatedJvm(kLocatedJvmsKey, versionBounds));
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.javaExe, javaOf(newer));
    EXPECT_EQ(f.version, "17.0.10");
}

TEST_F(RegistrySearchTest, ARequiredJdkSkipsTheKeysThatDescribeJresOnly) {
    std::string k1 = jdk(L"k1", "21.0.1");
    std::string k3 = jdk(L"k3", "21.0.1");
    std::string k7 = jdk(L"k7", "21.0.1");
    std::string k11 = jdk(L"k11", "21.0.1");
    std::string k4 = jdk(L"k4", "1.8.0_392");
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJre, "21", k1);
    plain(HKEY_LOCAL_MACHINE, kJavaSoftRuntime, "21", k3);
    msi(HKEY_LOCAL_MACHINE, kAdoptiumJre, "21.0.1.12", k7);
    msi(HKEY_CURRENT_USER, kAdoptiumJre, "21.0.1.12", k11);
    plain(HKEY_LOCAL_MACHINE, kJavaSoftDevKit, "1.8", k4);
    setConfigValueForTests(ids::kRequireJdk, "1");

    Found found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, jdkJavaOf(k4));
    for (const std::string& skipped : {k1, k3, k7, k11}) EXPECT_EQ(probes(skipped, "\\jre\\bin"), 0) << skipped;

    setConfigValueForTests(ids::kRequireJdk, "0");
    found = registryJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, jdkJavaOf(k1));
}

TEST_F(RegistrySearchTest, TheRegistryTypeCanBeSwitchedOff) {
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "17", runtime(L"h17", "17.0.9"));
    setConfigValueForTests(ids::kSkipRegistrySearch, "1");
    EXPECT_FALSE(registryJre().ok);
}

TEST_F(RegistrySearchTest, PreviousInstallationsNeedAnApplicationId) {
    std::string d = asciiPath(dir.file(L"app"));
    runtime(L"app\\jre", "17.0.9");
    installations(HKEY_CURRENT_USER, "", d);
    EXPECT_FALSE(previousInstallationJre().ok);
}

TEST_F(RegistrySearchTest, PreviousInstallationsAreTriedInTheirListedOrder) {
    std::string none = asciiPath(dir.file(L"nojre"));
    std::string old = asciiPath(dir.file(L"old"));
    std::string good = asciiPath(dir.file(L"good"));
    std::string later = asciiPath(dir.file(L"later"));
    CreateDirectoryW(dir.file(L"nojre").c_str(), nullptr);
    runtime(L"old\\jre", "1.7.0_80");
    runtime(L"good\\jre", "11.0.21");
    runtime(L"later\\jre", "17.0.9");
    setConfigValueForTests(ids::kApplicationId, "1234-5678");
    installations(HKEY_CURRENT_USER, "1234-5678", none + ";;" + old + ";" + good + ";" + later);
    bounds("1.8", "");

    Found found = previousInstallationJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(good + "\\jre"));
    EXPECT_EQ(found.version, "11.0.21");
    EXPECT_EQ(probes(old + "\\jre"), 1);
    EXPECT_EQ(probes(later + "\\jre"), 0);
}

TEST_F(RegistrySearchTest, PreviousInstallationsOfTheUserComeBeforeThoseOfTheMachine) {
    std::string user = asciiPath(dir.file(L"user"));
    std::string machine = asciiPath(dir.file(L"machine"));
    runtime(L"user\\jre", "11.0.21");
    runtime(L"machine\\jre", "17.0.9");
    setConfigValueForTests(ids::kApplicationId, "app");
    installations(HKEY_CURRENT_USER, "app", user);
    installations(HKEY_LOCAL_MACHINE, "app", machine);

    Found found = previousInstallationJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(user + "\\jre"));

    // Another application's record does not count; the machine's is used when the user's fails.
    test::clearRuntimeRegistryKeys();
    installations(HKEY_CURRENT_USER, "other", user);
    installations(HKEY_LOCAL_MACHINE, "app", machine);
    found = previousInstallationJre();
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.javaExe, javaOf(machine + "\\jre"));
}

// The whole search: a registry runtime that does not load is listed as non-working and the next one loads.
TEST_F(RegistrySearchTest, SearchMovesOnToTheNextRegistryRuntimeWhenOneDoesNotLoad) {
    std::string broken = runtime(L"broken", "21.0.1", false);
    std::string working = runtime(L"working", "17.0.9", true);
    plain(HKEY_LOCAL_MACHINE, kJavaSoftJdk, "21", broken);
    msi(HKEY_CURRENT_USER, kAdoptiumJdk, "17.0.9.9", working);
    setConfigValueForTests(ids::kSearchSequence, "Y");

    JvmLocation location;
    HMODULE library = detail::findJvm(location);
    ASSERT_NE(library, nullptr) << location.runtime.javaExe;
    EXPECT_EQ(location.runtime.javaExe, javaOf(working));
    EXPECT_EQ(location.kind, LocationKind::registry);
    EXPECT_EQ(nonWorkingJavas, std::vector<std::string>{javaOf(broken)});
    EXPECT_FALSE(previousInstallationFlag());
}

TEST_F(RegistrySearchTest, SearchFlagsARuntimeOfAPreviousInstallation) {
    std::string first = asciiPath(dir.file(L"first"));
    std::string second = asciiPath(dir.file(L"second"));
    runtime(L"first\\jre", "17.0.9", false);
    runtime(L"second\\jre", "11.0.21", true);
    setConfigValueForTests(ids::kApplicationId, "app");
    installations(HKEY_LOCAL_MACHINE, "app", first + ";" + second);
    setConfigValueForTests(ids::kSearchSequence, "I");

    JvmLocation location;
    ASSERT_NE(detail::findJvm(location), nullptr);
    EXPECT_EQ(location.runtime.javaExe, javaOf(second + "\\jre"));
    EXPECT_EQ(location.kind, LocationKind::registry);
    EXPECT_TRUE(previousInstallationFlag());
}

}  // namespace
}  // namespace vexlo
