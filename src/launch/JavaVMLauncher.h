// Creating the Java virtual machine on a thread with the requested stack, and calling the runtime launcher
// class's main with the program's arguments.
#pragma once

#include <jni.h>

#include <string>
#include <string_view>
#include <vector>

namespace vexlo {

// What the launch thread is given.
struct LaunchRecord {
    std::vector<std::wstring> arguments;
    bool destroyAfterMain = true;
    JavaVMInitArgs* initArgs = nullptr;
};

// Written once by the launch thread and used only there.
extern JavaVM* javaVm;
extern JNIEnv* launchJniEnv;

// True when the virtual machine was created and main returned without an exception.
bool launchJvm(const std::vector<std::wstring>& arguments);

// Steps of the operations above, declared for their tests.
namespace detail {
// A decimal size with an optional k, m, g or t suffix in bytes; -1 when the text is no such size (a sign,
// blanks, a longer suffix, or a value that does not fit 64 bits).
long long parseMemorySize(std::string_view text);
// The launch thread's stack reservation for the options: the last positive -Xss value's low 32 bits, raised
// to 65536 when smaller; 0 (the executable's default) without one.
unsigned launchStackSize(const JavaVMInitArgs& initArgs);
// The runtime launcher class for the launcher kind, in the form FindClass takes.
std::string runtimeLauncherClass();
// The strings main receives: the five runtime arguments, the program path, the configured arguments and the
// other arguments without the locale option (and without the -J options when those are VM options).
std::vector<std::wstring> mainArguments(const std::vector<std::wstring>& arguments);
}  // namespace detail

}  // namespace vexlo
