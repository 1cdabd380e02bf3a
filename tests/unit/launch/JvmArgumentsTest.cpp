#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "config/ConfigBlock.h"
#include "extract/IncludedFiles.h"
#include "instance/SingleInstance.h"
#include "jvm/SelectedRuntime.h"
#include "launch/JvmArguments.h"
#include "launch/VmOptions.h"
#include "paths/ExecutablePath.h"
#include "paths/TempDirectories.h"
#include "process/LauncherState.h"
#include "config/ConfigIds.h"

namespace vexlo {
namespace {

using Strings = std::vector<std::string>;

std::string narrow(const std::wstring& text) { return test::wideToUtf8(text); }

std::string replaced(std::string text, const std::string& dir) {
    for (size_t at; (at = text.find("<D>")) != std::string::npos;) text.replace(at, 3, dir);
    return text;
}

Strings optionsOf(const JavaVMInitArgs* args) {
    Strings options;
    for (jint i = 0; i < args->nOptions; ++i) options.emplace_back(args->options[i].optionString);
    return options;
}

// One launch's state; "<D>" in any text stands for the test's directory.
struct Launch {
    std::map<int, std::string> config = {};
    std::map<std::string, std::optional<std::string>> env = {};
    bool service = false;
    bool noRedirect = false;
    char kind = 0;
    std::string tempDir = {};
    std::vector<std::wstring> arguments = {};
};

// Applies a launch's state, assembles, and puts the environment back.
Strings assemble(const Launch& launch, const std::string& dir, bool withProperties) {
    resetConfigForTests();
    for (const auto& [id, value] : launch.config) setConfigValueForTests(id, replaced(value, dir));
    serviceFlag = launch.service;
    noRedirectFlag = launch.noRedirect;
    launcherKind = launch.kind;
    launcherTempDir = replaced(launch.tempDir, dir);
    std::map<std::string, std::optional<std::string>> saved;
    for (const auto& [name, value] : launch.env) {
        char buffer[32768];
        DWORD n = GetEnvironmentVariableA(name.c_str(), buffer, sizeof buffer);
        saved[name] = n > 0 && n < sizeof buffer ? std::optional<std::string>(buffer) : std::nullopt;
        SetEnvironmentVariableA(name.c_str(), value ? replaced(*value, dir).c_str() : nullptr);
    }
    Strings properties = withProperties ? buildSystemProperties() : Strings{};
    Strings options = optionsOf(assembleJvmArguments(properties, launch.arguments));
    for (const auto& [name, value] : saved) SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
    return options;
}

Strings replacedAll(const Strings& texts, const std::string& dir) {
    Strings out;
    for (const std::string& text : texts) out.push_back(replaced(text, dir));
    return out;
}

class JvmArgumentsTest : public ::testing::Test {
protected:
    test::TempDir dir_{L"jvmargs"};
    std::string d_ = narrow(dir_.path());
    void SetUp() override {
        for (const wchar_t* name : {L"a.jar", L"b.jar", L"lib\\z.jar", L"lib\\a.zip", L"ltd\\t.jar", L"q.jar"}) {
            if (std::wstring(name).find(L'\\') != std::wstring::npos)
                dir_.subdir(std::wstring(name).substr(0, std::wstring(name).find(L'\\')));
            ASSERT_TRUE(test::writeFileBytes(dir_.file(name), "PK"));
        }
        dir_.subdir(L"empty");
    }
    void check(const char* name, const Launch& launch, const Strings& expected, bool withProperties = false) {
        SCOPED_TRACE(name);
        EXPECT_EQ(assemble(launch, d_, withProperties), replacedAll(expected, d_));
    }
};

TEST_F(JvmArgumentsTest, SystemPropertiesThenClassPathThenModeOptions) {
    const std::string exe = executablePathAnsi();
    const std::string cp = "-Dvexlo.consoleCodepage=cp" + std::to_string(GetConsoleOutputCP());
    const std::map<int, std::string> twoArchives{{ids::kClassPath, "A1<D>\\a.jar;A0<D>\\b.jar"}};
    const std::map<std::string, std::optional<std::string>> env{{"PATH", "C:\\windows"}, {"MANPATH", std::nullopt}};
    const Strings common{"-Dvexlo.moduleName=" + exe,     "-Dsun.java.command=" + exe,       "-Dvexlo.tempDir=",
                         "-Dvexlo.unextractedPosition=0", "-Djava.library.path=C:\\windows", cp};
    const std::string classPath = "-Djava.class.path=<D>\\a.jar;<D>\\b.jar";

    Strings plain = common;
    plain.push_back(classPath);
    check("run-redirect", {.config = twoArchives, .env = env}, plain, true);
    plain.push_back("-Dquandrel.noRedir=true");
    check("run", {.config = twoArchives, .env = env, .noRedirect = true}, plain, true);
    Strings service{"-Dvexlo.isService=true"};
    service.insert(service.end(), common.begin(), common.end());
    service.push_back(classPath);
    service.push_back("-Xrs");
    check("service", {.config = twoArchives, .env = env, .service = true}, service, true);

    instanceSemaphoreName = "Global\\sem";
    setPreviousInstallationFlag(true);
    unextractedPosition = 1234;
    Launch installer{.config = twoArchives,
                     .env = {{"PATH", std::nullopt}, {"MANPATH", "x"}},
                     .kind = 'i',
                     .tempDir = "<D>\\empty"};
    installer.config[10003] = "<D>";
    installer.config[30200] = "daily";
    installer.config[30202] = "0";
    check("installer kind", installer,
          {"-Dvexlo.semaphoreName=Global\\sem", "-Dqdr.previousJdk=true", "-Dvexlo.isQuandrel=true",
           "-Dvexlo.moduleName=" + exe, "-Dsun.java.command=" + exe, "-Dvexlo.tempDir=<D>\\empty",
           "-Dvexlo.unextractedPosition=1234", "-Dvexlo.output.rotate=daily", "-Dvexlo.output.keep=0",
           "-Djava.class.path=<D>\\.quandrel\\qdrruntime.jar;" + classPath.substr(18)},
          true);
    instanceSemaphoreName.clear();
    setPreviousInstallationFlag(false);
    unextractedPosition = 0;
}

TEST_F(JvmArgumentsTest, ClassPathEntriesOverridesAndArchives) {
    const std::map<std::string, std::optional<std::string>> env{{"VX_QUOTED", "\"<D>\\q.jar\""},
                                                                {"VX_TRAILING", "<D>\\t.jar;"}};
    struct Case {
        const char* name;
        Launch launch;
        Strings expected;
    } cases[] = {
        {"D entries exist or not",
         {.config = {{ids::kClassPath, "D0<D>\\missing;D1<D>\\lib;x;;A0ignored"}}},
         {"-Djava.class.path=<D>\\missing;<D>\\lib"}},
        {"S: jars then zips",
         {.config = {{ids::kClassPath, "S1<D>\\lib;S0<D>\\absent"}}},
         {"-Djava.class.path=<D>\\lib\\z.jar;<D>\\lib\\a.zip"}},
        {"E: quotes dropped, no second ;",
         {.config = {{ids::kClassPath, "E1VX_QUOTED;E0VX_TRAILING;E0VX_UNSET_NAME"}}, .env = env},
         {"-Djava.class.path=<D>\\q.jar;<D>\\t.jar"}},
        {"prefix, suffix around entries",
         {.config = {{ids::kClassPath, "A0<D>\\a.jar"}, {123, "\"-classpath/p P.jar\" \"-classpath/a S.jar\""}}},
         {"-Djava.class.path=P.jar;<D>\\a.jar;S.jar"}},
        {"replacement keeps prefix, temp archives, suffix",
         {.config = {{ids::kClassPath, "A0<D>\\a.jar"},
                     {123, "\"-classpath R.jar\" \"-classpath/p P.jar\" \"-classpath/a S.jar\""}},
          .tempDir = "<D>\\ltd"},
         {"-Djava.class.path=P.jar;<D>\\ltd\\t.jar;R.jar;S.jar"}},
        {"suffix alone adds no empty entry",
         {.config = {{ids::kVmOptions, "\"-classpath/a S.jar\""}}},
         {"-Djava.class.path=S.jar"}},
        {"nothing configured", {}, {"-Djava.class.path="}},
    };
    for (const Case& c : cases) check(c.name, c.launch, c.expected);
}

TEST_F(JvmArgumentsTest, ModulePathModuleOptionsAndCleanUp) {
    struct Case {
        const char* name;
        Launch launch;
        Strings expected;
    } cases[] = {
        {"S on the module path is the directory",
         {.config = {{ids::kModulePath, "S1<D>\\lib"}}},
         {"-Djava.class.path=", "--module-path=<D>\\lib", "--add-modules=com.vexlo.runtime"}},
        {"module mode: temp archives on the module path, main class module opened",
         {.config = {{ids::kModuleMode, "1"}, {122, "app.module/com.example.app.Main"}, {121, "A0<D>\\a.jar"}},
          .tempDir = "<D>\\ltd"},
         {"-Djava.class.path=<D>\\a.jar", "--module-path=<D>\\ltd\\t.jar",
          "--add-opens=app.module/com.example.app=com.vexlo.runtime", "--add-modules=app.module,com.vexlo.runtime"}},
        {"module mode without archives has no module options",
         {.config = {{ids::kModuleMode, "1"}, {122, "m/p.Main"}}},
         {"-Djava.class.path="}},
        {"module options joined",
         {.config = {{ids::kVmOptions, "--add-modules java.sql --add-opens a/b=c -Xmx1g"}}},
         {"--add-modules=java.sql", "--add-opens=a/b=c", "-Xmx1g", "-Djava.class.path="}},
        {"a trailing module option does not swallow the class path",
         {.config = {{ids::kVmOptions, "-Xmx1g --add-modules"}}},
         {"-Xmx1g", "--add-modules", "-Djava.class.path="}},
        {"a configured -Xrs is not doubled",
         {.config = {{ids::kVmOptions, "-Xrs"}}, .service = true},
         {"-Xrs", "-Djava.class.path="}},
        {"an option expanded to nothing is dropped",
         {.config = {{ids::kVmOptions, "${launcher:sys.jvmHome} -Dkept"}}},
         {"-Dkept", "-Djava.class.path="}},
        {"-J arguments only with id 125",
         {.config = {{ids::kJOptionsAreVmOptions, "1"}}, .arguments = {L"prog", L"-J-Xmx1g", L"arg"}},
         {"-Xmx1g", "-Djava.class.path="}},
        {"-J arguments are program arguments without id 125", {.arguments = {L"-J-Xmx1g"}}, {"-Djava.class.path="}},
    };
    for (const Case& c : cases) check(c.name, c.launch, c.expected);
    Strings trailing{"--add-modules", "--add-exports", "x=y", "--add-modules"};
    detail::joinModuleOptions(trailing);
    EXPECT_EQ(trailing, (Strings{"--add-modules", "--add-exports=x=y", "--add-modules"}));
}

TEST_F(JvmArgumentsTest, ArgumentFilesExpandThroughTheRuntimesJli) {
    std::wstring bin = dir_.subdir(L"bin");
    ASSERT_TRUE(test::writeFileBytes(dir_.file(L"args.txt"), "-Dfrom.file=1\r\n\r\n--add-modules\r\njava.sql\r\n"));
    const std::wstring record = dir_.file(L"jli.txt");
    SetEnvironmentVariableW(L"VEXLO_STANDIN_JLI_RECORD", record.c_str());
    setRuntimeBinDirectory(narrow(bin));
    const Launch launch{.config = {{ids::kVmOptions, "@<D>\\args.txt -Xmx1g"}}};

    // A library without all three functions leaves "@file" as it is (and is let go again).
    ASSERT_TRUE(CopyFileW((test::binDir() + L"\\standin_jli_nofree.dll").c_str(), (bin + L"\\jli.dll").c_str(), FALSE));
    check("missing export", launch, {"@<D>\\args.txt", "-Xmx1g", "-Djava.class.path="});
    EXPECT_FALSE(test::fileExists(record));
    ASSERT_TRUE(DeleteFileW((bin + L"\\jli.dll").c_str()));

    ASSERT_TRUE(CopyFileW((test::binDir() + L"\\standin_jli.dll").c_str(), (bin + L"\\jli.dll").c_str(), FALSE));
    check("expanded", launch, {"-Dfrom.file=1", "--add-modules=java.sql", "-Xmx1g", "-Djava.class.path="});
    EXPECT_EQ(test::readFileBytes(record).value_or(""),
              replaced("init|1|0\r\npreprocess|@<D>\\args.txt|1\r\nfree\r\nfree\r\npreprocess|-Xmx1g|1\r\n"
                       "preprocess|-Djava.class.path=|1\r\n",
                       d_));
    SetEnvironmentVariableW(L"VEXLO_STANDIN_JLI_RECORD", nullptr);
}

// ---- fatal entries and log lines, in a child copy of this program ----

constexpr char kChildVariable[] = "VEXLO_TEST_ARGS_CHILD";

std::string childValue() {
    char value[6000];
    DWORD n = GetEnvironmentVariableA(kChildVariable, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

test::RunResult runChild(const std::wstring& exe, const std::string& test, const std::string& value,
                         std::map<std::wstring, std::optional<std::wstring>> env = {}) {
    test::RunOptions options;
    options.args = {L"--gtest_filter=JvmArgumentsChild." + test::utf8ToWide(test)};
    options.env = std::move(env);
    options.env[test::utf8ToWide(kChildVariable)] = test::utf8ToWide(value);
    return test::runProcess(exe, options);
}

std::wstring self() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Skipped in an ordinary run: the parent tests below start these with the child variable set.
TEST(JvmArgumentsChild, MandatoryEntry) {
    const std::string entry = childValue();
    if (entry.empty()) GTEST_SKIP() << "only run by its parent test";
    test::TempDir dir(L"fatal");
    // An empty block: the console error display, and the two messages.
    detail::readConfigSecondPassFrom(
        test::writeBlockFile(dir.file(L"block.bin"), pack::Block{}
                                                         .message(ids::kMsgMandatoryPathMissing, "Missing: {0}")
                                                         .message(ids::kMsgMandatoryPathVariableUnset, "Unset: {0}")));
    setConfigValueForTests(ids::kClassPath, entry);
    std::string target;
    detail::appendClassPathEntries(121, target);
    std::printf("returned with %s\n", target.c_str());
}

TEST(JvmArgumentsInChild, MandatoryEntriesEndTheLauncherWithTheirText) {
    struct Case {
        const char* entry;
        const char* message;
    } cases[] = {
        {"A1C:\\nowhere\\a.jar", "Missing: C:\\nowhere\\a.jar"},
        {"D0C:\\nowhere;S1C:\\nowhere\\lib", "Missing: C:\\nowhere\\lib"},
        {"E1VX_NEVER_SET", "Unset: VX_NEVER_SET"},
        {"E1VX_EMPTY", "Missing: VX_EMPTY"},
        {"A0C:\\nowhere;X1unknown", "Missing: unknown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        test::RunResult run = runChild(self(), "MandatoryEntry", c.entry, {{L"VX_EMPTY", L""}});
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 1u) << run.out;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

// The default VM options file beside the executable, its includes against that directory, the log lines.
TEST(JvmArgumentsChild, DefaultFile) {
    if (childValue().empty()) GTEST_SKIP() << "only run by its parent test";
    setConfigValueForTests(ids::kReadDefaultVmOptionsFile, "1");
    setConfigValueForTests(ids::kJOptionsAreVmOptions, "1");
    setConfigValueForTests(ids::kClassPath, "A0x.jar");
    setConfigValueForTests(ids::kVersionRuleCount, "1");
    setConfigValueForTests(ids::kVersionRuleKeyBase, "17");
    setSelectedJavaVersion("17.0.2");
    for (const std::string& option : optionsOf(assembleJvmArguments({}, {L"-J-Dj=1"})))
        std::printf("option|%s\n", option.c_str());
}

// The "option|" lines of a child's output, without their prefix.
std::string optionLines(const std::string& out) {
    std::string lines;
    for (size_t at = 0; (at = out.find("option|", at)) != std::string::npos; at = out.find('\n', at)) {
        at += 7;
        lines += out.substr(at, out.find_first_of("\r\n", at) - at) + "\n";
    }
    return lines;
}

TEST(JvmArgumentsInChild, DefaultVmOptionsFileByItsNamesWithLogLines) {
    test::TempDir dir(L"vmdef");
    const std::wstring exe = dir.file(L"app.exe");
    ASSERT_TRUE(CopyFileW(self().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"app.exe.vmoptions"), "-Dsecond=1\n"));
    test::RunResult second = runChild(exe, "DefaultFile", "1", test::isolatedEnvironment(dir.path(), false));
    EXPECT_EQ(optionLines(second.out), "-Dsecond=1\n-Dj=1\n-Djava.class.path=" + narrow(dir.path()) + "\\x.jar\n");

    ASSERT_TRUE(test::writeFileBytes(dir.file(L"app.vmoptions"), "-Dfirst=1\n-include-options inc.vmoptions\n"));
    // The included file includes itself twice: read once.
    ASSERT_TRUE(test::writeFileBytes(dir.file(L"inc.vmoptions"), std::string("-Dinc=1") + '\0' +
                                                                     "x\n-include-options inc.vmoptions\n"
                                                                     "-include-options inc.vmoptions\n"));
    test::RunResult first = runChild(exe, "DefaultFile", "1", test::isolatedEnvironment(dir.path(), true));
    EXPECT_EQ(optionLines(first.out),
              "-Dfirst=1\n-Dinc=1\n-Dj=1\n-Djava.class.path=" + narrow(dir.path()) + "\\x.jar\n");

    test::LogContent log = test::readLog(test::newestLog(dir.path()));
    const std::wstring d = dir.path();
    for (const std::wstring& line : {
             L"vmoptions2: exe " + exe + L" file: " + d + L"\\app.vmoptions, file: 1",
             L"vmoptions: opts2: " + exe + L".vmoptions, file: 1",
             std::wstring(L"default vmoptions file: 1"),
             std::wstring(L"after exp from inc.vmoptions inc.vmoptions"),
             L"adding vmoptions from (1) <" + d + L"\\inc.vmoptions> (inc.vmoptions)",
             std::wstring(L"adding vmoptions 2"),
             std::wstring(L"adding vmoptions 3"),
             std::wstring(L"ERROR: vmoptions line cut at a NUL byte after 7 bytes"),
             L"ERROR: vmoptions file <" + d + L"\\inc.vmoptions> is already being read: not reading it again",
             std::wstring(L"adding options"),
             std::wstring(L"adding preconfigured modulepath"),
             std::wstring(L"adding preconfigured classpath"),
             std::wstring(L"entry A0x.jar"),
             std::wstring(L"entries 1"),
             std::wstring(L"check 1 version specific vm option lines for 17.0.2"),
             std::wstring(L"ERROR: expected dash"),
             std::wstring(L"checking version 17 0"),
             std::wstring(L"vmoption count 4"),
             std::wstring(L"vmoption 1: -Dinc=1"),
         }) {
        EXPECT_TRUE(test::logHas(log, line)) << narrow(line) << "\n" << narrow(log.text);
    }
}

}  // namespace
}  // namespace vexlo
