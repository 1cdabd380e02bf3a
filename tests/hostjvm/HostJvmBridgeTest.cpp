// The bridge on its own: hostjvm_run.exe loads bin\hostjvm\home\bin\server\jvm.dll the way the launcher
// does and runs the probe application on the host's HotSpot.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "HostJvm.h"
#include "TestSupport.h"

namespace vexlo::test {
namespace {

std::string extraJar() { return unixBinDir() + "/hostjvm/apps/extra.jar"; }

TEST(HostJvmBridge, RunsMainWithWindowsClassPathArgumentsAndHeapLimit) {
    TempDir dir(L"hostjvm Grüße");
    std::wstring jars = dir.subdir(L"app jars");
    ASSERT_TRUE(CopyFileW(hostJvmApp(L"probe").c_str(), (jars + L"\\probe.jar").c_str(), FALSE));
    std::wstring classPath = dir.file(L"missing") + L";" + jars + L"\\probe.jar;" + hostJvmApp(L"extra");

    RunResult run = runHostJvm({L"-Djava.class.path=" + classPath, L"-Xmx96m"}, L"hostjvm/probe/Probe",
                               {L"Grüße", L"日本語", L"with space", L"--maxmem", L"--load=hostjvm.extra.Extra",
                                L"--prop=java.class.path"});
    reportTiming(run.out);
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(hasLine(run.out, "arg[0]=Grüße")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "arg[1]=日本語"));
    EXPECT_TRUE(hasLine(run.out, "arg[2]=with space"));
    long long maxMemory = std::stoll("0" + lineValue(run.out, "maxMemory="));
    EXPECT_GT(maxMemory, 48LL << 20);
    EXPECT_LE(maxMemory, 96LL << 20);
    EXPECT_TRUE(hasLine(run.out, "loaded hostjvm.extra.Extra: jar:file:" + extraJar() + "!/hostjvm/extra/Extra.class"))
        << run.out;
    // The class path reaches Java in Unix form, the folder named in the ANSI code page included.
    EXPECT_EQ(lineValue(run.out, "prop java.class.path="),
              unixFormOf(dir.file(L"missing")) + ":" + unixFormOf(jars + L"\\probe.jar") + ":" + extraJar());
    // DestroyJavaVM waited for the non-daemon worker, which ends after main.
    size_t mainEnd = run.out.find("main: returns"), worker = run.out.find("worker: done");
    ASSERT_NE(worker, std::string::npos) << run.out;
    EXPECT_LT(mainEnd, worker);
}

TEST(HostJvmBridge, EndsWithTheCodeTheProgramOrTheVirtualMachineGives) {
    struct Case {
        const char* what;
        std::vector<std::wstring> options;
        std::vector<std::wstring> args;
        DWORD exitCode;
        const char* inOut;
        const char* inErr;
    };
    const Case cases[] = {
        {"System.exit from a worker thread", {}, {L"--exit=7"}, 7, "worker: done", nullptr},
        {"exception out of main",
         {},
         {L"--throw"},
         1,
         "main: returns",
         "java.lang.IllegalStateException: probe failed on purpose"},
        {"malformed heap size", {L"-Xmxabc"}, {}, 4, nullptr, "Invalid maximum heap size: -Xmxabc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::wstring> options = c.options;
        options.push_back(L"-Djava.class.path=" + hostJvmApp(L"probe"));
        RunResult run = runHostJvm(options, L"hostjvm/probe/Probe", c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        if (c.inOut) {
            EXPECT_NE(run.out.find(c.inOut), std::string::npos) << run.out;
        }
        if (c.inErr) {
            EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
        }
    }
}

TEST(HostJvmBridge, RelaysStandardInputFromAWindowsPipe) {
    RunResult run = runHostJvm({L"-Djava.class.path=" + hostJvmApp(L"probe")}, L"hostjvm/probe/Probe", {L"--read"},
                               "Grüße, line one\nline two\n");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(hasLine(run.out, "read: [Grüße, line one]")) << run.out;
}

// Java here runs on Linux: paths reach it in Unix form. Path lists are always translated; single
// absolute paths in -D values and in strings made with NewString only unless the options ask to keep them.
TEST(HostJvmBridge, TranslatesWindowsPathsUnlessAskedToKeepThem) {
    TempDir dir(L"hostjvm paths");
    std::wstring future = dir.file(L"not yet\\out.log");  // its folder does not exist
    std::string unixDir = unixFormOf(dir.path());
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "keeping Windows paths" : "translating");
        std::vector<std::wstring> options = {
            L"-Djava.class.path=" + hostJvmApp(L"probe"),
            L"-Xbootclasspath/a:" + hostJvmApp(L"extra"),
            L"-Djava.library.path=C:\\windows;" + dir.path(),
            L"-Dprobe.file=" + future,
            L"-Dprobe.text=C: is not a path",
        };
        if (keep) options.push_back(L"-Dhostjvm.keepWindowsPaths=true");
        RunResult run = runHostJvm(options, L"hostjvm/probe/Probe",
                                   {dir.path(), L"--prop=java.library.path", L"--prop=probe.file", L"--prop=probe.text",
                                    L"--load=hostjvm.extra.Extra"});
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_EQ(lineValue(run.out, "prop java.library.path="), unixFormOf(L"C:\\windows") + ":" + unixDir);
        EXPECT_EQ(lineValue(run.out, "prop probe.text="), "C: is not a path");
        EXPECT_TRUE(
            hasLine(run.out, "loaded hostjvm.extra.Extra: jar:file:" + extraJar() + "!/hostjvm/extra/Extra.class"));
        if (keep) {
            EXPECT_EQ(lineValue(run.out, "prop probe.file="), wideToUtf8(future));
            EXPECT_EQ(lineValue(run.out, "arg[0]="), wideToUtf8(dir.path()));
        } else {
            EXPECT_EQ(lineValue(run.out, "prop probe.file="), unixDir + "/not yet/out.log");
            EXPECT_EQ(lineValue(run.out, "arg[0]="), unixDir);
        }
    }
}

TEST(HostJvmBridge, RunsTheMainClassOfANamedModule) {
    RunResult run = runHostJvm({L"--module-path=" + hostJvmApp(L"module"), L"--add-modules=hostjvm.mod"},
                               L"hostjvm/mod/ModuleMain", {L"ü"});
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_TRUE(hasLine(run.out, "module: hostjvm.mod")) << run.out;
    EXPECT_TRUE(hasLine(run.out, "arg[0]=ü"));
}

TEST(HostJvmBridge, GivesWindowsCallersWorkingJniTables) {
    RunResult run = runHostJvm({L"-Djava.class.path=" + hostJvmApp(L"probe")}, L"hostjvm/probe/Probe", {}, {}, true);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.err.find("FAILED"), std::string::npos) << run.err;
    size_t checks = 0;
    for (size_t at = run.err.find("check "); at != std::string::npos; at = run.err.find("check ", at + 1)) ++checks;
    EXPECT_EQ(checks, 14u) << run.err;
}

}  // namespace
}  // namespace vexlo::test
