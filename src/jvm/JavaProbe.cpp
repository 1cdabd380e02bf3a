#include "jvm/JavaProbe.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/Buffers.h"
#include "common/ChildProcess.h"
#include "common/Environment.h"
#include "common/Handles.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "log/Log.h"
#include "paths/PathForms.h"

namespace vexlo {

std::vector<std::string> nonWorkingJavas;

namespace {

constexpr DWORD kCommandCapacity = kPathCapacity;
constexpr DWORD kShortPathCapacity = kPathCapacity - 20;
constexpr DWORD kCachedVersionCapacity = kPathCapacity;
constexpr char kVersionMarker[] = " version \"";

// The Java option variables would change what -version prints, or make it fail; the child runs without them.
// Takes the Java option variables away for its lifetime and puts back every one it took.
class JavaOptionsAway {
public:
    JavaOptionsAway() {
        for (const char* name : kJavaOptionVariables) saved_.push_back({name, detail::takeEnvironmentVariable(name)});
    }
    ~JavaOptionsAway() {
        for (const auto& [name, value] : saved_) {
            if (value) SetEnvironmentVariableA(name, value->c_str());
        }
    }
    JavaOptionsAway(const JavaOptionsAway&) = delete;
    JavaOptionsAway& operator=(const JavaOptionsAway&) = delete;

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// The command line as CreateProcessA would have widened it.
std::wstring widenAnsi(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

bool isUntrustedCachedVersion(const std::string& version) {
    return version == "1.7." || version == "1.6." || version == "1.5.";
}

// The text between the quotes of the last banner line of the form ... version "x" ...
bool extractVersion(const std::string& output, std::string& version) {
    bool matched = false;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string_view line(output.data() + start, end - start);
        std::size_t at = line.find(kVersionMarker);
        if (at != std::string_view::npos) {
            std::string_view rest = line.substr(at + std::strlen(kVersionMarker));
            std::size_t quote = rest.find('"');
            if (quote != std::string_view::npos) {
                version.assign(rest.substr(0, quote));
            } else {
                version.assign(rest.substr(0, rest.size() >= 2 ? rest.size() - 2 : 0));
            }
            logMessage(L"Java version2: %S", version.c_str());
            matched = true;
        }
        start = end + 1;
    }
    return matched;
}

}  // namespace

std::string detail::javaCacheKeyName(std::string_view canonicalPath) {
    std::string name(kJavaCacheKey);
    name.append(canonicalPath);
    std::replace(name.begin() + static_cast<std::ptrdiff_t>(std::strlen(kJavaCacheKey)), name.end(), '\\', '/');
    return name;
}

bool detail::readCachedVersion(const std::string& canonicalPath, unsigned long long lastWriteTime, std::string& version,
                               DWORD& machine) {
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, detail::javaCacheKeyName(canonicalPath).c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool valid = true;
    machine = 0;

    std::uint8_t stored[8] = {};
    DWORD size = sizeof stored;
    if (RegQueryValueExA(key.get(), "LastWriteTime", nullptr, nullptr, stored, &size) != ERROR_SUCCESS ||
        size != sizeof stored || std::memcmp(stored, &lastWriteTime, sizeof stored) != 0) {
        valid = false;
    }

    std::string text;
    std::vector<char> buffer(kCachedVersionCapacity);
    size = kCachedVersionCapacity;
    if (RegQueryValueExA(key.get(), "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS) {
        valid = false;
    } else if (size > 0) {
        // A value without terminator that fills the whole buffer may have been cut: not trusted.
        if (buffer[size - 1] != '\0' && size >= kCachedVersionCapacity) valid = false;
        text.assign(buffer.data(), size);
        text.resize(std::strlen(text.c_str()));
    }

    size = sizeof machine;
    if (RegQueryValueExA(key.get(), "Machine", nullptr, nullptr, reinterpret_cast<BYTE*>(&machine), &size) !=
            ERROR_SUCCESS ||
        size != sizeof machine) {
        valid = false;
    }

    if (isUntrustedCachedVersion(text)) valid = false;
    version = text;
    return valid;
}

void detail::writeCachedVersion(const std::string& canonicalPath, unsigned long long lastWriteTime,
                                std::string_view version, DWORD machine) {
    unique_hkey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, detail::javaCacheKeyName(canonicalPath).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    std::uint8_t stamp[8];
    std::memcpy(stamp, &lastWriteTime, sizeof stamp);
    RegSetValueExA(key.get(), "LastWriteTime", 0, REG_BINARY, stamp, sizeof stamp);
    RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.data()),
                   static_cast<DWORD>(version.size()));
    RegSetValueExA(key.get(), "Machine", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&machine), sizeof machine);
}

std::optional<std::string> detail::takeEnvironmentVariable(const char* name) {
    std::optional<std::string> value = environmentValue(name);
    if (!value) return std::nullopt;
    logMessage(L"%S is %S", name, value->c_str());
    SetEnvironmentVariableA(name, nullptr);
    return value;
}

bool detail::runJavaVersion(const std::string& canonicalPath, unsigned long long lastWriteTime, std::string& version,
                            DWORD timeoutMs) {
    std::string command(kCommandCapacity, '\0');
    command[0] = '"';
    DWORD shortLength = GetShortPathNameA(canonicalPath.c_str(), command.data() + 1, kShortPathCapacity);
    if (shortLength == 0 || shortLength >= kShortPathCapacity) {
        logMessage(L"Could not get short path name for %S", canonicalPath.c_str());
        command.resize(1);
        command += canonicalPath;
    } else {
        command.resize(1 + shortLength);
    }
    command += "\" -version";
    if (command.size() >= kCommandCapacity) command.resize(kCommandCapacity - 1);

    JavaOptionsAway optionsAway;

    ChildProcessRequest request;
    request.commandLine = widenAnsi(command);
    request.captureOutput = false;  // the banner goes to standard error
    request.creationFlags = NORMAL_PRIORITY_CLASS;
    request.hideWindow = true;
    // The limit covers the reading too: a runtime that hangs with its standard error open must not hang
    // the launcher.
    request.timeoutMs = timeoutMs;
    ChildProcessResult child = runChildProcess(request);
    switch (child.status) {
        case ChildProcessStatus::PipeFailed:
            logMessage(L"CreatePipe error (%d)", static_cast<int>(child.error));
            return false;
        case ChildProcessStatus::InheritFailed:
            logMessage(L"SetHandleInformation error (%d)", static_cast<int>(child.error));
            return false;
        case ChildProcessStatus::StartFailed:
            logMessage(L"Could not create process %S (error %d)", command.c_str(), static_cast<int>(child.error));
            return false;
        case ChildProcessStatus::Finished:
        case ChildProcessStatus::TimedOut: break;
    }
    logMessage(L"Exit Code %d", static_cast<int>(child.exitCode));
    if (child.status == ChildProcessStatus::TimedOut) {
        logMessage(L"Terminating process");
        return false;
    }
    if (child.exitCode != 0) {
        detail::writeCachedVersion(canonicalPath, lastWriteTime, kFailedRunVersion, kMachineX64);
        return false;
    }
    return extractVersion(child.output, version);
}

DWORD detail::readPeMachine(const std::string& path) {
    unique_cfile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        logMessage(L"could not open %S %d %p", path.c_str(), errno, static_cast<void*>(nullptr));
        return 0;
    }
    std::uint8_t mz[2];
    if (std::fread(mz, 1, 2, file.get()) != 2 || mz[0] != 0x4D || mz[1] != 0x5A) {
        logMessage(L"no PE32 file %S", path.c_str());
        return 0;
    }
    if (std::fseek(file.get(), 0x3C, SEEK_SET) != 0) {
        logMessage(L"no PE32 file 2 %S", path.c_str());
        return 0;
    }
    std::uint8_t offset[4];
    if (std::fread(offset, 1, 4, file.get()) != 4) {
        logMessage(L"no PE32 file 3 %S", path.c_str());
        return 0;
    }
    std::uint32_t headerOffset = offset[0] | (offset[1] << 8) | (offset[2] << 16) | (std::uint32_t{offset[3]} << 24);
    if (_fseeki64(file.get(), static_cast<long long>(headerOffset), SEEK_SET) != 0) {
        logMessage(L"no PE32 file 4 %S", path.c_str());
        return 0;
    }
    std::uint8_t signature[4];
    if (std::fread(signature, 1, 4, file.get()) != 4 || std::memcmp(signature, "PE\0\0", 4) != 0) {
        logMessage(L"no PE32 file 5 %S", path.c_str());
        return 0;
    }
    std::uint8_t machine[2];
    if (std::fread(machine, 1, 2, file.get()) != 2) {
        logMessage(L"no PE32 file 6 %S", path.c_str());
        return 0;
    }
    return static_cast<DWORD>(machine[0] | (machine[1] << 8));
}

bool locateJavaExe(std::string& javaExe, std::string_view home) {
    javaExe.assign(home);
    javaExe += "\\jre\\bin\\java.exe";
    if (getConfigInt(ids::kRequireJdk) != 0) {
        std::string tools(home);
        tools += "\\lib\\tools.jar";
        return pathExists(tools);
    }
    if (!pathExists(javaExe)) {
        javaExe.assign(home);
        javaExe += "\\bin\\java.exe";
    }
    return true;
}

bool addNonWorkingJava(const std::string& path) {
    logMessage(L"add non-working java %S", path.c_str());
    nonWorkingJavas.push_back(path);
    return nonWorkingJavas.size() < kNonWorkingJavaLimit;
}

bool checkJavaExe(Runtime& candidate, const VersionBounds& bounds, bool allowBeta, DWORD versionTimeoutMs) {
    std::string& path = candidate.javaExe;
    std::string& version = candidate.version;
    logMessage(L"checkJavaExe (%S, [out], %d, %d, %d)", path.c_str(), static_cast<int>(bounds.minimum.size()),
               static_cast<int>(bounds.maximum.size()), allowBeta ? 1 : 0);
    path = canonicalPathAnsi(path, false);

    bool result = false;
    unsigned long long lastWriteTime = 0;
    if (!findFile(path, &lastWriteTime)) {
        logMessage(L"file doesn't exist");
    } else {
        logMessage(L"file exists");
        version.clear();
        bool versionKnown = false;
        DWORD machine = 0;
        if (detail::readCachedVersion(path, lastWriteTime, version, machine) && version != kFailedRunVersion) {
            logMessage(L"got version from registry %S %d", version.c_str(), static_cast<int>(machine));
            versionKnown = machine == kMachineX64;
        } else {
            // A stale or untrusted entry's text must not stand in for the version of this run.
            version.clear();
            if (!detail::runJavaVersion(path, lastWriteTime, version, versionTimeoutMs)) {
                logMessage(L"couldn't get version");
            } else {
                machine = detail::readPeMachine(path);
                logMessage(L"got version from execution %S %d", version.c_str(), static_cast<int>(machine));
                if (machine != 0) detail::writeCachedVersion(path, lastWriteTime, version, machine);
                // An unreadable header (0) is given the benefit of the doubt after a successful run.
                versionKnown = machine == kMachineX64 || machine == 0;
            }
        }
        if (versionKnown && versionAllowed(version, bounds.minimum, bounds.maximum, allowBeta)) {
            result = true;
            if (getConfigInt(ids::kExecutableType) == 1 && path.size() > 4) {
                path.replace(path.size() - 4, 4, "w.exe");
                result = pathExists(path);
            }
        }
    }
    if (std::find(nonWorkingJavas.begin(), nonWorkingJavas.end(), path) != nonWorkingJavas.end()) return false;
    logMessage(L"checkJavaExe returning %d", result ? 1 : 0);
    return result;
}

}  // namespace vexlo
