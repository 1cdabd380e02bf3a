// /check: the launch up to the virtual machine's creation, printed in the console, never creating it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StandinRuntimes.h"
#include "config/ConfigIds.h"
#include "TestSupport.h"
#include "TestText.h"

namespace vexlo::test {
namespace {

TEST(CheckE2E, ReportsTheRuntimeTheOptionsAndTheClassPathAndEndsWithTheVerdict) {
    TempDir dir{L"check"};
    const std::wstring home = dir.path() + L"\\rt";
    layOutRuntime(home);
    ASSERT_TRUE(writeFileBytes(dir.path() + L"\\app.jar", "jar"));
    struct Case {
        const char* tag;
        const char* minimum;    // id 126
        const char* classPath;  // id 121
        DWORD exitCode;
        std::vector<std::string> printed;  // in this order
        std::string lastLine;
    };
    const std::string rt = wideToUtf8(lower(home));
    const Case cases[] = {
        {"good",
         "",
         "A1app.jar;A0optional.jar",
         0,
         {"Runtimes tried:", "found Java 17.0.2 at " + rt + "\\bin\\java.exe", "Runtime chosen: " + rt, "(Java 17.0.2)",
          "Class path:", "[present] ", "app.jar (mandatory)", "[missing] ", "optional.jar",
          "Options of the virtual machine", "-Djava.class.path=", "Service 'vexlo-search-test': ",
          // What /install would apply: the password is only named, never asked for.
          "Service settings of this executable:", "  account: .\\runner", "  password from: %VEXLO_SERVICE_PASSWORD%",
          "  start: demand", "  stop time: 3000 ms", "  recovery: restart 500 ms, none; reset after 86400 s",
          "  environment: A=1", "  environment: B removed"},
         "Result: ready to create the virtual machine"},
        {"too old",
         "99",
         "A1app.jar",
         1,
         {"Runtimes tried:", "rejected: Java 17.0.2 at " + rt +
                                 "\\bin\\java.exe is outside the accepted versions "
                                 "(minimum 99, maximum none)"},
         "Result: no usable Java runtime was found"},
        {"missing jar",
         "",
         "A1app.jar;A1gone.jar",
         1,
         {"[present] ", "app.jar", "[missing] ", "gone.jar (mandatory)"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        pack::Block block = searchBlock();
        block.set(128, "A" + wideToUtf8(home));
        block.set(121, c.classPath);
        block.set(122, "app.Main");
        if (*c.minimum) block.set(126, c.minimum);
        block.set(ids::kServiceAccount, ".\\runner");
        block.set(ids::kServiceStopTimeout, "3000");
        block.set(ids::kServiceRecoveryActions, "restart:500,none");
        block.set(ids::kServiceEnvironment, "A=1\nB=");
        std::wstring exe = makeLauncher(dir.path(), L"check.exe", block);
        ASSERT_FALSE(exe.empty());
        RunOptions options = launchOptions(dir);
        options.args = {L"/check"};
        LaunchResult launched = launch(exe, dir, options);
        const RunResult& r = launched.run;
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        size_t at = 0;
        for (const std::string& part : c.printed) {
            size_t found = r.out.find(part, at);
            ASSERT_NE(found, std::string::npos) << "'" << part << "' after offset " << at << " in\n" << r.out;
            at = found + part.size();
        }
        std::vector<std::string> lines = splitCrLfLines(r.out);
        ASSERT_FALSE(lines.empty());
        std::string last = !c.lastLine.empty()
                               ? c.lastLine
                               : "Result: the mandatory entry " + wideToUtf8(dir.path()) + "\\gone.jar is missing";
        EXPECT_TRUE(sameIgnoringCase(utf8ToWide(lines.back()), utf8ToWide(last))) << lines.back();
        EXPECT_TRUE(launched.recorded("JNI_CreateJavaVM").empty()) << "the virtual machine was created";
    }
    forgetCachedRuntimes(home);
}

}  // namespace
}  // namespace vexlo::test
