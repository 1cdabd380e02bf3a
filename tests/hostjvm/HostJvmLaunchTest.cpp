// The launcher end to end on a real virtual machine: vexlo.exe finds the host runtime home, creates HotSpot
// through the bridge and calls com.vexlo.runtime.WinLauncher from vexlo-runtime.jar, which starts the probe.
// Where Java must open a path the launcher produced (redirection files, vexlo.moduleName), the bridge has
// translated it to Unix form; exact Windows strings are the stand-in VM's tests' business.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "HostJvm.h"
#include "StandinRuntimes.h"
#include "config/ConfigIds.h"

namespace vexlo::test {
namespace {

std::string utf8(const std::wstring& text) { return wideToUtf8(text); }

bool hasArgument(const std::string& output, const std::string& value) {
    for (size_t i = 0; i < 32; ++i)
        if (hasLine(output, "arg[" + std::to_string(i) + "]=" + value)) return true;
    return false;
}

class HostJvmLaunch : public ::testing::Test {
protected:
    TempDir app_{L"hostapp"};
    TempDir temp_{L"hosttmp"};

    void TearDown() override { forgetCachedRuntimes(hostJvmHome()); }

    static std::wstring runtimeJar() { return binDir() + L"\\vexlo-runtime.jar"; }

    // The host home as the only search entry, and the probe as the application.
    static pack::Block probeBlock() {
        pack::Block block = searchBlock();
        block.set(ids::kSearchSequence, "A" + utf8(hostJvmHome()));
        block.set(ids::kClassPath, "A1" + utf8(runtimeJar()) + ";A1" + utf8(hostJvmApp(L"probe")));
        block.set(ids::kMainClass, "hostjvm.probe.Probe");
        return block;
    }

    LaunchResult run(const pack::Block& block, const std::vector<std::wstring>& args, const wchar_t* name = L"app.exe",
                     const std::string& stdinData = {}, DWORD stdinDelayMs = 0) {
        RunOptions options = launchOptions(temp_);
        options.args.insert(options.args.end(), args.begin(), args.end());
        options.stdinData = stdinData;
        options.stdinDelayMs = stdinDelayMs;
        options.timeoutMs = 60000;
        return launch(makeLauncher(app_.path(), name, block), temp_, options);
    }

    static std::string logText(const LaunchResult& r) { return utf8(r.log.text); }
};

TEST_F(HostJvmLaunch, RunsTheApplicationWithTheOptionsAndPropertiesTheLauncherAssembled) {
    pack::Block block = probeBlock();
    block.set(ids::kVmOptions, "-Xmx80m -Dfrom.config=yes");
    block.set(ids::kVersionRuleCount, "2");
    block.set(ids::kVersionRuleKeyBase, "8-11");
    block.set(ids::kVersionRuleOptionsBase, "-Dfrom.rule=old");
    block.set(10203, "17-99");  // the host JDK is 17
    block.set(10204, "-Dfrom.rule=17");
    block.set(ids::kReadDefaultVmOptionsFile, "1");
    ASSERT_TRUE(writeFileBytes(app_.file(L"app.vmoptions"),
                               "-Dfrom.file=vmoptions\r\n-classpath/a " + utf8(hostJvmApp(L"extra")) + "\r\n"));

    LaunchResult r = run(block, {L"Grüße", L"日本語", L"--maxmem", L"--prop=vexlo.isService",
                                 L"--prop=vexlo.moduleName", L"--prop=vexlo.tempDir", L"--prop=from.config",
                                 L"--prop=from.file", L"--prop=from.rule", L"--load=hostjvm.extra.Extra"});
    reportTiming(r.run.out);
    ASSERT_EQ(r.run.exitCode, 0u) << r.run.out << r.run.err << logText(r);
    EXPECT_TRUE(hasArgument(r.run.out, "Grüße")) << r.run.out;
    EXPECT_TRUE(hasArgument(r.run.out, "日本語"));
    EXPECT_TRUE(hasLine(r.run.out, "prop vexlo.isService=null"));
    // Set by the launcher through System.setProperty with a NewString the bridge translates.
    EXPECT_EQ(lineValue(r.run.out, "prop vexlo.moduleName="), unixFormOf(app_.file(L"app.exe")));
    EXPECT_TRUE(hasLine(r.run.out, "prop vexlo.tempDir="));  // nothing extracted, no launcher directory
    EXPECT_TRUE(hasLine(r.run.out, "prop from.config=yes"));
    EXPECT_TRUE(hasLine(r.run.out, "prop from.file=vmoptions"));
    EXPECT_TRUE(hasLine(r.run.out, "prop from.rule=17"));
    long long maxMemory = std::stoll("0" + lineValue(r.run.out, "maxMemory="));
    EXPECT_GT(maxMemory, 40LL << 20);
    EXPECT_LE(maxMemory, 80LL << 20);
    // The class path suffix of the VM options file.
    EXPECT_TRUE(hasLine(r.run.out, "loaded hostjvm.extra.Extra: jar:file:" + unixBinDir() +
                                       "/hostjvm/apps/extra.jar!/hostjvm/extra/Extra.class"));
    // DestroyJavaVM waited for the worker, which ends after main.
    size_t mainEnd = r.run.out.find("main: returns"), worker = r.run.out.find("worker: done");
    ASSERT_NE(worker, std::string::npos) << r.run.out;
    EXPECT_LT(mainEnd, worker);
    EXPECT_TRUE(logHas(r.log, L"dest JVM"));
    EXPECT_TRUE(logHas(r.log, L"launch done"));
}

TEST_F(HostJvmLaunch, ExitCodeAndLogFollowTheApplicationAndTheVirtualMachine) {
    struct Case {
        const char* what;
        const char* vmOptions;
        std::wstring arg;
        DWORD exitCode;
        const char* inLog;
    };
    const Case cases[] = {
        {"exception from main", nullptr, L"--throw", 1, "java.lang.IllegalStateException: probe failed on purpose"},
        {"System.exit(7)", nullptr, L"--exit=7", 7, "dest JVM"},
        {"malformed option", "-Xmxabc", L"--maxmem", 1, "could not initialize JVM"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pack::Block block = probeBlock();
        if (c.vmOptions) block.set(ids::kVmOptions, c.vmOptions);
        LaunchResult r = run(block, {c.arg}, (L"app" + std::to_wstring(++n) + L".exe").c_str());
        EXPECT_EQ(r.run.exitCode, c.exitCode) << r.run.out << r.run.err;
        EXPECT_NE(logText(r).find(c.inLog), std::string::npos) << logText(r);
    }
}

// The service's child: the restart marker, the runtime's output redirection to files the launcher names
// in Windows form, and the stop line on standard input ending the program with its status.
TEST_F(HostJvmLaunch, ServiceChildRedirectsOutputAndStopsOnTheStopLine) {
    pack::Block block = probeBlock();
    block.set(ids::kUseRuntimeArgument2, "1");
    block.set(ids::kRuntimeArgument2Path, utf8(temp_.file(L"out.log")));
    block.set(ids::kUseRuntimeArgument3, "1");
    block.set(ids::kRuntimeArgument3Path, utf8(temp_.file(L"logs\\err.log")));  // the runtime creates the folder
    LaunchResult r = run(block,
                         {L"--prop=vexlo.isService", L"--sysout=to the output file ü", L"--syserr=to the error file",
                          L"--work=30000", L"__qdr_restart"},
                         L"app.exe", "5\n", 3000);
    EXPECT_EQ(r.run.exitCode, 5u) << r.run.out << r.run.err << logText(r);
    EXPECT_TRUE(hasLine(r.run.out, "prop vexlo.isService=true")) << r.run.out;
    EXPECT_EQ(r.run.out.find("worker: done"), std::string::npos);
    auto out = readFileBytes(temp_.file(L"out.log"));
    auto err = readFileBytes(temp_.file(L"logs\\err.log"));
    ASSERT_TRUE(out && err);
    EXPECT_NE(out->find("to the output file ü"), std::string::npos) << *out;
    EXPECT_NE(err->find("to the error file"), std::string::npos) << *err;
}

// The stop time reaches the Java side: a shutdown hook that never ends is cut off by the halt after it (3 s),
// and the child ends with 1, which the service reports as a forced stop.
TEST_F(HostJvmLaunch, AHangingShutdownHookIsHaltedAfterTheStopTime) {
    pack::Block block = probeBlock();
    block.set(30104, "3000");
    ULONGLONG begin = GetTickCount64();
    LaunchResult r = run(block, {L"--hang-hook", L"--work=60000", L"__qdr_restart"}, L"app.exe", "0\n", 2000);
    ULONGLONG took = GetTickCount64() - begin;
    EXPECT_EQ(r.run.exitCode, 1u) << r.run.out << r.run.err << logText(r);
    EXPECT_TRUE(hasLine(r.run.out, "hook: hangs")) << r.run.out;
    EXPECT_NE(r.run.err.find("within 3 s"), std::string::npos) << r.run.err;
    EXPECT_LT(took, 2000u + 3000u + 5000u + 10000u) << "start-up, the stop line's delay, the stop time, a margin";
}

// The service's child with a misspelt main class: the reason, and a warning the virtual machine prints
// itself, reach its original standard error (the pipe the service drains into its log); the stack stays in the
// redirected file.
TEST_F(HostJvmLaunch, ServiceChildTellsWhyOnItsOriginalStandardError) {
    pack::Block block = probeBlock();
    block.set(122, "hostjvm.probe.Misspelt");
    block.set(123, "-XX:+UseBiasedLocking");
    block.set(102, "1");
    block.set(103, utf8(temp_.file(L"out.log")));
    block.set(104, "1");
    block.set(105, utf8(temp_.file(L"err.log")));
    // The stop line is there at once: the failure is reported before anything listens for it.
    LaunchResult r = run(block, {L"__qdr_restart"}, L"app.exe", "0\n");
    EXPECT_EQ(r.run.exitCode, 1u) << r.run.out << r.run.err << logText(r);
    EXPECT_NE(r.run.err.find("vexlo: could not start hostjvm.probe.Misspelt: java.lang.ClassNotFoundException: "
                             "hostjvm.probe.Misspelt"),
              std::string::npos)
        << r.run.err;
    EXPECT_NE(r.run.err.find("UseBiasedLocking was deprecated"), std::string::npos) << r.run.err;
    EXPECT_NE(readFileBytes(temp_.file(L"err.log")).value_or("").find("\tat "), std::string::npos);
}

// 5 MB through the runtime's rotating output at 1 MB and three old files: four files, the newest lines in
// the current one, every line of them once and in order.
TEST_F(HostJvmLaunch, RedirectedOutputRotatesBySizeAndLosesNoLine) {
    pack::Block block = probeBlock();
    block.set(102, "1");
    block.set(103, utf8(temp_.file(L"out.log")));
    block.set(30200, "size").set(30201, std::to_string(1 << 20)).set(30202, "3");
    constexpr int kLines = 5 * (1 << 20) / 100;
    RunOptions options = launchOptions(temp_);
    options.args = {L"-run-redirect", L"--syslines=" + std::to_wstring(kLines), L"--work=0"};
    options.timeoutMs = 60000;
    LaunchResult r = launch(makeLauncher(app_.path(), L"app.exe", block), temp_, options);
    ASSERT_EQ(r.run.exitCode, 0u) << r.run.out << r.run.err << logText(r);
    std::vector<std::string> lines;
    for (const wchar_t* name : {L"out.3.log", L"out.2.log", L"out.1.log", L"out.log"}) {
        auto bytes = readFileBytes(temp_.file(name));
        ASSERT_TRUE(bytes) << utf8(name);
        EXPECT_LE(bytes->size(), 1u << 20) << utf8(name);
        for (size_t at = 0; at < bytes->size();) {
            size_t end = bytes->find('\n', at);
            lines.push_back(bytes->substr(at, end - at));
            at = end == std::string::npos ? bytes->size() : end + 1;
        }
    }
    EXPECT_FALSE(fileExists(temp_.file(L"out.4.log")));
    ASSERT_GT(lines.size(), 3u * ((1u << 20) / 100));
    const int first = kLines - static_cast<int>(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        char expected[32];
        snprintf(expected, sizeof expected, "line %07d ", first + static_cast<int>(i));
        ASSERT_EQ(lines[i].rfind(expected, 0), 0u) << i << ": " << lines[i].substr(0, 20);
    }
}

TEST_F(HostJvmLaunch, RunsTheMainClassOfANamedModule) {
    pack::Block block = searchBlock();
    block.set(ids::kSearchSequence, "A" + utf8(hostJvmHome()));
    block.set(ids::kModulePath, "A1" + utf8(hostJvmApp(L"module")) + ";A1" + utf8(runtimeJar()));
    block.set(ids::kModuleMode, "1");
    block.set(ids::kMainClass, "hostjvm.mod/hostjvm.mod.ModuleMain");
    LaunchResult r = run(block, {L"ü"});
    ASSERT_EQ(r.run.exitCode, 0u) << r.run.out << r.run.err << logText(r);
    EXPECT_TRUE(hasLine(r.run.out, "module: hostjvm.mod")) << r.run.out;
    EXPECT_TRUE(hasArgument(r.run.out, "ü"));
}

}  // namespace
}  // namespace vexlo::test
