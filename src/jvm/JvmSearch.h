// Finding the Java runtime to run in: the preferred location, the configured search sequence, the installer
// location, the version-blind fallback over the sequence's directories and the two home variables. Every
// candidate that passes its probe is loaded at once; the first whose JVM library loads ends the search.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "jvm/JavaProbe.h"

namespace vexlo {

// How the runtime was found; chooses the message shown when its library does not load.
enum class LocationKind { none, searchPath, directory, variable, registry };

// The working values of the search. They always describe the last candidate that was accepted (kind
// none when none was), whether or not its library loaded.
struct JvmLocation {
    Runtime runtime;  // java.exe (or javaw.exe) in canonical, lower-case form
    LocationKind kind = LocationKind::none;
    std::string text;  // the directory, variable name or sequence entry text that led to the runtime
};

// Below the application directory; only the first line of each counts.
inline constexpr wchar_t kPreferredLocationFile[] = L"\\.quandrel\\pref_jre.cfg";
inline constexpr wchar_t kInstallerLocationFile[] = L"\\.quandrel\\inst_jre.cfg";
inline constexpr char kVexloJavaHomeVariable[] = "VEXLO_JAVA_HOME";
inline constexpr char kQuandrelJavaHomeVariable[] = "QUANDREL_JAVA_HOME";

// Searches and loads the runtime and publishes it; shows the message that fits when none can be used.
bool LoadDLL();

// Steps of the operations above, declared for their tests.
namespace detail {
// Runs the whole search; the loaded JVM library (never freed), or null.
HMODULE findJvm(JvmLocation& location);
// Probes a runtime home (canonical form, packed archives unpacked first); accept-any-version passes the
// home even when its runtime fails the probe.
std::optional<Runtime> checkJavaHome(std::string_view home, const VersionBounds& bounds, bool allowBeta,
                                     bool acceptAnyVersion);
// Probes the runtime home named by an environment variable ("/" read as "\").
std::optional<Runtime> checkJavaHomeVariable(const char* variable, const VersionBounds& bounds);
// The first line (line ends stripped) of a file below the application directory; false when the file
// cannot be opened or is empty.
bool readLocationFile(std::wstring_view fileName, std::string& line);
}  // namespace detail

}  // namespace vexlo
