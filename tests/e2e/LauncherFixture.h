// A launcher copy in its own directory, started with its own temporary directory and no inherited log switch.
#pragma once

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace vexlo::e2e {

inline const std::vector<std::wstring> kFatalBlockTexts = {
    L"Internal Error: readInt",    L"Internal Error: readLong",    L"Internal Error: readShort",
    L"Internal Error: readString", L"Internal Error: readWString", L"Internal Error: magic",
    L"Error opening media file.",
};

class LauncherFixture : public ::testing::Test {
protected:
    test::TempDir appDir{L"app"};
    test::TempDir tempDir{L"tmp"};

    std::wstring launcher(const pack::Block& block, const std::wstring& name = L"app.exe") {
        return test::makeLauncher(appDir.path(), name, block);
    }

    test::RunOptions options(std::vector<std::wstring> args, bool logOn = false) {
        test::RunOptions o;
        o.args = std::move(args);
        o.env = test::isolatedEnvironment(tempDir.path(), logOn);
        // No runtime may be found through the home variables of the machine running the tests.
        o.env[L"VEXLO_JAVA_HOME"] = std::nullopt;
        o.env[L"QUANDREL_JAVA_HOME"] = std::nullopt;
        o.closeMessageBoxes = true;
        return o;
    }

    test::RunResult run(const std::wstring& exe, std::vector<std::wstring> args, bool logOn = false) {
        return test::runProcess(exe, options(std::move(args), logOn));
    }

    // The one log file the run wrote into the private temporary directory.
    test::LogContent onlyLog() {
        auto files = test::logFiles(tempDir.path());
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? test::LogContent() : test::readLog(files.back());
    }
};

inline std::string show(const test::RunResult& r) {
    if (!r.started) return "not started (error " + std::to_string(r.startError) + ")";
    std::string text = "exit " + std::to_string(r.exitCode) + (r.timedOut ? " (timed out)" : "") +
                       "\nstdout: " + r.out + "\nstderr: " + r.err;
    for (const auto& box : r.boxes) text += "\nbox [" + test::wideToUtf8(box.title) + "] " + test::wideToUtf8(box.text);
    return text;
}

}  // namespace vexlo::e2e
