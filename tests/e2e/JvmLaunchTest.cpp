// Complete launches through "vexlo.exe -run" and the restart marker against the scripted stand-in virtual
// machine: what creation receives, the launch thread's stack, main's arguments, the installer kind's helper
// library, and every way a launch fails.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <cstring>

#include "StandinRuntimes.h"
#include "common/Handles.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

constexpr const char* kRuntimeFalseArguments[] = {"false", "", "", "", "false"};

class JvmLaunchE2E : public ::testing::Test {
protected:
    TempDir app_{L"runapp"};
    TempDir runtimes_{L"runrt"};
    TempDir temp_{L"runtmp"};
    std::wstring rt_ = runtimes_.path() + L"\\jre";

    void SetUp() override { layOutRuntime(rt_); }
    void TearDown() override { forgetCachedRuntimes(runtimes_.path()); }

    pack::Block block() const {
        pack::Block b = searchBlock();
        b.set(ids::kSearchSequence, "A" + wideToUtf8(rt_));
        b.message(ids::kMsgMandatoryPathMissing, "Missing path {0}");
        b.message(ids::kMsgMandatoryPathVariableUnset, "Variable {0} not set");
        b.message(ids::kMsgLaunchFailed, "Launch failed ({0})");
        b.message(ids::kMsgMainClassNotFound, "Main class missing");
        b.message(ids::kMsgMainMethodNotFound, "Main method missing");
        return b;
    }
    void script(const std::string& text) const { writeFileBytes(rt_ + L"\\bin\\server\\script.txt", text); }

    LaunchResult run(const std::wstring& exe, const std::vector<std::wstring>& args = {L"-run"},
                     const std::string& stdinData = {}) {
        RunOptions options = launchOptions(temp_);
        options.args = args;
        options.stdinData = stdinData;
        LaunchResult r = launch(exe, temp_, options);
        // Nothing outside the launcher's set of JNI calls, and none while an exception was pending.
        EXPECT_TRUE(r.recorded("unexpected ").empty()) << r.recordText();
        EXPECT_TRUE(r.recorded("exception pending at ").empty()) << r.recordText();
        return r;
    }
    LaunchResult run(const pack::Block& b, const std::vector<std::wstring>& args = {L"-run"}) {
        return run(makeLauncher(app_.path(), L"app.exe", b), args);
    }
};

std::vector<std::string> withRuntimeArguments(std::vector<std::string> rest) {
    std::vector<std::string> all(std::begin(kRuntimeFalseArguments), std::end(kRuntimeFalseArguments));
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

// Log messages appear, each after the one before.
void expectInOrder(const LogContent& log, const std::vector<std::wstring>& prefixes) {
    int last = -1;
    for (const std::wstring& prefix : prefixes) {
        int at = -1;
        for (size_t i = static_cast<size_t>(last + 1); i < log.messages.size() && at < 0; ++i)
            if (startsWith(log.messages[i], prefix)) at = static_cast<int>(i);
        EXPECT_GE(at, 0) << "missing after message " << last << ": " << wideToUtf8(prefix) << "\n"
                         << wideToUtf8(log.text);
        if (at >= 0) last = at;
    }
}

TEST_F(JvmLaunchE2E, CompleteLaunchHandsTheOptionsAndArgumentsOverAndDestroysTheVm) {
    pack::Block b = block();
    b.set(ids::kVmOptions, "-Xmx256m \"-Dname=a b\"");
    const std::wstring exe = makeLauncher(app_.path(), L"app.exe", b);
    LaunchResult r = run(exe, {L"-run", L"a", L"Grüße", L"日本", L"two words"});

    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    expectInOrder(r.log, {L"used stack size 0", L"Creating JVM", L"JVM created",
                          L"setting vexlo.moduleName to " + longPathOf(exe),
                          L"main class: com/vexlo/runtime/WinLauncher", L"param count: 10", L"param 7: Grüße",
                          L"param 8: 日本", L"calling main", L"main returned", L"dest JVM", L"launch done"});

    // Every option of the logged vector reached creation, in order.
    std::vector<std::string> logged;
    for (const std::wstring& m : r.log.messages)
        if (startsWith(m, L"vmoption ") && !startsWith(m, L"vmoption count"))
            logged.push_back(wideToUtf8(m.substr(m.find(L": ") + 2)));
    EXPECT_EQ(r.recorded("option|"), logged);
    ASSERT_EQ(r.recorded("JNI_CreateJavaVM|").size(), 1u);
    EXPECT_EQ(r.recorded("JNI_CreateJavaVM|")[0].rfind("version=0x10002|options=" + std::to_string(logged.size()) +
                                                           "|ignoreUnrecognized=1|",
                                                       0),
              0u);
    EXPECT_EQ(r.recorded("option|-Dname=a b").size(), 1u);

    EXPECT_EQ(r.recorded("main-arg|"), withRuntimeArguments({wideToUtf8(exe), "a", "Grüße", "日本", "two words"}));
    EXPECT_EQ(r.recorded("FindClass|com/vexlo/runtime/WinLauncher").size(), 1u);
    EXPECT_EQ(r.recorded("GetStaticMethodID|com/vexlo/runtime/WinLauncher|main|([Ljava/lang/String;)V").size(), 1u);
    EXPECT_EQ(r.recorded("NewObjectArray|"), std::vector<std::string>{"10|java/lang/String"});
    EXPECT_EQ(r.records.back(), "DestroyJavaVM");
}

TEST_F(JvmLaunchE2E, JOptionsAreVmOptionsAndTheLocaleOptionIsNoProgramArgument) {
    pack::Block b = block();
    b.set(ids::kJOptionsAreVmOptions, "1");
    b.set(ids::kApplicationArguments, "c \"d e\"");
    const std::wstring exe = makeLauncher(app_.path(), L"app.exe", b);
    LaunchResult r = run(exe, {L"-run", L"-J-Xmx1g", L"a", L"-Dsun.locale.formatasdefault=true", L"b"});
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    EXPECT_EQ(r.recorded("main-arg|"), withRuntimeArguments({wideToUtf8(exe), "c", "d e", "a", "b"}));
    EXPECT_EQ(r.recorded("option|-Xmx1g").size(), 1u) << r.recordText();
}

TEST_F(JvmLaunchE2E, RestartedChildGetsItsArgumentsWithoutTheProgramPathAndServiceOptions) {
    LaunchResult r = run(block(), {L"svc", L"x", L"__qdr_restart"});
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    EXPECT_TRUE(logHas(r.log, L"registering ConsoleCtrlHandler"));
    EXPECT_TRUE(logHas(r.log, L"launch done"));
    EXPECT_EQ(r.recorded("main-arg|"), withRuntimeArguments({"svc", "x"}));
    EXPECT_EQ(r.recorded("option|-Xrs").size(), 1u) << r.recordText();
    EXPECT_EQ(r.recorded("option|-Dvexlo.isService=true").size(), 1u);
}

TEST_F(JvmLaunchE2E, RuntimeArgumentsFromTheConfiguration) {
    pack::Block b = block();
    b.set(ids::kModuleMode, "1");
    b.set(ids::kMainClass, "app.mod/com.example.Main");
    b.set(ids::kUseRuntimeArgument2, "1");
    b.set(ids::kRuntimeArgument2Path, "$APP\\x");
    b.set(ids::kUseRuntimeArgument3, "1");
    b.set(ids::kRuntimeArgument3Path, "sub\\..\\conf");
    b.set(ids::kRuntimeArgument4, "1");
    LaunchResult r = run(b);
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    std::vector<std::string> args = r.recorded("main-arg|");
    ASSERT_GE(args.size(), 5u) << r.recordText();
    EXPECT_EQ(args[1], "/app.mod/com.example.Main");
    EXPECT_EQ(args[2], "$APP\\x");
    EXPECT_EQ(args[3], wideToUtf8(longPathOf(app_.path())) + "\\conf");
    EXPECT_EQ(args[4], "true");
}

// ---- the launch thread's stack ----

size_t reservationOf(const std::string& creationRecord) {
    return static_cast<size_t>(std::stoull(creationRecord.substr(creationRecord.find("stack=") + 6)));
}

// What this system reserves for a thread that asks for the size (it may round small requests up).
size_t systemReservationFor(size_t request) {
    struct Probe {
        static DWORD WINAPI body(LPVOID out) {
            ULONG_PTR low = 0, high = 0;
            GetCurrentThreadStackLimits(&low, &high);
            *static_cast<size_t*>(out) = high - low;
            return 0;
        }
    };
    size_t reserved = 0;
    unique_handle thread(
        CreateThread(nullptr, request, Probe::body, &reserved, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (thread) WaitForSingleObject(thread.get(), INFINITE);
    return reserved;
}

// The stack reservation an executable's header gives its threads by default.
size_t defaultReservation(const std::wstring& exe) {
    std::string bytes = readFileBytes(exe).value_or(std::string());
    if (bytes.size() < 0x400) return 0;
    LONG headerAt = 0;
    std::memcpy(&headerAt, bytes.data() + offsetof(IMAGE_DOS_HEADER, e_lfanew), sizeof headerAt);
    IMAGE_NT_HEADERS64 headers{};
    std::memcpy(&headers, bytes.data() + headerAt, sizeof headers);
    return static_cast<size_t>(headers.OptionalHeader.SizeOfStackReserve);
}

TEST_F(JvmLaunchE2E, LaunchThreadReservesTheStackTheXssOptionsAskFor) {
    const struct {
        const char* options;
        int logged;
    } cases[] = {
        {"", 0},
        {"-Xss512k", 524288},
        {"-Xss1000", 65536},
        {"-Xss2m -Xss4m", 4194304},
        {"-Xss4g", 0},
        {"-Xss3m -Xss+1m -Xss1mb", 3145728},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        pack::Block b = block();
        b.set(ids::kVmOptions, c.options);
        const std::wstring exe = makeLauncher(app_.path(), L"app.exe", b);
        LaunchResult r = run(exe);
        EXPECT_TRUE(logHas(r.log, L"used stack size " + std::to_wstring(c.logged))) << wideToUtf8(r.log.text);
        std::vector<std::string> creation = r.recorded("JNI_CreateJavaVM|");
        ASSERT_EQ(creation.size(), 1u);
        const size_t expected = c.logged == 0 ? defaultReservation(exe)
                                              : systemReservationFor(static_cast<size_t>(c.logged));
        EXPECT_EQ(reservationOf(creation[0]), expected);
        EXPECT_EQ(r.run.exitCode, 0u);
    }
}

// Hostile options files beside the launcher end the start at once (the launch's time-out is the failure): a
// file naming itself two or three times is read once, each repetition logged, and a device is refused unopened.
TEST_F(JvmLaunchE2E, SelfIncludingOrDeviceOptionsFilesEndTheStartWithALogLine) {
    const std::string self = "-include-options app.vmoptions\n";
    const std::wstring again = L"app.vmoptions> is already being read: not reading it again";
    const struct {
        const char* name;
        std::string text;
        std::wstring logged;  // how each line that reports a skipped include ends (compared lower-case)
        size_t times;
    } cases[] = {
        {"twice", "-Donce=1\n" + self + self, again, 2},
        {"three times", "-Donce=1\n" + self + self + self, again, 3},
        {"COM1", "-Donce=1\n-include-options COM1\n", L"\\COM1>: a device", 1},
        {"NUL", "-Donce=1\n-include-options NUL\n", L"\\NUL>: a device", 1},
    };
    const std::wstring exe = makeLauncher(app_.path(), L"app.exe", block().set(ids::kReadDefaultVmOptionsFile, "1"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeFileBytes(app_.file(L"app.vmoptions"), c.text));
        LaunchResult r = run(exe);
        EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
        EXPECT_EQ(r.recorded("option|-Donce=1").size(), 1u) << r.recordText();
        size_t logged = 0;
        for (const std::wstring& m : r.log.messages)
            if (startsWith(m, L"ERROR: ") && lower(m).ends_with(lower(c.logged))) ++logged;
        EXPECT_EQ(logged, c.times) << wideToUtf8(r.log.text);
    }
}

// ---- what main does ----

TEST_F(JvmLaunchE2E, DestroyWaitsForTheProgramsLastThreadAndMainSeesStandardInput) {
    script("read-stdin\nnon-daemon 300\n");
    const std::wstring exe = makeLauncher(app_.path(), L"app.exe", block());
    LaunchResult r = run(exe, {L"-run"}, "0\r\nleft over\r\n");
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    EXPECT_EQ(r.recorded("stdin|"), std::vector<std::string>{"0"});
    ASSERT_GE(r.records.size(), 2u);
    EXPECT_EQ(r.records[r.records.size() - 2], "non-daemon thread done") << r.recordText();
    EXPECT_EQ(r.records.back(), "DestroyJavaVM");
    expectInOrder(r.log, {L"main returned", L"dest JVM", L"launch done"});
}

TEST_F(JvmLaunchE2E, FailuresEndTheLaunchWithTheirLinesAndExitCodes) {
    const struct {
        const char* script;
        DWORD exitCode;
        std::vector<std::wstring> logLines;
        const char* shown;  // on standard error; empty: nothing expected
    } cases[] = {
        {"create-fails", 1, {L"Creating JVM", L"ERROR: could not initialize JVM"}, ""},
        {"missing-class com/vexlo/runtime/WinLauncher",
         1,
         {L"main class: ", L"ERROR: could not find main class"},
         "Main class missing"},
        {"missing-method com/vexlo/runtime/WinLauncher.main",
         1,
         {L"ERROR: could not find main method"},
         "Main method missing"},
        {"throw java.lang.IllegalStateException: böse",
         1,
         {L"main returned", L"ERROR: an exception occurred", L"ERROR: java.lang.IllegalStateException: böse",
          L"ERROR: could not call main"},
         "Exception in thread \"main\" java.lang.IllegalStateException"},
        {"exit 7", 7, {L"calling main"}, ""},
        {"out-of-memory NewString",
         1,
         {L"ERROR: could not create string for init module name", L"param count: ",
          L"ERROR: could not create the arguments of main"},
         "Launch failed (20)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        script(c.script);
        LaunchResult r = run(block());
        EXPECT_EQ(r.run.exitCode, c.exitCode) << r.recordText() << wideToUtf8(r.log.text);
        expectInOrder(r.log, c.logLines);
        if (*c.shown) {
            EXPECT_NE(r.run.err.find(c.shown), std::string::npos) << r.run.err;
        }
        if (c.exitCode == 7) {
            EXPECT_FALSE(logHas(r.log, L"main returned"));
        }
        EXPECT_FALSE(logHas(r.log, L"launch done"));
        EXPECT_TRUE(r.recorded("DestroyJavaVM").empty());
    }
}

TEST_F(JvmLaunchE2E, ExceptionTextComesFromObjectsToStringAndTheExceptionIsCleared) {
    script("throw java.lang.RuntimeException: x");
    LaunchResult r = run(block());
    EXPECT_EQ(r.recorded("CallObjectMethod|"),
              std::vector<std::string>{"java/lang/Object.toString|throwable java.lang.RuntimeException: x"});
    EXPECT_EQ(r.recorded("ExceptionDescribe|"), std::vector<std::string>{"java.lang.RuntimeException: x"});
    EXPECT_FALSE(logHas(r.log, L"past the end", true));
}

TEST_F(JvmLaunchE2E, MandatoryClassPathEntriesEndTheLaunchBeforeCreation) {
    pack::Block missing = block();
    missing.set(ids::kClassPath, "A1" + wideToUtf8(app_.path()) + "\\missing.jar");
    LaunchResult r = run(missing);
    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_NE(r.run.err.find("Missing path " + wideToUtf8(app_.path()) + "\\missing.jar"), std::string::npos)
        << r.run.err;
    EXPECT_TRUE(r.recorded("JNI_CreateJavaVM|").empty());

    pack::Block variable = block();
    variable.set(ids::kClassPath, "E1VEXLO_TEST_UNSET_CLASSPATH");
    r = run(variable);
    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_NE(r.run.err.find("Variable VEXLO_TEST_UNSET_CLASSPATH not set"), std::string::npos) << r.run.err;
    EXPECT_TRUE(r.recorded("JNI_CreateJavaVM|").empty());
}

// ---- what follows creation ----

TEST_F(JvmLaunchE2E, ModuleNamePropertyIsTheLongPathWhileTheOptionHeldThe8BitOne) {
    const std::wstring dir = app_.subdir(L"Модуль日本");
    const std::wstring exe = makeLauncher(dir, L"app.exe", block());
    LaunchResult r = run(exe);
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    const std::string longExe = wideToUtf8(longPathOf(exe));
    EXPECT_EQ(r.recorded("setProperty|vexlo.moduleName|"), std::vector<std::string>{longExe});
    std::vector<std::string> option = r.recorded("option|-Dvexlo.moduleName=");
    ASSERT_EQ(option.size(), 1u);
    EXPECT_NE(option[0], longExe);
    EXPECT_EQ(option[0].find('?'), std::string::npos) << option[0];
}

TEST_F(JvmLaunchE2E, SplashConfigurationIsCalledWithTheConfiguredValues) {
    pack::Block b = block();
    b.set(ids::kSplashConfig, "1");
    b.set(ids::kSplashSecondFlag, "1");
    b.set(ids::kSplashText1, "splash.png");
    b.set(ids::kSplashText1Number1, "5");
    b.set(ids::kSplashText1Number2, "6");
    b.set(ids::kSplashText2, "Loading");
    b.set(ids::kSplashText2Number1, "7");
    b.set(ids::kSplashText2Number2, "8");
    b.set(ids::kSplashText4Number2, "9");
    LaunchResult r = run(b);
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    EXPECT_EQ(r.recorded("call|com/vexlo/runtime/WinLauncher.initAwtSplashConfig|"),
              std::vector<std::string>{"false|true|splash.png|5|6|Loading|7|8||0|0||0|9"});

    // A missing method is logged and the launch goes on.
    script("missing-method com/vexlo/runtime/WinLauncher.initAwtSplashConfig");
    r = run(b);
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    EXPECT_TRUE(logHas(r.log, L"ERROR: could not find method for splash properties"));
    EXPECT_TRUE(logHas(r.log, L"launch done"));
}

TEST_F(JvmLaunchE2E, InstallerKindUsesItsClassesAndRegistersItsHelperLibrary) {
    TempDir install{L"inst"};
    pack::Block b = block();
    b.set(ids::kLauncherKind, "i");
    b.set(ids::kApplicationDirectory, wideToUtf8(install.path()));
    const std::wstring helper = install.path() + L"\\.quandrel\\qdrinst.dll";
    const std::string common = "com/quandrel/runtime/installer/platform/win32/Common";

    // No helper library: logged, the launch goes on.
    LaunchResult r = run(b);
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    EXPECT_TRUE(logHas(r.log, L"helper dll ", true));
    EXPECT_TRUE(r.recorded("registerNativesEx|").empty());
    EXPECT_EQ(r.recorded("FindClass|com/quandrel/runtime/launcher/WinLauncher").size(), 1u) << r.recordText();

    copyStandin(L"standin_helper.dll", helper);
    r = run(b);
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    expectInOrder(r.log, {L"load helper dll", L"helper dll ", L"ERROR: helper reports through the callback 42",
                          L"setting vexlo.moduleName", L"main class: com/quandrel/runtime/launcher/WinLauncher"});
    EXPECT_EQ(r.recorded("call|" + common + ".initFromLauncher|"), std::vector<std::string>{"true"});
    EXPECT_EQ(r.recorded("registerNativesEx|"), std::vector<std::string>{"env=set|module=self|full=1|answer=1"});

    // A failed registration tells the Java side so.
    writeFileBytes(install.path() + L"\\.quandrel\\fail", "");
    r = run(b);
    EXPECT_EQ(r.run.exitCode, 0u) << r.recordText();
    EXPECT_TRUE(logHas(r.log, L"ERROR: registering helper dll failed"));
    EXPECT_EQ(r.recorded("call|" + common + ".initFromLauncher|"), (std::vector<std::string>{"true", "false"}));
}

}  // namespace
}  // namespace vexlo::test
