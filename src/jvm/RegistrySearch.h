// Runtimes found through the registry: earlier installations of this application recorded by the installer,
// runtimes registered by Java vendors, and runtimes listed under the located-runtimes key. Every candidate
// is probed with checkJavaExe; each operation answers the accepted runtime, if any.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "jvm/JavaProbe.h"

namespace vexlo {

// Per application id, the directories of earlier installations (";"-separated).
inline constexpr char kInstallationsKey[] = "SOFTWARE\\tarnwick\\quandrel\\installations";
// One subkey per runtime, named by its java.exe path with "/" for "\"; written by other tools.
inline constexpr char kLocatedJvmsKey[] = "SOFTWARE\\tarnwick\\vexlo\\locatedjvms\\";

// HKCU then HKLM, each in the default and the 64-bit view; "\jre" of each listed installation directory.
std::optional<Runtime> findPreviousInstallationJre(const VersionBounds& bounds);

// The newer of the best vendor runtime and the best located runtime (the located one on a tie).
std::optional<Runtime> findRegistryJre(const VersionBounds& bounds);

// Steps of the operations above, declared for their tests.
namespace detail {
// The newest runtime listed below the key under HKCU and HKLM (the machine's one on a tie).
std::optional<Runtime> findLocatedJvm(const char* keyPath, const VersionBounds& bounds);
}  // namespace detail

}  // namespace vexlo
