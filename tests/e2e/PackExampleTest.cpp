// The example service packed by vexlo-pack.exe and started with "-run" against a stand-in runtime in the
// jre folder beside it: what the virtual machine is given comes from the example's vexlo.toml.
#include <gtest/gtest.h>

#include "StandinRuntimes.h"

namespace vexlo::test {
namespace {

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find(sep, start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    out.push_back(text.substr(start));
    return out;
}

std::string option(const std::vector<std::string>& records, const std::string& prefix) {
    for (const auto& r : records)
        if (r.rfind("option|" + prefix, 0) == 0) return r.substr(7 + prefix.size());
    return "<none>";
}

TEST(PackExampleE2E, PackedExampleRunsWithTheRuntimeJarExtractedOntoTheClassPath) {
    TempDir app(L"packapp");
    TempDir temp(L"packtmp");
    std::wstring example = L"Z:" + utf8ToWide(VEXLO_SOURCE_DIR "/examples/hello-service/vexlo.toml");
    RunOptions pack;
    pack.args = {L"build", example, L"-o", app.file(L"hello-service.exe")};
    // The tool embeds the runtime jar that lies beside it.
    std::optional<std::string> runtimeJar = readFileBytes(binDir() + L"\\vexlo-runtime.jar");
    ASSERT_TRUE(runtimeJar.has_value()) << "vexlo-runtime.jar is not built";
    RunResult packed = runProcess(binDir() + L"\\vexlo-pack.exe", pack);
    ASSERT_EQ(packed.exitCode, 0u) << packed.err;
    ASSERT_TRUE(writeFileBytes(app.file(L"hello-service.jar"), "PK application"));
    layOutRuntime(app.path() + L"\\jre");

    LaunchResult r = launchRun(app.file(L"hello-service.exe"), temp);
    forgetCachedRuntimes(app.path());
    ASSERT_FALSE(r.records.empty()) << wideToUtf8(r.log.text);

    std::string tempDir = option(r.records, "-Dvexlo.tempDir=");
    std::vector<std::string> classPath = split(option(r.records, "-Djava.class.path="), ';');
    ASSERT_EQ(classPath.size(), 2u) << option(r.records, "-Djava.class.path=");
    EXPECT_EQ(lowerAscii(classPath[0]), lowerAscii(tempDir + "\\vexlo-runtime.jar"));
    EXPECT_EQ(readFileBytes(utf8ToWide(tempDir + "\\vexlo-runtime.jar")), runtimeJar) << "extracted as embedded";
    EXPECT_EQ(lowerAscii(classPath[1]), lowerAscii(wideToUtf8(app.file(L"hello-service.jar"))));
    EXPECT_EQ(option(r.records, "-Xmx"), "64m");

    // Runtime arguments 0-4, the program path, then the configured arguments.
    std::vector<std::string> mainArgs;
    for (const auto& rec : r.records)
        if (rec.rfind("main-arg|", 0) == 0) mainArgs.push_back(rec.substr(9));
    ASSERT_GE(mainArgs.size(), 8u) << wideToUtf8(r.log.text);
    EXPECT_EQ(mainArgs[1], "com.example.hello.HelloService");
    EXPECT_EQ(std::vector<std::string>(mainArgs.begin() + 6, mainArgs.end()),
              (std::vector<std::string>{"--port", "8080"}));
}

}  // namespace
}  // namespace vexlo::test
