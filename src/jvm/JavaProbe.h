// Probing a candidate Java executable: existence, version (from the per-user cache or by running it with
// -version), machine type, the configured bounds, and the list of runtimes that failed to load.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jvm/JavaVersion.h"

namespace vexlo {

// Per-user cache of probed runtimes; one subkey per executable, named by its canonical path with "/".
inline constexpr char kJavaCacheKey[] = "SOFTWARE\\tarnwick\\vexlo\\jvms2\\";
// Written for a runtime whose version run failed; such an entry is never trusted.
inline constexpr char kFailedRunVersion[] = "1.0.0";
inline constexpr DWORD kMachineX64 = 0x8664;
inline constexpr DWORD kJavaVersionTimeoutMs = 60000;
inline constexpr std::size_t kNonWorkingJavaLimit = 50;

// A runtime as the search knows it: its java.exe (javaw.exe for GUI applications) and its version text.
struct Runtime {
    std::string javaExe;
    std::string version;
};

// The variables through which the environment passes options to every Java virtual machine.
inline constexpr const char* kJavaOptionVariables[] = {"_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS", "JDK_JAVA_OPTIONS"};

// Executables whose JVM library could not be loaded in this process; only grows.
extern std::vector<std::string> nonWorkingJavas;

// Decides whether the runtime of `candidate.javaExe` may be used. The path becomes its lower-case canonical
// form (and the matching javaw.exe for GUI applications), whatever the answer; the version receives the
// runtime's version text. A version run that takes longer than `versionTimeoutMs` is ended and the runtime
// refused.
bool checkJavaExe(Runtime& candidate, const VersionBounds& bounds, bool allowBeta,
                  DWORD versionTimeoutMs = kJavaVersionTimeoutMs);

// The java.exe of a runtime home: home\jre\bin\java.exe when it exists (always when a JDK is required, which
// then needs home\lib\tools.jar), otherwise home\bin\java.exe. False only when a required JDK is missing.
bool locateJavaExe(std::string& javaExe, std::string_view home);

// Lists the executable as non-working; true while the list holds fewer than kNonWorkingJavaLimit entries.
bool addNonWorkingJava(const std::string& path);

// Steps of the operations above, declared for their tests.
namespace detail {
// The registry subkey (below HKEY_CURRENT_USER) of the cache entry for a canonical path.
std::string javaCacheKeyName(std::string_view canonicalPath);
// True when a cache entry exists for the path and matches the file's last-write time.
bool readCachedVersion(const std::string& canonicalPath, unsigned long long lastWriteTime, std::string& version,
                       DWORD& machine);
void writeCachedVersion(const std::string& canonicalPath, unsigned long long lastWriteTime, std::string_view version,
                        DWORD machine);
// Runs "<path> -version" without the Java option variables and takes the version from its standard error;
// a run that overruns the time limit is ended (with whatever it started) and gives no version.
bool runJavaVersion(const std::string& canonicalPath, unsigned long long lastWriteTime, std::string& version,
                    DWORD timeoutMs = kJavaVersionTimeoutMs);
// The Machine field of a PE file's header; 0 when the file is not a readable PE file.
DWORD readPeMachine(const std::string& path);
// Removes the variable from the environment and returns its value; none when it was not set or unreadable.
std::optional<std::string> takeEnvironmentVariable(const char* name);
}  // namespace detail

}  // namespace vexlo
