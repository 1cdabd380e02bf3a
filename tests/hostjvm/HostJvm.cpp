#include "HostJvm.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "TestText.h"

namespace vexlo::test {

std::wstring hostJvmDir() { return binDir() + L"\\hostjvm"; }
std::wstring hostJvmHome() { return hostJvmDir() + L"\\home"; }
std::wstring hostJvmApp(const std::wstring& name) { return hostJvmDir() + L"\\apps\\" + name + L".jar"; }

RunResult runHostJvm(const std::vector<std::wstring>& options, const std::wstring& mainClass,
                     const std::vector<std::wstring>& args, const std::string& stdinData, bool jniChecks) {
    RunOptions run;
    run.args.push_back(hostJvmHome() + L"\\bin\\server\\jvm.dll");
    for (const auto& option : options) run.args.push_back(L"-J" + option);
    if (jniChecks) run.args.push_back(L"--jni-checks");
    run.args.push_back(mainClass);
    run.args.insert(run.args.end(), args.begin(), args.end());
    run.stdinData = stdinData;
    run.timeoutMs = 60000;
    RunResult result = runProcess(binDir() + L"\\hostjvm_run.exe", run);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    return result;
}

std::string unixBinDir() { return VEXLO_BIN_DIR; }

std::string unixFormOf(const std::wstring& windowsPath) {
    std::string path = wideToUtf8(windowsPath);
    for (char& c : path)
        if (c == '\\') c = '/';
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') return path.substr(2);
    char prefix[4096];
    DWORD n = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (path.size() >= 2 && (path[0] == 'C' || path[0] == 'c') && path[1] == ':' && n > 0 && n < sizeof prefix)
        return std::string(prefix, n) + "/drive_c" + path.substr(2);
    ADD_FAILURE() << "no Unix form known for " << path;
    return path;
}

bool hasLine(const std::string& output, const std::string& line) {
    for (const auto& l : splitLines(output))
        if (l == line) return true;
    return false;
}

std::string lineValue(const std::string& output, const std::string& prefix) {
    for (const auto& l : splitLines(output))
        if (l.compare(0, prefix.size(), prefix) == 0) return l.substr(prefix.size());
    return {};
}

void reportTiming(const std::string& output) {
    std::string timing = lineValue(output, "timing: ");
    if (!timing.empty()) std::printf("[ timing   ] %s\n", timing.c_str());
}

}  // namespace vexlo::test
