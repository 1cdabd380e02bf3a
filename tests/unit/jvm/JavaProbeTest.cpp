#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "common/Handles.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "jvm/JavaProbe.h"
#include "TestText.h"

namespace vexlo {
namespace {

using test::lowerAscii;

using test::splitCrLfLines;

using test::TempDir;

unsigned long long fileTimeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << path;
    return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

void setFileTime(const std::string& path, unsigned long long time) {
    unique_file file(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid()) << path;
    FILETIME ft{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &ft));
}

// A cache entry as found in the registry; `present` is false when the key does not exist.
struct CacheEntry {
    bool present = false;
    std::string lastWriteTime;  // raw bytes
    std::string version;
    DWORD machine = 0;
    DWORD machineSize = 0;
};

CacheEntry readEntry(const std::string& canonicalPath) {
    CacheEntry entry;
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, detail::javaCacheKeyName(canonicalPath).c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS)
        return entry;
    entry.present = true;
    char buffer[8000];
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key.get(), "LastWriteTime", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) ==
        ERROR_SUCCESS)
        entry.lastWriteTime.assign(buffer, size);
    size = sizeof buffer;
    if (RegQueryValueExA(key.get(), "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) ==
        ERROR_SUCCESS)
        entry.version.assign(buffer, strnlen(buffer, size));  // the 8-bit query may add a terminator
    entry.machineSize = sizeof entry.machine;
    if (RegQueryValueExA(key.get(), "Machine", nullptr, nullptr, reinterpret_cast<BYTE*>(&entry.machine),
                         &entry.machineSize) != ERROR_SUCCESS)
        entry.machineSize = 0;
    return entry;
}

std::string timeBytes(unsigned long long time) { return std::string(reinterpret_cast<const char*>(&time), 8); }

// A Java home in a temporary directory whose bin\java.exe (and optionally javaw.exe) is the stand-in.
// Removes the cache entries of its executables when done.
class JavaHome {
public:
    explicit JavaHome(std::string banner, bool withJavaw = false) : dir_(L"jhome") {
        bin_ = test::wideToUtf8(dir_.subdir(L"bin"));
        copyStandIn("java.exe");
        if (withJavaw) copyStandIn("javaw.exe");
        setBanner(banner);
        removeEntries();
    }
    ~JavaHome() { removeEntries(); }

    // The path as the probe gives it back: canonical and lower case.
    std::string java() const { return lowerAscii(bin_ + "\\java.exe"); }
    std::string javaw() const { return lowerAscii(bin_ + "\\javaw.exe"); }
    std::string bin() const { return bin_; }

    void setBanner(const std::string& banner) { write("version.txt", banner); }
    void setExitCode(int code) { write("exitcode.txt", std::to_string(code)); }
    void hang(int ms) { write("hang.txt", std::to_string(ms)); }
    void hangWithOutputOpen(int ms) { write("hang-open.txt", std::to_string(ms)); }
    std::vector<std::string> runs() const {
        auto text = test::readFileBytes(test::utf8ToWide(bin_ + "\\runs.txt"));
        return text ? splitCrLfLines(*text) : std::vector<std::string>{};
    }
    void removeEntries() const {
        RegDeleteKeyA(HKEY_CURRENT_USER, detail::javaCacheKeyName(java()).c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, detail::javaCacheKeyName(javaw()).c_str());
    }

private:
    void copyStandIn(const char* name) {
        std::wstring target = test::utf8ToWide(bin_ + "\\" + name);
        ASSERT_TRUE(CopyFileW((test::binDir() + L"\\standin_java.exe").c_str(), target.c_str(), FALSE))
            << GetLastError();
    }
    void write(const char* name, const std::string& bytes) {
        ASSERT_TRUE(test::writeFileBytes(test::utf8ToWide(bin_ + "\\" + name), bytes));
    }

    TempDir dir_;
    std::string bin_;
};

class JavaProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetConfigForTests();
        nonWorkingJavas.clear();
    }
    void TearDown() override {
        resetConfigForTests();
        nonWorkingJavas.clear();
    }

    // Probes without bounds; returns the result and leaves the path and version in the members.
    bool probe(const std::string& given, bool allowBeta = false, const VersionComponents& min = {},
               const VersionComponents& max = {}, DWORD timeoutMs = kJavaVersionTimeoutMs) {
        Runtime candidate{given, "unset"};
        bool accepted = checkJavaExe(candidate, {min, max}, allowBeta, timeoutMs);
        path = candidate.javaExe;
        version = candidate.version;
        return accepted;
    }

    std::string path;
    std::string version;
};

TEST_F(JavaProbeTest, FirstProbeRunsAndCachesSecondReadsCacheTouchedFileRunsAgain) {
    JavaHome home("openjdk version \"17.0.2\" 2022-01-18\r\nOpenJDK Runtime Environment (build 17.0.2+8)\r\n");

    ASSERT_TRUE(probe(home.java()));
    EXPECT_EQ(version, "17.0.2");
    EXPECT_EQ(path, home.java());
    auto runs = home.runs();
    ASSERT_EQ(runs.size(), 1u);
    // Started as a quoted path with the single argument -version.
    EXPECT_EQ(runs[0].rfind("java.exe|\"", 0), 0u) << runs[0];
    EXPECT_NE(runs[0].find("\" -version|"), std::string::npos) << runs[0];

    CacheEntry entry = readEntry(home.java());
    ASSERT_TRUE(entry.present);
    EXPECT_EQ(entry.lastWriteTime, timeBytes(fileTimeOf(home.java())));
    EXPECT_EQ(entry.version, "17.0.2");
    EXPECT_EQ(entry.machine, kMachineX64);
    EXPECT_EQ(entry.machineSize, 4u);

    home.setBanner("openjdk version \"17.0.9\" 2023-10-17\r\n");
    ASSERT_TRUE(probe(home.java()));
    EXPECT_EQ(version, "17.0.2");
    EXPECT_EQ(home.runs().size(), 1u);

    // The runtime was updated in place: the stale entry is ignored and rewritten.
    unsigned long long newTime = fileTimeOf(home.java()) + 36000000000ULL;
    setFileTime(home.java(), newTime);
    ASSERT_TRUE(probe(home.java()));
    EXPECT_EQ(version, "17.0.9");
    EXPECT_EQ(home.runs().size(), 2u);
    entry = readEntry(home.java());
    EXPECT_EQ(entry.lastWriteTime, timeBytes(newTime));
    EXPECT_EQ(entry.version, "17.0.9");

    ASSERT_TRUE(probe(home.java()));
    EXPECT_EQ(home.runs().size(), 2u);
}

TEST_F(JavaProbeTest, MarkerAndTruncatedOldVersionsInTheCacheAreNotTrusted) {
    JavaHome home("java version \"1.8.0_202\"\r\n");
    unsigned long long time = fileTimeOf(home.java());
    std::size_t expectedRuns = 0;
    for (const char* untrusted : {"1.0.0", "1.7.", "1.6.", "1.5."}) {
        detail::writeCachedVersion(home.java(), time, untrusted, kMachineX64);
        ASSERT_TRUE(probe(home.java())) << untrusted;
        EXPECT_EQ(version, "1.8.0_202") << untrusted;
        EXPECT_EQ(home.runs().size(), ++expectedRuns) << untrusted;
        EXPECT_EQ(readEntry(home.java()).version, "1.8.0_202") << untrusted;
    }
    // Only the exact texts are untrusted.
    for (const char* trusted : {"1.7.0_80", "1.7", "1.6.0"}) {
        detail::writeCachedVersion(home.java(), time, trusted, kMachineX64);
        ASSERT_TRUE(probe(home.java())) << trusted;
        EXPECT_EQ(version, trusted);
        EXPECT_EQ(home.runs().size(), expectedRuns) << trusted;
    }
}

TEST_F(JavaProbeTest, CachedForeignMachineRejectsWithoutRunning) {
    JavaHome home("java version \"17\"\r\n");
    detail::writeCachedVersion(home.java(), fileTimeOf(home.java()), "17", 0x14C);
    EXPECT_FALSE(probe(home.java()));
    EXPECT_EQ(version, "17");
    EXPECT_TRUE(home.runs().empty());
    // A cached machine of 0 is no more acceptable than a foreign one.
    detail::writeCachedVersion(home.java(), fileTimeOf(home.java()), "17", 0);
    EXPECT_FALSE(probe(home.java()));
    EXPECT_TRUE(home.runs().empty());
}

TEST_F(JavaProbeTest, DamagedCacheEntriesAreRunAgain) {
    JavaHome home("java version \"11.0.2\"\r\n");
    const std::string key = detail::javaCacheKeyName(home.java());
    unsigned long long time = fileTimeOf(home.java());
    std::string text;
    DWORD machine = 7;

    // No entry: false, outputs untouched.
    text = "before";
    EXPECT_FALSE(detail::readCachedVersion(home.java(), time, text, machine));
    EXPECT_EQ(text, "before");

    detail::writeCachedVersion(home.java(), time, "11.0.2", kMachineX64);
    ASSERT_TRUE(detail::readCachedVersion(home.java(), time, text, machine));
    EXPECT_EQ(text, "11.0.2");
    EXPECT_EQ(machine, kMachineX64);
    EXPECT_FALSE(detail::readCachedVersion(home.java(), time + 1, text, machine));

    unique_hkey hkey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ALL_ACCESS, hkey.put()), ERROR_SUCCESS);
    // A time stamp of the wrong size.
    ASSERT_EQ(RegSetValueExA(hkey.get(), "LastWriteTime", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&time), 4),
              ERROR_SUCCESS);
    EXPECT_FALSE(detail::readCachedVersion(home.java(), time, text, machine));
    detail::writeCachedVersion(home.java(), time, "11.0.2", kMachineX64);

    // A machine type that is not 4 bytes.
    ASSERT_EQ(RegSetValueExA(hkey.get(), "Machine", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\x64\x86"), 2),
              ERROR_SUCCESS);
    EXPECT_FALSE(detail::readCachedVersion(home.java(), time, text, machine));
    detail::writeCachedVersion(home.java(), time, "11.0.2", kMachineX64);

    // A text stored with its terminator reads the same; an empty one reads as empty.
    ASSERT_EQ(RegSetValueExA(hkey.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("11.0.3"), 7),
              ERROR_SUCCESS);
    ASSERT_TRUE(detail::readCachedVersion(home.java(), time, text, machine));
    EXPECT_EQ(text, "11.0.3");
    ASSERT_EQ(RegSetValueExA(hkey.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0), ERROR_SUCCESS);
    ASSERT_TRUE(detail::readCachedVersion(home.java(), time, text, machine));
    EXPECT_EQ(text, "");

    // A text that fills the whole buffer has no room for its end: not trusted. One byte less is.
    std::string full(6000, '9');
    ASSERT_EQ(RegSetValueExA(hkey.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(full.data()), 6000),
              ERROR_SUCCESS);
    EXPECT_FALSE(detail::readCachedVersion(home.java(), time, text, machine));
    ASSERT_EQ(RegSetValueExA(hkey.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(full.data()), 5999),
              ERROR_SUCCESS);
    ASSERT_TRUE(detail::readCachedVersion(home.java(), time, text, machine));
    EXPECT_EQ(text, full.substr(0, 5999));
    // Longer than the buffer: not readable.
    std::string longer(6500, '9');
    ASSERT_EQ(RegSetValueExA(hkey.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(longer.data()), 6500),
              ERROR_SUCCESS);
    EXPECT_FALSE(detail::readCachedVersion(home.java(), time, text, machine));

    // The probe runs the runtime for such an entry and replaces it.
    ASSERT_TRUE(probe(home.java()));
    EXPECT_EQ(version, "11.0.2");
    EXPECT_EQ(home.runs().size(), 1u);
    EXPECT_EQ(readEntry(home.java()).version, "11.0.2");
}

TEST_F(JavaProbeTest, FailingRunIsMarkedAndRunAgainNextTime) {
    JavaHome home("java version \"1.8.0_202\"\r\n");
    home.setExitCode(3);
    EXPECT_FALSE(probe(home.java()));
    CacheEntry entry = readEntry(home.java());
    ASSERT_TRUE(entry.present);
    EXPECT_EQ(entry.version, "1.0.0");
    EXPECT_EQ(entry.machine, kMachineX64);
    EXPECT_EQ(entry.lastWriteTime, timeBytes(fileTimeOf(home.java())));

    home.setExitCode(0);
    ASSERT_TRUE(probe(home.java()));
    EXPECT_EQ(version, "1.8.0_202");
    EXPECT_EQ(home.runs().size(), 2u);
    EXPECT_EQ(readEntry(home.java()).version, "1.8.0_202");
}

TEST_F(JavaProbeTest, RunWithoutBannerFailsAndLeavesNoEntry) {
    JavaHome home("");
    EXPECT_FALSE(probe(home.java()));
    EXPECT_EQ(home.runs().size(), 1u);
    EXPECT_FALSE(readEntry(home.java()).present);
}

TEST_F(JavaProbeTest, VersionIsTakenFromTheLastBannerLine) {
    JavaHome home("");
    const struct {
        const char* banner;
        bool ok;
        const char* version;
    } cases[] = {
        {"java version \"1.8.0_202\"\r\nJava(TM) SE Runtime Environment\r\n", true, "1.8.0_202"},
        {"Picked up something\nopenjdk version \"11.0.2\" 2019-01-15\nother version \"12\"", true, "12"},
        // Without a closing quote the line loses its last two characters (here a CR and a digit).
        {"java version \"1.8.0_202\r\n", true, "1.8.0_20"},
        {"java version \"a", true, ""},
        {"version \"17\"\r\n", false, ""},
        {"java  version 17\r\n", false, ""},
    };
    for (const auto& c : cases) {
        home.setBanner(c.banner);
        std::string got = "unset";
        EXPECT_EQ(detail::runJavaVersion(home.java(), 1, got), c.ok) << c.banner;
        if (c.ok) {
            EXPECT_EQ(got, c.version) << c.banner;
        }
    }
    // A successful run writes nothing itself; the probe does.
    EXPECT_FALSE(readEntry(home.java()).present);
}

TEST_F(JavaProbeTest, JavaOptionVariablesAreHiddenFromTheChildAndPutBack) {
    JavaHome home("java version \"17\"\r\n");
    SetEnvironmentVariableA("_JAVA_OPTIONS", "-Dprobe=1");
    SetEnvironmentVariableA("JAVA_TOOL_OPTIONS", nullptr);
    SetEnvironmentVariableA("JDK_JAVA_OPTIONS", "--enable-preview");

    std::string got;
    ASSERT_TRUE(detail::runJavaVersion(home.java(), 1, got));
    auto runs = home.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_NE(runs[0].find("|_JAVA_OPTIONS=<unset>|JAVA_TOOL_OPTIONS=<unset>|JDK_JAVA_OPTIONS=<unset>"),
              std::string::npos)
        << runs[0];

    auto value = [](const char* name) -> std::string {
        char buffer[256];
        DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
        return n == 0 ? "<unset>" : std::string(buffer, n);
    };
    EXPECT_EQ(value("_JAVA_OPTIONS"), "-Dprobe=1");
    EXPECT_EQ(value("JAVA_TOOL_OPTIONS"), "<unset>");
    EXPECT_EQ(value("JDK_JAVA_OPTIONS"), "--enable-preview");

    // Also put back when the child cannot be started.
    EXPECT_FALSE(detail::runJavaVersion(home.bin() + "\\missing.exe", 1, got));
    EXPECT_EQ(value("_JAVA_OPTIONS"), "-Dprobe=1");
    EXPECT_EQ(value("JDK_JAVA_OPTIONS"), "--enable-preview");

    SetEnvironmentVariableA("_JAVA_OPTIONS", nullptr);
    SetEnvironmentVariableA("JDK_JAVA_OPTIONS", nullptr);
}

TEST(TakeEnvironmentVariable, RemovesAndReturnsTheValue) {
    SetEnvironmentVariableA("VEXLO_TEST_TAKE", "some value");
    auto taken = detail::takeEnvironmentVariable("VEXLO_TEST_TAKE");
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(*taken, "some value");
    EXPECT_EQ(GetEnvironmentVariableA("VEXLO_TEST_TAKE", nullptr, 0), 0u);
    EXPECT_FALSE(detail::takeEnvironmentVariable("VEXLO_TEST_TAKE").has_value());
}

TEST_F(JavaProbeTest, MixedCaseRelativeStepsAreCachedAndReturnedCanonical) {
    JavaHome home("java version \"17.0.2\"\r\n");
    // ...\bin\..\BIN\Java.EXE in mixed case.
    std::string bin = home.bin();
    std::string given = bin + "\\..\\BIN\\Java.EXE";
    for (char& c : given)
        if (c >= 'a' && c <= 'z' && (&c - given.data()) % 2 == 0) c = static_cast<char>(c - 'a' + 'A');
    ASSERT_TRUE(probe(given));
    EXPECT_EQ(path, home.java());
    CacheEntry entry = readEntry(home.java());
    ASSERT_TRUE(entry.present);
    EXPECT_EQ(entry.version, "17.0.2");
    // The key name is the lower-case path with forward slashes.
    std::string keyName = detail::javaCacheKeyName(home.java());
    EXPECT_EQ(keyName.find('\\', std::strlen(kJavaCacheKey)), std::string::npos);
    EXPECT_NE(keyName.find("/bin/java.exe"), std::string::npos);
}

TEST_F(JavaProbeTest, MissingFileIsRejectedWithoutEntry) {
    JavaHome home("java version \"17\"\r\n");
    std::string missing = home.bin() + "\\nojava.exe";
    EXPECT_FALSE(probe(missing));
    EXPECT_EQ(path, lowerAscii(missing));
    EXPECT_FALSE(readEntry(lowerAscii(missing)).present);
    EXPECT_TRUE(home.runs().empty());
}

TEST_F(JavaProbeTest, BoundsAndBetaApplyToRunAndCachedVersions) {
    JavaHome home("openjdk version \"17-ea\"\r\n");
    EXPECT_FALSE(probe(home.java()));
    EXPECT_EQ(home.runs().size(), 1u);
    // The version was cached although the beta test failed.
    EXPECT_EQ(readEntry(home.java()).version, "17-ea");
    EXPECT_TRUE(probe(home.java(), true));
    EXPECT_FALSE(probe(home.java(), true, {17, 0, 1}));
    EXPECT_TRUE(probe(home.java(), true, {11}, {17}));
    EXPECT_FALSE(probe(home.java(), true, {}, {11}));
    EXPECT_EQ(home.runs().size(), 1u);
}

TEST_F(JavaProbeTest, GuiApplicationsGetJavawWhenItExists) {
    setConfigValueForTests(ids::kExecutableType, "1");
    {
        JavaHome home("java version \"17\"\r\n");
        EXPECT_FALSE(probe(home.java()));
        EXPECT_EQ(path, home.javaw());
    }
    {
        JavaHome home("java version \"17\"\r\n", true);
        ASSERT_TRUE(probe(home.java()));
        EXPECT_EQ(path, home.javaw());
        // The version comes from java.exe; javaw.exe is never run.
        auto runs = home.runs();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].rfind("java.exe|", 0), 0u);
    }
    setConfigValueForTests(ids::kExecutableType, "5");
    JavaHome home("java version \"17\"\r\n", true);
    ASSERT_TRUE(probe(home.java()));
    EXPECT_EQ(path, home.java());
}

TEST_F(JavaProbeTest, NonWorkingJavasAreRejectedForTheRestOfTheProcess) {
    JavaHome home("java version \"17\"\r\n");
    JavaHome other("java version \"17\"\r\n");
    ASSERT_TRUE(probe(home.java()));
    EXPECT_TRUE(addNonWorkingJava(home.java()));
    EXPECT_FALSE(probe(home.java()));
    EXPECT_FALSE(probe(home.java()));
    EXPECT_TRUE(probe(other.java()));
    // The listed path is compared as the probe leaves it: the mixed-case form is rejected too.
    std::string upper = home.bin() + "\\JAVA.EXE";
    EXPECT_FALSE(probe(upper));
}

TEST_F(JavaProbeTest, NonWorkingListAnswersFalseFromTheFiftiethAddition) {
    for (int i = 1; i < 50; ++i) EXPECT_TRUE(addNonWorkingJava("c:\\j" + std::to_string(i) + "\\bin\\java.exe")) << i;
    EXPECT_FALSE(addNonWorkingJava("c:\\j50\\bin\\java.exe"));
    EXPECT_FALSE(addNonWorkingJava("c:\\j51\\bin\\java.exe"));
    EXPECT_EQ(nonWorkingJavas.size(), 51u);
}

TEST(ReadPeMachine, ReadsTheMachineFieldOfWellFormedHeadersOnly) {
    TempDir dir(L"pe");
    auto write = [&](const char* name, const std::string& bytes) {
        std::wstring p = dir.file(test::utf8ToWide(name));
        EXPECT_TRUE(test::writeFileBytes(p, bytes));
        return test::wideToUtf8(p);
    };
    auto header = [](std::uint32_t offset, const std::string& tail) {
        std::string bytes = "MZ" + std::string(58, '\0');
        bytes += std::string(reinterpret_cast<const char*>(&offset), 4);
        bytes.resize(offset, '\0');
        return bytes + tail;
    };
    EXPECT_EQ(detail::readPeMachine(test::wideToUtf8(test::binDir() + L"\\standin_java.exe")), kMachineX64);
    EXPECT_EQ(detail::readPeMachine(write("x86.exe", header(0x80, std::string("PE\0\0\x4c\x01", 6)))), 0x14Cu);
    EXPECT_EQ(detail::readPeMachine(write("arm.exe", header(0x40, std::string("PE\0\0\x64\xAA", 6)))), 0xAA64u);
    EXPECT_EQ(detail::readPeMachine(write("zm.exe", "ZM" + header(0x80, std::string("PE\0\0\x64\x86", 6)).substr(2))),
              0u);
    EXPECT_EQ(detail::readPeMachine(write("short.exe", "MZ")), 0u);
    EXPECT_EQ(detail::readPeMachine(write("nooffset.exe", "MZ" + std::string(60, '\0'))), 0u);
    EXPECT_EQ(detail::readPeMachine(
                  write("far.exe", "MZ" + std::string(58, '\0') + std::string("\xff\xff\x00\x00", 4))),
              0u);
    EXPECT_EQ(detail::readPeMachine(write("nosig.exe", header(0x80, std::string("NE\0\0\x64\x86", 6)))), 0u);
    EXPECT_EQ(detail::readPeMachine(write("nomachine.exe", header(0x80, std::string("PE\0\0\x64", 5)))), 0u);
    EXPECT_EQ(detail::readPeMachine(test::wideToUtf8(dir.file(L"absent.exe"))), 0u);
}

// The stand-in keeps running with its standard error open, and the probe waits its full time (one second
// here, a minute in the launcher) without waiting for the output's end.
TEST_F(JavaProbeTest, SlowRuntimeIsEndedAfterTheTimeLimitAndNotCached) {
    JavaHome home("java version \"17\"\r\n");
    home.hangWithOutputOpen(100000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(probe(home.java(), false, {}, {}, 1000));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 30000);
    EXPECT_EQ(home.runs().size(), 1u);
    EXPECT_FALSE(readEntry(home.java()).present);
}

}  // namespace
}  // namespace vexlo
