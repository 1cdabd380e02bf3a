// The exported invocation functions: load the host's libjvm.so, hand HotSpot the caller's options in the
// form Linux needs, and give back proxies the Windows caller can use.
#include "Bridge.h"

#include <windef.h>
#include <winbase.h>
#include <winnls.h>

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace hostjvm {
namespace {

using CreateFunction = jint (*)(JavaVM**, void**, void*);
using DefaultArgsFunction = jint (*)(void*);
using CreatedFunction = jint (*)(JavaVM**, jsize, jsize*);

CreateFunction realCreate = nullptr;
DefaultArgsFunction realDefaultArgs = nullptr;
CreatedFunction realCreated = nullptr;

bool loadLibjvm() {
    if (realCreate) return true;
    const char* home = std::getenv("HOSTJVM_JAVA_HOME");
    std::string path = std::string(home && *home ? home : HOSTJVM_JAVA_HOME) + "/lib/server/libjvm.so";
    void* library = dlopen(path.c_str(), RTLD_NOW);
    if (!library) {
        report("[hostjvm] cannot load " + path + ": " + dlerror() + "\n");
        return false;
    }
    realCreate = reinterpret_cast<CreateFunction>(dlsym(library, "JNI_CreateJavaVM"));
    realDefaultArgs = reinterpret_cast<DefaultArgsFunction>(dlsym(library, "JNI_GetDefaultJavaVMInitArgs"));
    realCreated = reinterpret_cast<CreatedFunction>(dlsym(library, "JNI_GetCreatedJavaVMs"));
    if (!realCreate || !realDefaultArgs || !realCreated) {
        report("[hostjvm] " + path + " lacks the invocation functions\n");
        realCreate = nullptr;
        return false;
    }
    return true;
}

// ---- ending the process ----
// HotSpot calls its exit and abort hooks on its own threads, plain pthreads that cannot call Win32, and a
// Unix exit would give a Windows parent exit code 0. So the hooks hand over to a waiting Wine thread.
using WindowsExitHook = void(WIN_JNI*)(jint);
using WindowsAbortHook = void(WIN_JNI*)();
WindowsExitHook launcherExit = nullptr;
WindowsAbortHook launcherAbort = nullptr;
int endPipe[2] = {-1, -1};

struct EndRequest {
    bool abort;
    jint code;
};
constexpr jint kAbortExitCode = 3;  // what abort() gives on Windows

[[noreturn]] void requestEnd(EndRequest request) {
    if (write(endPipe[1], &request, sizeof request) == sizeof request)
        for (;;) pause();
    _exit(request.code);
}

void exitHook(jint code) { requestEnd({false, code}); }
void abortHook() { requestEnd({true, kAbortExitCode}); }

DWORD WINAPI endWaiter(void*) {
    EndRequest request{};
    if (read(endPipe[0], &request, sizeof request) != sizeof request) return 0;
    drainStandardStreams();
    if (request.abort && launcherAbort) launcherAbort();
    if (!request.abort && launcherExit) launcherExit(request.code);
    ExitProcess(static_cast<UINT>(request.code));
}

// ---- options ----
std::string ansiToUtf8(const char* text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::u16string wide(static_cast<size_t>(n > 0 ? n - 1 : 0), u'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<WCHAR*>(wide.data()), n);
    return toUtf8(wide);
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

const char* const kKeepWindowsPaths = "-Dhostjvm.keepWindowsPaths=true";

std::string forLinux(const std::string& option) {
    static const char* const pathLists[] = {"-Djava.class.path=", "-Djava.library.path=", "--module-path=",
                                            "--upgrade-module-path=", "-Xbootclasspath/a:"};
    for (const char* prefix : pathLists)
        if (startsWith(option, prefix)) return prefix + unixPathList(option.substr(std::string(prefix).size()));
    size_t equals = option.find('=');
    if (translateStrings() && startsWith(option, "-D") && equals != std::string::npos) {
        std::string value = option.substr(equals + 1);
        if (isAbsoluteWindowsPath(toUtf16(value))) return option.substr(0, equals + 1) + unixPath(value);
    }
    return option;
}

struct HostOptions {
    std::vector<std::string> texts;
    std::vector<JavaVMOption> options;
};

void translateOptions(const JavaVMInitArgs& in, HostOptions& out) {
    bool keep = false;
    for (jint i = 0; i < in.nOptions; ++i) keep = keep || std::string(in.options[i].optionString) == kKeepWindowsPaths;
    setTranslateStrings(!keep);
    out.texts.reserve(static_cast<size_t>(in.nOptions));
    for (jint i = 0; i < in.nOptions; ++i) {
        const JavaVMOption& option = in.options[i];
        std::string text = option.optionString;
        if (text == "exit") {
            launcherExit = reinterpret_cast<WindowsExitHook>(option.extraInfo);
        } else if (text == "abort") {
            launcherAbort = reinterpret_cast<WindowsAbortHook>(option.extraInfo);
        } else if (text == "vfprintf") {
            // A Windows function cannot take HotSpot's FILE* and System V va_list; HotSpot's own output
            // reaches the standard error handle anyway.
        } else {
            out.texts.push_back(forLinux(ansiToUtf8(option.optionString)));
            out.options.push_back({nullptr, option.extraInfo});
        }
    }
    for (size_t i = 0; i < out.texts.size(); ++i) out.options[i].optionString = out.texts[i].data();
    out.options.push_back({const_cast<char*>("exit"), reinterpret_cast<void*>(&exitHook)});
    out.options.push_back({const_cast<char*>("abort"), reinterpret_cast<void*>(&abortHook)});
}

}  // namespace
}  // namespace hostjvm

using namespace hostjvm;

extern "C" {

jint CDECL JNI_GetDefaultJavaVMInitArgs(void* args) { return loadLibjvm() ? realDefaultArgs(args) : JNI_ERR; }

jint CDECL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize capacity, jsize* count) {
    if (!loadLibjvm()) return JNI_ERR;
    JavaVM* vm = proxyVm();
    if (vm && capacity > 0) vms[0] = vm;
    if (count) *count = vm ? 1 : 0;
    return JNI_OK;
}

jint CDECL JNI_CreateJavaVM(JavaVM** vm, void** env, void* initArgs) {
    if (!loadLibjvm()) return JNI_ERR;
    const auto* in = static_cast<const JavaVMInitArgs*>(initArgs);
    static HostOptions host;  // HotSpot may keep pointers into the option strings
    translateOptions(*in, host);
    JavaVMInitArgs args = *in;
    args.options = host.options.data();
    args.nOptions = static_cast<jint>(host.options.size());

    bindStandardStreams();
    if (endPipe[0] < 0 && pipe(endPipe) == 0) CloseHandle(CreateThread(nullptr, 0, endWaiter, nullptr, 0, nullptr));

    // Wine ends threads with SIGQUIT; HotSpot would take it for thread dumps.
    struct sigaction wineQuit {};
    sigaction(SIGQUIT, nullptr, &wineQuit);
    JavaVM* realVm = nullptr;
    JNIEnv* realEnv = nullptr;
    jint result = realCreate(&realVm, reinterpret_cast<void**>(&realEnv), &args);
    sigaction(SIGQUIT, &wineQuit, nullptr);
    if (result != JNI_OK) {
        drainStandardStreams();  // HotSpot's reason, before the caller reports the failure
        return result;
    }
    setJvmti(realVm);
    *vm = wrapVm(realVm);
    *env = proxyEnv(realEnv);
    return JNI_OK;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved) flushStandardStreamsAtExit();
    return TRUE;
}

}  // extern "C"
