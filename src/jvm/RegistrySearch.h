// Runtimes found through the registry: earlier installations of this application recorded by the installer,
// runtimes registered by Java vendors, and runtimes listed under the located-runtimes key. Every candidate
// is probed with checkJavaExe; each operation fills the Java executable and version of an accepted one.
#pragma once

#include <windows.h>

#include <string>

#include "jvm/JavaVersion.h"

namespace vexlo {

// Per application id, the directories of earlier installations (";"-separated).
inline constexpr char kInstallationsKey[] = "SOFTWARE\\tarnwick\\quandrel\\installations";
// One subkey per runtime, named by its java.exe path with "/" for "\"; written by other tools.
inline constexpr char kLocatedJvmsKey[] = "SOFTWARE\\tarnwick\\vexlo\\locatedjvms\\";

// Set when the loaded runtime came from an earlier installation; read by the JVM argument assembly.
bool previousInstallationFlag();
void setPreviousInstallationFlag(bool value);

// HKCU then HKLM, each in the default and the 64-bit view; "\jre" of each listed installation directory.
bool findPreviousInstallationJre(std::string& javaExe, std::string& version, const VersionComponents& minimum,
                                 const VersionComponents& maximum);

// The newer of the best vendor runtime and the best located runtime (the located one on a tie).
bool findRegistryJre(std::string& javaExe, std::string& version, const VersionComponents& minimum,
                     const VersionComponents& maximum);

// The newest runtime over the vendor keys, one candidate per key; equal versions keep the keys' order.
bool findVendorRegistryJre(std::string& javaExe, std::string& version, const VersionComponents& minimum,
                           const VersionComponents& maximum);

// How a vendor lays out its key: version subkeys with "JavaHome", "<version>\\hotspot\\MSI" with "Path", or
// "zulu-<version>" subkeys with "InstallationPath".
enum class VendorKeyLayout { plain, msi, zulu };

// The newest acceptable runtime below one vendor key; its subkeys are named by versions.
bool scanVendorKey(std::string& javaExe, std::string& version, const VersionComponents& minimum,
                   const VersionComponents& maximum, const char* keyPath, VendorKeyLayout layout,
                   HKEY root);

// The newest runtime listed below the key under HKCU and HKLM (the machine's one on a tie).
bool findLocatedJvm(const char* keyPath, std::string& javaExe, std::string& version,
                    const VersionComponents& minimum, const VersionComponents& maximum);

}  // namespace vexlo
