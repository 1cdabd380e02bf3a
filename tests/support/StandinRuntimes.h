// Stand-in Java runtimes laid out on disk for the end-to-end tests of the runtime search and loading, and
// a "-run" launch that reads back the log and what the stand-in jvm.dll recorded.
#pragma once

#include "TestText.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace vexlo::test {

struct RuntimeLayout {
    std::string version = "17.0.2";
    std::wstring javaDir = L"bin";                         // where java.exe lies, relative to the home
    std::vector<std::wstring> jvmDirs = {L"bin\\server"};  // each gets a jvm.dll, relative to the home
    bool exportsCreateJavaVM = true;
};

// Creates home (and parents) with java.exe printing the version banner and the listed jvm.dll copies.
void layOutRuntime(const std::wstring& home, const RuntimeLayout& layout = {});
void copyStandin(const std::wstring& standinName, const std::wstring& target);

// Removes the probe cache entries of every runtime below the directory, so that tests leave the registry
// as they found it.
void forgetCachedRuntimes(const std::wstring& directory);

// A launcher block with the messages of the runtime search; console display (errors on standard error).
pack::Block searchBlock();

struct LaunchResult {
    RunResult run;
    LogContent log;
    std::vector<std::string> records;  // lines of the stand-in jvm.dll's record file
    // The "loaded|..." records split into their fields.
    std::vector<std::map<std::string, std::string>> loads() const;
    // The records that start with the prefix, the prefix removed.
    std::vector<std::string> recorded(const std::string& prefix) const;
    // Every record, one per line, for failure messages.
    std::string recordText() const;
};

// Options for a "-run" start: the log on, a private TEMP, no home variables, the stand-in's record file.
RunOptions launchOptions(const TempDir& temp);
// Starts exe with the options and reads back its log and the stand-in's record.
LaunchResult launch(const std::wstring& exe, const TempDir& temp, const RunOptions& options);
// Starts exe with "-run" and launchOptions, with the changes of `env` on top.
LaunchResult launchRun(const std::wstring& exe, const TempDir& temp,
                       const std::map<std::wstring, std::optional<std::wstring>>& env = {});

// Lower-cases A-Z, as the launcher's canonical paths are.
std::wstring lower(std::wstring text);
bool startsWith(const std::wstring& text, const std::wstring& prefix);
bool startsWithIgnoringCase(const std::string& text, const std::string& prefix);
// Index of the first log message starting with prefix, or -1.
int messageIndex(const LogContent& log, const std::wstring& prefix);

}  // namespace vexlo::test
