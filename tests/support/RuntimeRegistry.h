// The registry keys where Java runtimes are registered (vendor keys, located runtimes, earlier
// installations), filled by tests and emptied again, and stand-in runtime homes to register there.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace vexlo::test {

// Held by every test that fills the runtime keys: ctest runs test processes in parallel and they share one
// Wine prefix, hence one registry. The keys are deleted (HKCU and HKLM, default and 64-bit views) on entry
// and on exit, together with the probe cache entries of this process's temporary directories.
class RuntimeRegistryScope {
public:
    RuntimeRegistryScope();
    ~RuntimeRegistryScope();
    RuntimeRegistryScope(const RuntimeRegistryScope&) = delete;
    RuntimeRegistryScope& operator=(const RuntimeRegistryScope&) = delete;

private:
    HANDLE mutex_;
};

void clearRuntimeRegistryKeys();

// Creates the key (and its parents); with a value name, also sets that string value.
bool setRegistryString(HKEY root, const std::string& keyPath, const std::string& valueName, const std::string& value,
                       REGSAM view = 0);
bool createRegistryKey(HKEY root, const std::string& keyPath, REGSAM view = 0);

// A runtime home at `home` (created as needed): bin\java.exe is the stand-in java that prints
// `openjdk version "<version>"`; with `jvm` also bin\server\jvm.dll, the loading stand-in. The java.exe
// gets a fresh last-write time so that no earlier probe cache entry applies to it.
void makeStandinRuntime(const std::wstring& home, const std::string& version, bool jvm = true);

// The 8-bit form of an ASCII path (test paths are kept ASCII so that both forms match).
std::string asciiPath(std::wstring_view path);

}  // namespace vexlo::test
