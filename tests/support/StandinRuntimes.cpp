#include "StandinRuntimes.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "common/Handles.h"
#include "jvm/JavaProbe.h"
#include "TestText.h"
#include "config/ConfigIds.h"

namespace vexlo::test {

namespace {

bool createDirectories(const std::wstring& path) {
    size_t at = path.find(L'\\', 3);
    while (at != std::wstring::npos) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
        at = path.find(L'\\', at + 1);
    }
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

void copyStandin(const std::wstring& standinName, const std::wstring& target) {
    createDirectories(target.substr(0, target.find_last_of(L'\\')));
    const std::wstring source = binDir() + L"\\" + standinName;
    EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE))
        << wideToUtf8(source) << " -> " << wideToUtf8(target) << ": " << GetLastError();
}

void layOutRuntime(const std::wstring& home, const RuntimeLayout& layout) {
    ASSERT_TRUE(createDirectories(home)) << wideToUtf8(home);
    const std::wstring javaDir = home + L"\\" + layout.javaDir;
    copyStandin(L"standin_java.exe", javaDir + L"\\java.exe");
    // A fresh last-write time, so that no probe cache entry of an earlier test applies to this java.exe.
    unique_file java(CreateFileW((javaDir + L"\\java.exe").c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (java) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        SetFileTime(java.get(), nullptr, nullptr, &now);
    }
    ASSERT_TRUE(writeFileBytes(javaDir + L"\\version.txt", "java version \"" + layout.version + "\"\r\n"));
    for (const std::wstring& dir : layout.jvmDirs) {
        copyStandin(layout.exportsCreateJavaVM ? L"standin_jvm.dll" : L"standin_jvm_noexport.dll",
                    home + L"\\" + dir + L"\\jvm.dll");
    }
}

void forgetCachedRuntimes(const std::wstring& directory) {
    std::string prefix = lowerAscii(wideToUtf8(directory));
    for (char& c : prefix)
        if (c == '\\') c = '/';
    unique_hkey cache;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kJavaCacheKey, 0, KEY_READ | KEY_WRITE, cache.put()) != ERROR_SUCCESS) return;
    std::vector<std::string> doomed;
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(cache.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (std::string(name, size).rfind(prefix, 0) == 0) doomed.emplace_back(name, size);
    }
    for (const std::string& key : doomed) RegDeleteKeyA(cache.get(), key.c_str());
}

pack::Block searchBlock() {
    pack::Block block;
    block.set(ids::kServiceName, "vexlo-search-test");
    block.message(ids::kMsgNoJvmFound, "No Java {0}");
    block.message(ids::kMsgEnvJvmNotLoaded, "Variable runtime {0} not loaded");
    block.message(ids::kMsgDirectoryJvmNotLoaded, "Directory runtime {0} not loaded");
    block.message(ids::kMsgRegistryJvmNotLoaded, "Registry runtime not loaded");
    return block;
}

std::vector<std::map<std::string, std::string>> LaunchResult::loads() const {
    std::vector<std::map<std::string, std::string>> result;
    for (const std::string& line : records) {
        if (line.rfind("loaded|", 0) != 0) continue;
        std::map<std::string, std::string> fields;
        size_t start = 7;
        size_t bar = line.find('|', start);
        fields["dll"] = line.substr(start, bar - start);
        while (bar != std::string::npos) {
            start = bar + 1;
            bar = line.find('|', start);
            std::string field = line.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
            size_t eq = field.find('=');
            fields[field.substr(0, eq)] = eq == std::string::npos ? std::string() : field.substr(eq + 1);
        }
        result.push_back(fields);
    }
    return result;
}

std::vector<std::string> LaunchResult::recorded(const std::string& prefix) const {
    std::vector<std::string> result;
    for (const std::string& line : records)
        if (line.rfind(prefix, 0) == 0) result.push_back(line.substr(prefix.size()));
    return result;
}

std::string LaunchResult::recordText() const {
    std::string text;
    for (const std::string& line : records) text += line + "\n";
    return text;
}

RunOptions launchOptions(const TempDir& temp) {
    RunOptions options;
    options.args = {L"-run"};
    options.env = isolatedEnvironment(temp.path(), true);
    options.env[L"VEXLO_JAVA_HOME"] = std::nullopt;
    options.env[L"QUANDREL_JAVA_HOME"] = std::nullopt;
    options.env[L"VEXLO_STANDIN_JVM_RECORD"] = temp.file(L"jvm-record.txt");
    return options;
}

LaunchResult launch(const std::wstring& exe, const TempDir& temp, const RunOptions& options) {
    const std::wstring recordPath = temp.file(L"jvm-record.txt");
    LaunchResult result;
    result.run = runProcess(exe, options);
    EXPECT_TRUE(result.run.started) << wideToUtf8(exe);
    EXPECT_FALSE(result.run.timedOut);
    const std::wstring logPath = newestLog(temp.path());
    if (logPath.empty()) ADD_FAILURE() << "no log in " << wideToUtf8(temp.path());
    else result.log = readLog(logPath);
    if (auto bytes = readFileBytes(recordPath)) result.records = splitCrLfLines(*bytes);
    DeleteFileW(recordPath.c_str());
    return result;
}

LaunchResult launchRun(const std::wstring& exe, const TempDir& temp,
                       const std::map<std::wstring, std::optional<std::wstring>>& env) {
    RunOptions options = launchOptions(temp);
    for (const auto& [name, value] : env) options.env[name] = value;
    return launch(exe, temp, options);
}

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

bool startsWith(const std::wstring& text, const std::wstring& prefix) { return text.rfind(prefix, 0) == 0; }

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return lowerAscii(text).rfind(lowerAscii(prefix), 0) == 0;
}

int messageIndex(const LogContent& log, const std::wstring& prefix) {
    for (size_t i = 0; i < log.messages.size(); ++i) {
        if (startsWith(log.messages[i], prefix)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace vexlo::test
