// Loading a runtime's jvm.dll into this process and publishing what later steps need to know about the
// runtime: its home, version, the bin directory the library came from, and JNI_CreateJavaVM.
#pragma once

#include <windows.h>

#include <jni.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "common/Environment.h"

namespace vexlo {

using CreateJavaVMFunction = jint(JNICALL*)(JavaVM**, void**, void*);

// The bin directory of a candidate must fit this many bytes with its terminator; longer ones are skipped.
inline constexpr std::size_t kBinDirectoryCapacity = 2000;
inline constexpr int kJvmSubdirectoryCapacity = 200;
// Below the bin directory, after the configured subdirectory.
inline constexpr const char* kJvmSubdirectories[] = {"server", "client", "j9vm", "hotspot", "jrockit"};

// JNI_CreateJavaVM of the loaded library; null until resolveCreateJavaVM found it.
CreateJavaVMFunction createJavaVMEntry();

// The library of the runtime of `javaExe`, or of the runtime in its jre folder (a JDK's layout).
HMODULE loadJvmForJavaExe(const std::string& javaExe);

// Registers the directory (8-bit) with the process's DLL directory list when the configuration asks for it.
DllDirectoryCookie addConfiguredDllDirectory(const std::string& directory);

bool resolveCreateJavaVM(HMODULE library);

// Selected Java home: the executable's directory followed by "\.."; selected version: the version text.
void publishSelectedRuntime(const std::string& javaExe, const std::string& version);

// Steps of the operations above, declared for their tests.
namespace detail {
// Puts the executable's directory in front of PATH and tries the library subdirectories below it; PATH and
// the DLL directory registration are put back when nothing loaded.
HMODULE loadJvmFromBinDirectory(const std::string& javaExe);
// Loads binDirectory\subdirectory\jvm.dll; on success it becomes the runtime bin directory.
HMODULE tryJvmLibrary(const std::string& binDirectory, const char* subdirectory);
// Length of the directory part of a path ending in java.exe or javaw.exe.
std::size_t javaExeDirectoryLength(std::string_view javaExe);
}  // namespace detail

}  // namespace vexlo
