// The smallest launcher of a jvm.dll: the baseline of the real-VM start-up figure, so that the launcher's
// figure shows what its discovery, option assembly and extraction add to creating the VM.
//   bench_minimal_launcher.exe <jvm.dll> <class path> <main class with "/"> [arguments...]
#include <windows.h>

#include <jni.h>

#include <string>

#include "common/ProcAddress.h"

namespace {
using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);

std::string toAnsi(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), n, nullptr, nullptr);
    ansi.pop_back();
    return ansi;
}

int argCount = 0;
wchar_t** argValues = nullptr;

int launch(int argc, wchar_t** argv) {
    HMODULE dll = LoadLibraryW(argv[1]);
    auto create = vexlo::procAddress<CreateJavaVM>(dll, "JNI_CreateJavaVM");
    if (!create) return 3;
    std::string classPath = "-Djava.class.path=" + toAnsi(argv[2]);
    JavaVMOption option{};
    option.optionString = classPath.data();
    JavaVMInitArgs init{};
    init.version = JNI_VERSION_1_8;
    init.nOptions = 1;
    init.options = &option;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (create(&vm, reinterpret_cast<void**>(&env), &init) != JNI_OK) return 4;
    jclass main = env->FindClass(toAnsi(argv[3]).c_str());
    jmethodID entry = main ? env->GetStaticMethodID(main, "main", "([Ljava/lang/String;)V") : nullptr;
    if (!entry) return 5;
    jobjectArray args = env->NewObjectArray(argc - 4, env->FindClass("java/lang/String"), nullptr);
    for (int i = 4; i < argc; ++i) {
        jstring s = env->NewString(reinterpret_cast<const jchar*>(argv[i]), static_cast<jsize>(wcslen(argv[i])));
        env->SetObjectArrayElement(args, i - 4, s);
    }
    env->CallStaticVoidMethod(main, entry, args);
    int code = env->ExceptionCheck() ? 1 : 0;
    vm->DestroyJavaVM();
    return code;
}

DWORD WINAPI launchThread(void*) { return static_cast<DWORD>(launch(argCount, argValues)); }
}  // namespace

// HotSpot is not created on the process's first thread: a thread of its own with a 1 MiB stack, as launchers do.
int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    argCount = argc;
    argValues = argv;
    HANDLE thread = CreateThread(nullptr, 1 << 20, launchThread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return 3;
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return static_cast<int>(code);
}
