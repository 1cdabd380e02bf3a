#include "launch/VmOptions.h"

#include <windows.h>

#include <io.h>
#include <share.h>

#include <algorithm>
#include <climits>

#include "common/Format.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "extract/IncludedFileName.h"
#include "jvm/JavaVersion.h"
#include "jvm/SelectedRuntime.h"
#include "paths/LauncherVariables.h"
#include "common/CommandLine.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/PathForms.h"

namespace vexlo {

namespace {

constexpr std::wstring_view kIncludePrefix = L"-include-options ";
constexpr std::wstring_view kClassPathPrefix = L"-classpath ";
constexpr std::wstring_view kClassPathFrontPrefix = L"-classpath/p ";
constexpr std::wstring_view kClassPathBackPrefix = L"-classpath/a ";
constexpr std::wstring_view kLocaleOption = L"-Dsun.locale.formatasdefault=";

// How many included files are being read right now, one inside the other.
int includeDepth = 0;

// One file whatever the spelling of its path (case, "." parts, short names, links): volume and file index.
struct FileIdentity {
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The files being read right now, outermost first, and the option lines read since the outermost began.
std::vector<FileIdentity> readingChain;
int optionLinesRead = 0;

bool isWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

unique_cfile openShared(const std::wstring& path) {
    // Opening a device can block for ever (a serial port waits for its line), so its name alone refuses it.
    if (isDeviceName(lastPathComponent<wchar_t>(path)) || path.starts_with(L"\\\\.\\")) {
        logError(L"refusing vmoptions file <%s>: a device", path.c_str());
        return unique_cfile();
    }
    return unique_cfile(_wfsopen(path.c_str(), L"rt", _SH_DENYNO));
}

// False for anything but a regular disk file: a console, a pipe or a device opened under another name.
bool regularFileIdentity(std::FILE* file, FileIdentity& identity) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

void includeOptionsFile(std::wstring_view baseFile, std::wstring path, OptionVector& options,
                        ClassPathOverrides& overrides) {
    const std::wstring written = path;
    expandLauncherVariables(path, launcherVariableValuesWide(selectedJavaHome(), false));
    logMessage(L"after exp from %s %s", path.c_str(), written.c_str());
    const std::wstring resolved = resolvePathWide(path, false, baseFile);
    if (includeDepth >= kMaxIncludeDepth) {
        logError(L"vmoptions includes nested deeper than %d, not reading <%s>", kMaxIncludeDepth, resolved.c_str());
        return;
    }
    unique_cfile file = openShared(resolved);
    logMessage(L"adding vmoptions from (%d) <%s> (%s)", file ? 1 : 0, resolved.c_str(), path.c_str());
    ++includeDepth;
    readVmOptionsFile(resolved, file.get(), options, overrides);
    --includeDepth;
    logMessage(L"adding vmoptions 2");
    logMessage(L"adding vmoptions 3");
}

// One line without its line feed; false at the end of the file, or on a read failure (the partial line is dropped).
bool readLine(std::FILE* file, std::string& line) {
    line.clear();
    int c;
    while ((c = std::getc(file)) != EOF) {
        if (c == '\n') return true;
        line += static_cast<char>(c);
    }
    return !line.empty() && std::ferror(file) == 0;
}

// The digits at the start (after blanks and a sign); empty or no digits give 0, too many saturate.
int leadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isWhiteSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) value = INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}

void addOptionString(const std::wstring& text, OptionVector& options, ClassPathOverrides& overrides) {
    std::vector<std::wstring> tokens;
    splitCommandLine(text, tokens);
    detail::addVmOptionTokens(tokens, options, overrides);
}

// The first rule whose key matches the chosen runtime's version, or -1.
int matchingVersionRule(int count, const std::string& version) {
    const int number = detail::versionRuleNumber(version);
    for (int i = 0; i < count; ++i) {
        std::string key = copyConfigString(ids::kVersionRuleKeyBase + 2 * i);
        bool matches = false;
        std::string shown = key;
        if (!key.empty() && key[0] == '*') {
            matches = detail::matchesWildcard(std::string_view(key).substr(1), version);
        } else if (size_t dash = key.find('-'); dash != std::string::npos) {
            int minimum = leadingNumber(std::string_view(key).substr(0, dash));
            int maximum = leadingNumber(std::string_view(key).substr(dash + 1));
            logMessage(L"checking min %d max %d with %d", minimum, maximum, number);
            matches = minimum <= number && number <= maximum;
            shown = key.substr(0, dash);
        } else {
            logError(L"expected dash");
        }
        logMessage(L"checking version %S %d", shown.c_str(), matches ? 1 : 0);
        if (matches) return i;
    }
    return -1;
}

// One option line: an include, a class path override or an option. `baseFile` (empty: none) is the file the
// line came from; relative includes resolve against its directory, else against the executable's.
void addVmOptionLine(std::wstring_view baseFile, const std::wstring& line, OptionVector& options,
                     ClassPathOverrides& overrides) {
    if (line.starts_with(kIncludePrefix)) {
        includeOptionsFile(baseFile, line.substr(kIncludePrefix.size()), options, overrides);
    } else if (line.starts_with(kClassPathPrefix)) {
        overrides.classPathReplacement = wideToAnsi(std::wstring_view(line).substr(kClassPathPrefix.size()));
    } else if (line.starts_with(kClassPathFrontPrefix)) {
        overrides.classPathPrefix = wideToAnsi(std::wstring_view(line).substr(kClassPathFrontPrefix.size()));
    } else if (line.starts_with(kClassPathBackPrefix)) {
        overrides.classPathSuffix = wideToAnsi(std::wstring_view(line).substr(kClassPathBackPrefix.size()));
    } else {
        options.push_back(wideToAnsi(line));
    }
}

}  // namespace

void detail::addVmOptionTokens(const std::vector<std::wstring>& tokens, OptionVector& options,
                               ClassPathOverrides& overrides) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i] == L"-include-options" && i + 1 < tokens.size()) {
            addVmOptionLine({}, tokens[i] + L" " + tokens[i + 1], options, overrides);
            ++i;
        } else {
            addVmOptionLine({}, tokens[i], options, overrides);
        }
    }
}

void readVmOptionsFile(std::wstring_view baseFile, std::FILE* file, OptionVector& options,
                       ClassPathOverrides& overrides) {
    if (file == nullptr) return;
    // Options files are user-edited: one that includes itself, directly or through others, is read once.
    FileIdentity identity;
    if (!regularFileIdentity(file, identity)) {
        logError(L"refusing vmoptions file <%s>: not a regular file", std::wstring(baseFile).c_str());
        return;
    }
    if (std::find(readingChain.begin(), readingChain.end(), identity) != readingChain.end()) {
        logError(L"vmoptions file <%s> is already being read: not reading it again", std::wstring(baseFile).c_str());
        return;
    }
    if (readingChain.empty()) optionLinesRead = 0;
    readingChain.push_back(identity);
    std::string line;
    while (readLine(file, line)) {
        // An option is handed on as a C string; whatever follows a NUL byte could never reach the runtime.
        if (size_t nul = line.find('\0'); nul != std::string::npos) {
            logError(L"vmoptions line cut at a NUL byte after %d bytes", static_cast<int>(nul));
            line.resize(nul);
        }
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        size_t first = 0;
        while (first < line.size() && isWhiteSpace(line[first])) ++first;
        size_t last = line.size();
        while (last > first && isWhiteSpace(line[last - 1])) --last;
        if (first == last || line[first] == '#') continue;
        if (++optionLinesRead > kMaxOptionLines) {
            if (optionLinesRead == kMaxOptionLines + 1)
                logError(L"vmoptions: more than %d lines with the files included, ignoring the rest", kMaxOptionLines);
            break;
        }
        std::wstring wide = widenBytes(std::string_view(line).substr(first, last - first));
        expandLauncherVariables(wide, launcherVariableValuesWide(selectedJavaHome(), true));
        addVmOptionLine(baseFile, wide, options, overrides);
    }
    readingChain.pop_back();
}

unique_cfile openDefaultVmOptionsFile() {
    // app.exe gives app.vmoptions first; whether the four characters cut are ".exe" does not matter.
    auto tryPair = [](const std::wstring& path) {
        unique_cfile file;
        std::wstring first = path.size() > 4 ? path.substr(0, path.size() - 4) + L".vmoptions" : std::wstring();
        if (!first.empty()) file = openShared(first);
        logMessage(L"vmoptions2: exe %s file: %s, file: %d", path.c_str(), first.c_str(), file ? 1 : 0);
        const std::wstring second = path + L".vmoptions";
        if (!file) file = openShared(second);
        logMessage(L"vmoptions: opts2: %s, file: %d", second.c_str(), file ? 1 : 0);
        return file;
    };
    unique_cfile file = tryPair(executablePathLong());
    if (file) return file;
    std::vector<wchar_t> module(kPathCapacity);
    DWORD n = GetModuleFileNameW(nullptr, module.data(), kPathCapacity);
    if (n == 0 || n >= kPathCapacity) return file;
    return tryPair(std::wstring(module.data(), n));
}

void addConfiguredVmOptions(const std::vector<std::wstring>& arguments, OptionVector& options,
                            ClassPathOverrides& overrides) {
    std::wstring configured;
    appendConfigWide(ids::kVmOptions, configured);
    expandLauncherVariables(configured, launcherVariableValuesWide(selectedJavaHome(), true));
    std::vector<std::wstring> tokens;
    splitCommandLine(configured, tokens);
    logMessage(L"adding options");
    detail::addVmOptionTokens(tokens, options, overrides);

    const int count = getConfigInt(ids::kVersionRuleCount);
    const std::string& version = selectedJavaVersion();
    if (count > 0) logMessage(L"check %d version specific vm option lines for %S", count, version.c_str());
    if (count > 0 && !version.empty()) {
        int rule = matchingVersionRule(count, version);
        if (rule >= 0) {
            std::wstring specific;
            appendConfigWide(ids::kVersionRuleOptionsBase + 2 * rule, specific);
            logMessage(L"adding specific %s", specific.c_str());
            expandLauncherVariables(specific, launcherVariableValuesWide(selectedJavaHome(), true));
            addOptionString(specific, options, overrides);
        }
    }

    const std::wstring* locale = nullptr;
    for (const std::wstring& argument : arguments) {
        if (argument.starts_with(kLocaleOption)) locale = &argument;
    }
    if (locale == nullptr) return;
    addVmOptionLine({}, *locale, options, overrides);
    if (*locale == std::wstring(kLocaleOption) + L"true") {
        if (!selectedLanguage().empty())
            addVmOptionLine({}, L"-Duser.language=" + widenBytes(selectedLanguage()), options, overrides);
        if (!selectedCountry().empty())
            addVmOptionLine({}, L"-Duser.country=" + widenBytes(selectedCountry()), options, overrides);
    }
}

void addCommandLineVmOptions(const std::vector<std::wstring>& arguments, OptionVector& options,
                             ClassPathOverrides& overrides) {
    for (const std::wstring& argument : arguments) {
        if (argument.starts_with(L"-J")) addVmOptionLine({}, argument.substr(2), options, overrides);
    }
}

bool detail::matchesWildcard(std::string_view pattern, std::string_view text) {
    // Backtracking to the last "*" only: later stars can only widen what an earlier one already tried.
    size_t p = 0, t = 0;
    size_t starPattern = std::string_view::npos, starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            while (p < pattern.size() && pattern[p] == '*') ++p;
            if (p == pattern.size()) return true;
            starPattern = p;
            starText = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

int detail::versionRuleNumber(std::string_view version) {
    VersionComponents components;
    parseVersion(version, components);
    if (components.empty()) return -1;
    if (components[0] == 1 && components.size() > 1) return components[1];
    return components[0];
}

}  // namespace vexlo
