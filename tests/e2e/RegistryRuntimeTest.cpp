// Runtimes found through the registry (types Y and I of the search sequence), seen through a real launch:
// the log, and the record of the stand-in jvm.dll that was loaded.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "RuntimeRegistry.h"
#include "TestSupport.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

constexpr char kJavaSoftJdk[] = "SOFTWARE\\JavaSoft\\JDK";
constexpr char kAdoptiumJdk[] = "SOFTWARE\\Eclipse Adoptium\\JDK";
constexpr char kInstallations[] = "SOFTWARE\\tarnwick\\quandrel\\installations";
constexpr char kLocated[] = "SOFTWARE\\tarnwick\\vexlo\\locatedjvms\\";

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::wstring wide(const std::string& text) { return utf8ToWide(text); }

struct Launch {
    RunResult result;
    LogContent log;
    std::vector<std::string> loaded;  // the jvm.dll paths the stand-in recorded as loaded, lower case
};

class RegistryRuntimeE2E : public ::testing::Test {
protected:
    RuntimeRegistryScope registry_;
    TempDir dir_{L"regrun"};
    TempDir temp_{L"regtemp"};

    std::string home(const std::wstring& name) const { return asciiPath(dir_.file(name)); }
    std::string runtime(const std::wstring& name, const std::string& version, bool jvm) {
        makeStandinRuntime(dir_.file(name), version, jvm);
        return home(name);
    }
    static std::string javaOf(const std::string& home) { return lower(home) + "\\bin\\java.exe"; }

    Launch launch(pack::Block block) {
        block.set(ids::kServiceName, "vexlo-registry-test");
        Launch launch;
        std::wstring exe = makeLauncher(dir_.path(), L"app.exe", block);
        if (exe.empty()) return launch;
        RunOptions options;
        options.args = {L"-run"};
        options.env = isolatedEnvironment(temp_.path(), true);
        std::wstring record = dir_.file(L"jvm-record.txt");
        DeleteFileW(record.c_str());
        options.env[L"VEXLO_STANDIN_JVM_RECORD"] = record;
        launch.result = runProcess(exe, options);
        std::wstring logPath = newestLog(temp_.path());
        if (logPath.empty()) {
            ADD_FAILURE() << "no log in " << wideToUtf8(temp_.path());
        } else {
            launch.log = readLog(logPath);
            DeleteFileW(logPath.c_str());
        }
        std::string recorded = readFileBytes(record).value_or("");
        for (std::size_t start = 0; start < recorded.size();) {
            std::size_t end = recorded.find("\r\n", start);
            if (end == std::string::npos) end = recorded.size();
            std::string line = recorded.substr(start, end - start);
            if (line.rfind("loaded|", 0) == 0) launch.loaded.push_back(lower(line.substr(7, line.find('|', 7) - 7)));
            start = end + 2;
        }
        return launch;
    }

    // The log messages that start with the prefix, in order.
    static std::vector<std::wstring> messagesStartingWith(const LogContent& log, std::wstring_view prefix) {
        std::vector<std::wstring> found;
        for (const std::wstring& m : log.messages)
            if (m.compare(0, prefix.size(), prefix) == 0) found.push_back(m);
        return found;
    }
    static std::string jvmOf(const std::string& home) { return lower(home) + "\\bin\\server\\jvm.dll"; }
};

TEST_F(RegistryRuntimeE2E, EqualVersionsUnderTwoVendorKeysPickTheEarlierKey) {
    std::string oracle = runtime(L"oracle", "17.0.9", true);
    std::string temurin = runtime(L"temurin", "17.0.9", true);
    setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJavaSoftJdk) + "\\17", "JavaHome", oracle);
    setRegistryString(HKEY_LOCAL_MACHINE, std::string(kAdoptiumJdk) + "\\17.0.9.9\\hotspot\\MSI", "Path", temurin);

    Launch run = launch(pack::Block().set(ids::kSearchSequence, "Y"));
    EXPECT_EQ(messagesStartingWith(run.log, L"found registry jre "),
              (std::vector<std::wstring>{wide("found registry jre " + javaOf(oracle) + " 17.0.9"),
                                         wide("found registry jre " + javaOf(temurin) + " 17.0.9")}));
    EXPECT_TRUE(logHas(run.log, wide("found sun " + javaOf(oracle) + " 17.0.9")));
    EXPECT_TRUE(logHas(run.log, L"Loading of JVM-DLL successful"));
    EXPECT_EQ(run.loaded, std::vector<std::string>{jvmOf(oracle)});
}

TEST_F(RegistryRuntimeE2E, ALocatedRuntimeWinsATieWithAVendorRuntime) {
    std::string vendor = runtime(L"vendor", "21.0.1", true);
    std::string other = runtime(L"other", "21.0.1", true);
    setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJavaSoftJdk) + "\\21", "JavaHome", vendor);
    std::string name = javaOf(other);
    for (char& c : name)
        if (c == '\\') c = '/';
    createRegistryKey(HKEY_CURRENT_USER, kLocated + name);

    Launch run = launch(pack::Block().set(ids::kSearchSequence, "Y"));
    EXPECT_TRUE(logHas(run.log, wide("found sun " + javaOf(vendor) + " 21.0.1")));
    EXPECT_TRUE(logHas(run.log, wide("found located " + javaOf(other) + " 21.0.1")));
    EXPECT_EQ(run.loaded, std::vector<std::string>{jvmOf(other)});
}

TEST_F(RegistryRuntimeE2E, VersionKeysAreFilteredAndTriedNewestFirst) {
    std::string h8 = runtime(L"h8", "1.8.0_392", true);
    std::string h11 = runtime(L"h11", "11.0.21", false);  // its library does not load
    std::string h17 = runtime(L"h17", "17.0.9", true);
    for (auto [key, path] : {std::pair{"1.8", h8}, std::pair{"17", h17}, std::pair{"11", h11}}) {
        setRegistryString(HKEY_LOCAL_MACHINE, std::string(kJavaSoftJdk) + "\\" + key, "JavaHome", path);
    }
    setRegistryString(HKEY_CURRENT_USER, "SOFTWARE\\Azul Systems\\Zulu\\zulu-8", "InstallationPath", h8);

    Launch run = launch(pack::Block().set(ids::kMaxJavaVersion, "11").set(ids::kSearchSequence, "Y"));
    EXPECT_TRUE(logHas(run.log, L"test key name 17 17"));
    EXPECT_TRUE(logHas(run.log, L"test key name 8 zulu-8"));
    // One scan per search: 11 is chosen first, fails to load, and the next search gives 1.8 (JavaSoft before
    // Zulu).
    const std::wstring found = L"found in SOFTWARE\\JavaSoft\\JDK: ";
    EXPECT_EQ(messagesStartingWith(run.log, found),
              (std::vector<std::wstring>{found + L"11", found + L"1.8", found + L"11", found + L"1.8"}));
    EXPECT_EQ(messagesStartingWith(run.log, L"found sun "),
              (std::vector<std::wstring>{wide("found sun " + javaOf(h11) + " 11.0.21"),
                                         wide("found sun " + javaOf(h8) + " 1.8.0_392")}));
    EXPECT_EQ(run.loaded, std::vector<std::string>{jvmOf(h8)});
    EXPECT_EQ(readFileBytes(dir_.file(L"h17\\bin\\runs.txt")), std::nullopt);
}

TEST_F(RegistryRuntimeE2E, WithoutAnApplicationIdEarlierInstallationsAreOnlyAnnounced) {
    Launch run = launch(pack::Block().set(ids::kSearchSequence, "I"));
    std::vector<std::wstring> checks = messagesStartingWith(run.log, L"checking app id ");
    ASSERT_EQ(checks.size(), 4u);
    EXPECT_EQ(checks[0].rfind(L"checking app id  (0, ", 0), 0u) << wideToUtf8(checks[0]);
    EXPECT_EQ(checks[1].rfind(L"checking app id  (256, ", 0), 0u) << wideToUtf8(checks[1]);
    EXPECT_EQ(checks[2].rfind(L"checking app id  (0, ", 0), 0u) << wideToUtf8(checks[2]);
    EXPECT_EQ(checks[3].rfind(L"checking app id  (256, ", 0), 0u) << wideToUtf8(checks[3]);
    // The same root key for the two user tries, another for the machine's.
    auto rootOf = [](const std::wstring& m) { return m.substr(m.find(L", ")); };
    EXPECT_EQ(rootOf(checks[0]), rootOf(checks[1]));
    EXPECT_EQ(rootOf(checks[2]), rootOf(checks[3]));
    EXPECT_NE(rootOf(checks[0]), rootOf(checks[2]));
    EXPECT_TRUE(messagesStartingWith(run.log, L"could not ").empty());
    EXPECT_TRUE(messagesStartingWith(run.log, L"found ").empty());
    EXPECT_EQ(run.result.exitCode, 1u);
}

TEST_F(RegistryRuntimeE2E, AnEarlierInstallationWithoutAnAcceptableRuntimeIsPassedOver) {
    std::string first = home(L"first");
    std::string second = home(L"second");
    runtime(L"first\\jre", "1.7.0_80", true);
    runtime(L"second\\jre", "11.0.21", true);
    std::string value = first + ";" + second;
    setRegistryString(HKEY_CURRENT_USER, kInstallations, "4711-app", value);

    Launch run = launch(pack::Block()
                            .set(ids::kMinJavaVersion, "1.8")
                            .set(ids::kSearchSequence, "I")
                            .set(ids::kApplicationId, "4711-app"));
    std::vector<std::wstring> checks = messagesStartingWith(run.log, L"checking app id ");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].rfind(L"checking app id 4711-app (0, ", 0), 0u) << wideToUtf8(checks[0]);
    EXPECT_TRUE(logHas(run.log, wide("found installations: " + value)));
    EXPECT_TRUE(logHas(run.log, wide("java version did not match in " + first + "\\jre")));
    EXPECT_TRUE(logHas(run.log, wide("found JRE from previous installation (user) " + javaOf(second + "\\jre"))));
    EXPECT_EQ(run.loaded, std::vector<std::string>{jvmOf(second + "\\jre")});
}

TEST_F(RegistryRuntimeE2E, AMachineRecordIsReadWhenTheUserHasNone) {
    std::string only = home(L"only");
    runtime(L"only\\jre", "17.0.9", true);
    setRegistryString(HKEY_LOCAL_MACHINE, kInstallations, "app", only, KEY_WOW64_64KEY);

    Launch run = launch(pack::Block().set(ids::kSearchSequence, "I").set(ids::kApplicationId, "app"));
    // Both user tries fail to open the node, then the machine's default view has it.
    EXPECT_EQ(messagesStartingWith(run.log, L"checking app id ").size(), 3u);
    EXPECT_EQ(messagesStartingWith(run.log, L"could not open installation node ").size(), 2u);
    EXPECT_TRUE(logHas(run.log, wide("found JRE from previous installation (machine) " + javaOf(only + "\\jre"))));
    EXPECT_EQ(run.loaded, std::vector<std::string>{jvmOf(only + "\\jre")});
}

}  // namespace
}  // namespace vexlo::test
