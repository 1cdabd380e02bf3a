#include <gtest/gtest.h>

#include <map>

#include "BlockReader.h"
#include "PackConfig.h"
#include "TestSupport.h"
#include "common/CommandLine.h"
#include "config/ConfigIds.h"

using namespace vexlo;
using pack::Block;
using namespace ids;

namespace {

using Entries = std::vector<std::pair<int32_t, std::string>>;

std::map<std::string, std::string> gFiles;  // what the in-memory loader serves, by generic path

pack::PackOptions memoryOptions() {
    pack::PackOptions o;
    o.displayName = "t.toml";
    o.baseDir = "base";
    o.runtimeJar = "tools/vexlo-runtime.jar";
    o.load = [](const std::filesystem::path& p, std::string* bytes) {
        auto it = gFiles.find(p.generic_string());
        if (it == gFiles.end()) return false;
        *bytes = it->second;
        return true;
    };
    return o;
}

pack::PackResult build(const std::string& text, pack::PackOptions o = memoryOptions()) {
    return pack::configToBlock(text, o);
}

// The row's keys with a main class added, in [application] when the row opens that table.
std::string withMainClass(std::string row) {
    size_t at = row.find("[application]\n");
    if (at == std::string::npos) return "[application]\nmain_class = 'M'\n" + row + "\n";
    return row.insert(at + 14, "main_class = 'M'\n") + "\n";
}

std::string errorsOf(const pack::PackResult& r) {
    std::string all;
    for (const auto& d : r.errors) all += d.text() + "\n";
    return all;
}

// Builds the text, prints the block back and builds that again: both blocks must be the same bytes.
void expectRoundTrip(const std::string& text) {
    pack::PackResult first = build(text);
    ASSERT_TRUE(first.errors.empty()) << errorsOf(first);
    pack::Inspection shown = pack::blockToConfig(first.block, "out");
    EXPECT_TRUE(shown.notes.empty()) << shown.notes.front();
    for (const auto& [path, data] : shown.files) gFiles["base/" + path.generic_string()] = data;
    pack::PackResult second = build(shown.toml);
    ASSERT_TRUE(second.errors.empty()) << errorsOf(second) << shown.toml;
    EXPECT_EQ(pack::serializeBlock(first.block), pack::serializeBlock(second.block)) << shown.toml;
}

}  // namespace

// Each section's keys and the entries they write (after the main class), and the same keys printed back.
TEST(PackConfig, EverySectionMapsToItsIdsAndBack) {
    gFiles["base/conf/a.properties"] = "a=1";
    struct Row {
        const char* toml;
        Entries entries;
        std::vector<std::pair<int32_t, std::u16string>> messages;
    } rows[] = {
        {"[service]\nname = \"svc\"\nstart = \"auto\"\ndependencies = [\"Tcpip\", \"Dnscache\"]\ndescription = \"D\u00e9\"",
         {{kServiceName, "svc"}, {kExecutableType, "4"}, {kServiceDependencies, "Tcpip,Dnscache"}},
         {{kServiceDescription, u"D\u00e9"}}},
        {"[service]\nstart = 'delayed'\ndisplay_name = 'D'\naccount = 'virtual'\npassword_env = 'PW'\nstop_timeout = '500ms'\n"
         "[service.recovery]\non_failure = ['restart 10s', 'restart 90s', 'none']\nreset_after = '1d'\n"
         "[service.environment]\nAPP_HOME = '${VEXLO_EXEDIR}'\n'ProgramFiles(x86)' = ''",
         {{kExecutableType, "4"},
          {kServiceDelayedStart, "1"},
          {kServiceDisplayName, "D"},
          {kServiceAccount, "virtual"},
          {kServicePasswordEnv, "PW"},
          {kServiceStopTimeout, "500"},
          {kServiceRecoveryActions, "restart:10000,restart:90000,none"},
          {kServiceRecoveryReset, "86400000"},
          {kServiceEnvironment, "APP_HOME=${VEXLO_EXEDIR}\nProgramFiles(x86)="}},
         {}},
        {"[service.recovery]\non_failure = []", {{kServiceRecoveryActions, "off"}}, {}},
        {"[application]\nmodule_mode = true\nclass_path = [{ jar = 'lib\\a.jar', mandatory = true }, { dir = 'c' }, "
         "{ scan = 'lib' }, { env = 'CP' }]\nmodule_path = [{ dir = 'mods' }]\narguments = ['a b', 'x\"y', '']\n"
         "vm_options = ['-Xmx1g']\nvm_options_file = true\nj_options = true\nworking_directory = 'w'\ndirectory = 'app'\n"
         "version_options = [{ versions = '11-17', options = ['-Da=1'] }, { pattern = '1.8*', options = ['-Db'] }]",
         {{kModuleMode, "1"},
          {kClassPath, "A1lib\\a.jar;D0c;S0lib;E0CP"},
          {kModulePath, "D0mods"},
          {kApplicationArguments, "\"a b\" \"x\"\"y\" \"\""},
          {kVmOptions, "-Xmx1g"},
          {kReadDefaultVmOptionsFile, "1"},
          {kJOptionsAreVmOptions, "1"},
          {kVersionRuleCount, "2"},
          {kVersionRuleKeyBase, "11-17"},
          {kVersionRuleOptionsBase, "-Da=1"},
          {kVersionRuleKeyBase + 2, "*1.8*"},
          {kVersionRuleOptionsBase + 2, "-Db"},
          {kWorkingDirectory, "w"},
          {kApplicationDirectory, "app"}},
         {}},
        {"[runtime]\nmin_version = '1.8.0_202'\nmax_version = '17'\nallow_prerelease = true\njdk_required = true\n"
         "search = ['dir:jre', 'dir-fallback:C:\\j', 'env:JAVA_HOME', 'registry', 'installations', 'path']\n"
         "accept_failing_directories = true\nskip_registry = true\njvm_subdirectory = 'server'\napplication_id = 'id'\n"
         "ignore_java_options_env = true",
         {{kMinJavaVersion, "1.8.0_202"},
          {kMaxJavaVersion, "17"},
          {kAllowBetaJava, "1"},
          {kRequireJdk, "1"},
          {kSearchSequence, "Ajre;BC:\\j;EJAVA_HOME;Y;I;S"},
          {kAcceptFailedDirectoryEntry, "1"},
          {kSkipRegistrySearch, "1"},
          {kJvmSubdirectory, "server"},
          {kApplicationId, "id"},
          {kIgnoreJavaOptionsEnv, "1"}},
         {}},
        {"[output]\nstdout = 'o.log'\nstderr = 'e.log'\nappend = true",
         {{kUseRuntimeArgument2, "1"},
          {kRuntimeArgument2Path, "o.log"},
          {kUseRuntimeArgument3, "1"},
          {kRuntimeArgument3Path, "e.log"},
          {kRuntimeArgument4, "1"}},
         {}},
        {"[output]\nrotate = 'daily'\nmax_size = '512kb'\nkeep = 0",
         {{kOutputRotate, "daily"}, {kOutputMaxSize, "524288"}, {kOutputKeep, "0"}},
         {}},
        {"[output]\nrotate = 'none'\nmax_size = '1000'\nkeep = 12",
         {{kOutputRotate, "none"}, {kOutputMaxSize, "1000"}, {kOutputKeep, "12"}},
         {}},
        {"[native]\nlibrary_directories = ['lib', 'bin']\nadd_dll_directories = true\nreduce_path = true",
         {{kNativeLibraryDirectories, "lib;bin"}, {kAddDllDirectories, "1"}, {kReducePath, "1"}},
         {}},
        {"[instance]\nsingle = true\nbring_to_front = true\nmachine_wide = true\nsession_wide = true",
         {{kSingleInstance, "1"},
          {kBringInstanceToFront, "1"},
          {kInstanceGlobalPrefix, "1"},
          {kInstanceSessionPrefix, "1"}},
         {}},
        {"[messages]\nno_jvm_found = 'no Java'\nerror_title = 'T'\n4242 = 'n'",
         {},
         {{kMsgErrorTitle, u"T"}, {kMsgNoJvmFound, u"no Java"}, {4242, u"n"}}},
        {"[[files]]\nsource = 'conf/a.properties'\nname = 'conf\\a.properties'",
         {{kIncludedFileCount, "2"}, {kIncludedFilePaths, "vexlo-runtime.jar;conf\\a.properties"}},
         {}},
        {"[raw]\n10009 = '1'\n2001 = 'e'\n108 = 1",
         {{kSplashConfig, "1"}, {kLauncherKind, "e"}, {kPreferLongTempPath, "1"}},
         {}},
    };
    gFiles["tools/vexlo-runtime.jar"] = "JAR";
    std::map<int32_t, std::string> baseline;
    for (const auto& [id, value] : build(withMainClass("")).block.config) baseline[id] = value;
    for (const auto& row : rows) {
        std::string text = withMainClass(row.toml);
        pack::PackResult r = build(text);
        ASSERT_TRUE(r.errors.empty()) << row.toml << "\n" << errorsOf(r);
        std::map<int32_t, std::string> expected = baseline, got;
        for (const auto& [id, value] : row.entries) expected[id] = value;
        for (const auto& [id, value] : r.block.config)
            EXPECT_TRUE(got.emplace(id, value).second) << "id " << id << " twice";
        EXPECT_EQ(got, expected) << row.toml;
        std::vector<std::pair<int32_t, std::u16string>> messages;
        for (const auto& m : r.block.messages) messages.emplace_back(m.id, m.text);
        EXPECT_EQ(messages, row.messages) << row.toml;
        expectRoundTrip(text);
    }
}

TEST(PackConfig, NameAndMainClassGiveAServiceLauncherWithTheDefaults) {
    gFiles["tools/vexlo-runtime.jar"] = "JAR";
    pack::PackResult r = build("[service]\nname = 'hello'\n[application]\nmain_class = 'com.example.Main'\n");
    ASSERT_TRUE(r.errors.empty()) << errorsOf(r);
    Entries expected{{kServiceName, "hello"},
                     {kMainClass, "com.example.Main"},
                     {kSearchSequence, "Ajre;EJAVA_HOME;Y;S"},
                     {kUseRuntimeArgument2, "1"},
                     {kRuntimeArgument2Path, "logs\\stdout.log"},
                     {kUseRuntimeArgument3, "1"},
                     {kRuntimeArgument3Path, "logs\\stderr.log"},
                     {kRuntimeArgument4, "1"},
                     {kIncludedFileCount, "1"},
                     {kIncludedFilePaths, "vexlo-runtime.jar"}};
    EXPECT_EQ(r.block.config, expected);
    EXPECT_EQ(r.block.includedFiles, std::vector<std::string>{"JAR"});
    EXPECT_EQ(r.serviceName, "hello");
}

TEST(PackConfig, ErrorsNameTheLineAndColumnAndWhatWasExpected) {
    struct Row {
        const char* toml;
        int line, column;
        const char* says;
    } rows[] = {
        {"[service]\nname = 'x'\n", 1, 1, "application.main_class: expected the main class"},
        {"[application]\nmain_class = 'M'\nmain_klass = 'N'\n", 3, 1, "unknown key \"main_klass\" in [application]"},
        {"[application]\nmain_class = 42\n", 2, 14, "expected a string, found an integer"},
        {"[application]\nmain_class = 'M'\n[output]\nappend = 'yes'\n", 4, 10, "expected true or false"},
        {"[application]\nmain_class = 'M'\n[[files]]\nsource = 'nothere.txt'\n", 4, 10, "does not exist"},
        {"[application]\nmain_class = 'M'\n[runtime]\nmin_version = 'eleven'\n", 4, 15, "expected a Java version"},
        {"[application]\nmain_class = 'M'\n[runtime]\nsearch = ['dir:jre', 'cloud:x']\n", 4, 22,
         "unknown kind \"cloud\""},
        {"[application]\nmain_class = 'M'\nclass_path = [{ zip = 'a' }]\n", 3, 17, "unknown kind \"zip\""},
        {"[application]\nmain_class = 'M'\n[servise]\n", 3, 2, "unknown section \"servise\""},
        {"[application]\nmain_class = 'M'\n[service]\nstart = 'boot'\n", 4, 9, "expected \"demand\" or \"auto\""},
        {"[application]\nmain_class = 'M'\n[raw]\nabc = '1'\n", 4, 1, "expected a configuration id"},
        {"[application]\nmain_class = 'M'\n[service.recovery]\non_failure = ['none', 'reboot 1m']\n", 4, 23,
         "reboot is not"},
        {"[application]\nmain_class = 'M'\n[service.recovery]\non_failure = ['restart soon']\n", 4, 15,
         "expected a duration"},
        {"[application]\nmain_class = 'M'\n[service]\nstop_timeout = '10 s'\n", 4, 16, "expected a duration"},
        {"[application]\nmain_class = 'M'\n[service.recovery]\nreset_after = '30d'\n", 4, 15, "at most 24d"},
        {"[application]\nmain_class = 'M'\n[output]\nmax_size = '10 MB'\n", 4, 12, "expected a size such as"},
        {"[application]\nmain_class = 'M'\n[output]\nmax_size = '2048GB'\n", 4, 12, "(1 byte to 1024GB)"},
        {"[application]\nmain_class = 'M'\n[output]\nkeep = -1\n", 4, 8, "from 0 to 100000, found -1"},
        {"[application]\nmain_class = 'M'\n[output]\nrotate = 'hourly'\n", 4, 10,
         "expected \"size\" or \"daily\" or \"none\""},
        {"[application]\nmain_class = 'M'\n[raw]\n122 = 'N'\n", 4, 1, "already written by a named key"},
        {"[application]\nmain_class = 'M\n", 2, 16, ""},  // the TOML library's own message
    };
    gFiles["tools/vexlo-runtime.jar"] = "JAR";
    for (const auto& row : rows) {
        pack::PackResult r = build(row.toml);
        ASSERT_FALSE(r.errors.empty()) << row.toml;
        const pack::Diagnostic& d = r.errors.front();
        EXPECT_EQ(d.file, "t.toml");
        EXPECT_EQ(std::make_pair(d.line, d.column), std::make_pair(row.line, row.column)) << d.text();
        EXPECT_NE(d.message.find(row.says), std::string::npos) << d.text();
        EXPECT_TRUE(r.block.config.empty() && r.block.includedFiles.empty()) << "nothing is produced on an error";
    }
    pack::PackOptions o = memoryOptions();
    o.runtimeJar.clear();
    pack::PackResult noJar = build("[application]\nmain_class = 'M'\n", o);
    ASSERT_EQ(noJar.errors.size(), 1u);
    EXPECT_NE(noJar.errors[0].message.find("--runtime-jar"), std::string::npos);
}

TEST(PackConfig, KeysOfTooManyPartsAreRefusedBeforeParsingAndOtherDotsAreNot) {
    auto parts = [](int n) {
        std::string key = "a";
        for (int i = 1; i < n; ++i) key += ".a";
        return key;
    };
    const std::string dots(40, '.'), app = "[application]\nmain_class = 'M'\n";
    struct Row {
        std::string toml;
        int line, column;  // 0: no limit is passed
    } rows[] = {
        {app + parts(17) + " = 1\n", 3, 1},
        {app + "  [" + parts(17) + "]\n", 3, 4},
        {app + "\"q\" . " + parts(16) + " = 1\n", 3, 1},
        {app + "x = [1.5, 2.5]\n" + parts(16) + " = 1\n", 0, 0},
        {app + "\"" + dots + "\" = 1\nb = '" + dots + "'\n# " + dots + "\n", 0, 0},
        {app + "c = \"\"\"\n" + parts(40) + "\nx \\\"\"\" y\n\"\"\"\nd = '''" + dots + "'''\n", 0, 0},
    };
    gFiles["tools/vexlo-runtime.jar"] = "JAR";
    for (const auto& row : rows) {
        pack::PackResult r = build(row.toml);
        const bool limited = !r.errors.empty() && r.errors.front().message.find("parts") != std::string::npos;
        EXPECT_EQ(limited, row.line != 0) << row.toml;
        if (limited) {
            EXPECT_EQ(std::make_pair(r.errors.front().line, r.errors.front().column),
                      std::make_pair(row.line, row.column));
        }
    }
    pack::PackResult big = build(app + std::string(1024 * 1024, '#'));
    ASSERT_EQ(big.errors.size(), 1u);
    EXPECT_EQ(std::make_pair(big.errors[0].line, big.errors[0].column), std::make_pair(1, 1));
}

TEST(PackConfig, TheExampleAndAFileWithEverySectionSurviveBuildInspectBuild) {
    gFiles["tools/vexlo-runtime.jar"] = "JAR";
    gFiles["base/vexlo-runtime.jar"] = std::string("PK\x03\x04\x00\xFF", 6);
    gFiles["base/data/x.bin"] = "xyz";
    std::optional<std::string> example = test::readFileBytes(
        test::utf8ToWide(std::string("Z:") + VEXLO_SOURCE_DIR "/examples/hello-service/vexlo.toml"));
    ASSERT_TRUE(example.has_value());
    expectRoundTrip("\n" + *example + "\n");  // the example leaves runtime_jar out ...
    expectRoundTrip(R"(
[service]
name = "full"
description = "Всё"
start = "auto"
dependencies = ["A"]
[application]
main_class = "m/p.Main"
module_mode = true
runtime_jar = "vexlo-runtime.jar"
class_path = [{ jar = 'a.jar' }, { env = 'X', mandatory = true }]
module_path = [{ scan = 'mods' }]
arguments = ["--port", "80 80", ""]
vm_options = ["-Dq=\"1\""]
vm_options_file = true
j_options = true
version_options = [{ versions = "-8", options = [] }, { pattern = "17.0.?", options = ["-Xss2m"] }]
working_directory = "${VEXLO_EXEDIR}"
directory = "app"
[runtime]
min_version = "11"
max_version = "21.0.1+12"
allow_prerelease = true
jdk_required = true
search = ["dir:jre", "env:JAVA_HOME", "path"]
accept_failing_directories = true
skip_registry = true
jvm_subdirectory = "server"
application_id = "Full"
ignore_java_options_env = true
[output]
stdout = 'logs\all.log'
stderr = 'logs\all.log'
append = false
[native]
library_directories = ["lib"]
add_dll_directories = true
reduce_path = true
[instance]
single = true
bring_to_front = true
machine_wide = true
session_wide = false
[messages]
error_title = "Full"
7000 = "seven"
[languages.de]
error_title = "Voll"
[languages.de_DE]
no_jvm_found = "Kein Java"
20017 = "Alles"
[[files]]
source = "data/x.bin"
name = 'data\x.bin'
[raw]
10009 = "1"
)");
}

// Values the vocabulary cannot say exactly land in [raw], so the block still comes back byte for byte.
TEST(PackConfig, InexpressibleValuesComeBackThroughRaw) {
    Block b;
    b.set(kExecutableType, "1").set(kSearchSequence, "Rjre;Ax").set(kRuntimeArgument4, "0").set(kClassPath, "X1a");
    b.set(kApplicationArguments, "a  b").set(kMainClass, "M");
    pack::Inspection shown = pack::blockToConfig(b, "out");
    EXPECT_NE(shown.toml.find("[raw]\n106 = \"0\"\n107 = \"1\"\n121 = \"X1a\"\n124 = \"a  b\"\n128 = \"Rjre;Ax\"\n"),
              std::string::npos)
        << shown.toml;
    pack::PackResult again = build(shown.toml);
    ASSERT_TRUE(again.errors.empty()) << errorsOf(again) << shown.toml;
    Entries got = again.block.config, want = b.config;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << shown.toml;
}

TEST(PackConfig, JoinedArgumentsSplitBackUnderTheLaunchersRule) {
    std::vector<std::vector<std::string>> lists = {
        {"-Xmx1g", "-Dx=1"},
        {"a b", "\tc"},
        {""},
        {"", ""},
        {"\""},
        {"x\"y", "\"\"", "\"start"},
        {"C:\\Program Files\\x\\", "\\\\server\\share"},
        {"%VEXLO_EXEDIR%\\lib", "${launcher:sys.tempDir}"},
    };
    for (const auto& list : lists) {
        std::string joined = pack::joinArguments(list);
        EXPECT_EQ(pack::splitArguments(joined), list) << joined;
        std::vector<std::wstring> launcher;
        splitCommandLine(test::utf8ToWide(joined), launcher);
        std::vector<std::string> asUtf8;
        for (const auto& w : launcher) asUtf8.push_back(test::wideToUtf8(w));
        EXPECT_EQ(asUtf8, list) << joined;
    }
}

TEST(PackConfig, ReadsBackTheBlockOfALauncherCopy) {
    test::TempDir dir(L"packread");
    Block b;
    b.set(kIncludedFileCount, "2").set(kIncludedFilePaths, ";a;;b\\c;").message(5, u"m").group("de", {{5, u"n"}});
    b.include("one").include("");
    std::wstring exe = test::writeBlockFile(dir.file(L"app.exe"), b);
    pack::ReadBlock read;
    std::string error;
    ASSERT_TRUE(pack::readLauncherBlock(exe, &read, &error)) << error;
    EXPECT_EQ(pack::serializeBlock(read.block), pack::serializeBlock(b));
    EXPECT_EQ(read.trailingBytes, 0u);

    std::vector<uint8_t> cut = pack::serializeBlock(b);
    cut.pop_back();
    EXPECT_FALSE(pack::parseBlock(cut, &read, &error));
    EXPECT_NE(error.find("included file"), std::string::npos) << error;
    EXPECT_FALSE(pack::readLauncherBlock(test::launcherPath(), &read, &error)) << "the bare launcher carries none";
}
