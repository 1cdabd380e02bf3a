// A small Windows host for a jvm.dll, shaped like the launcher's own use of it: LoadLibraryW, then
// JNI_CreateJavaVM, a static main and DestroyJavaVM on a thread with a 1 MiB stack.
//   hostjvm_run.exe <jvm.dll> [-J<option>]... [--jni-checks] <main class> [arguments...]
// Options are handed over in the ANSI code page, as the launcher does. Exit codes: 0 main returned,
// 1 main threw, 2 usage, 3 jvm.dll unusable, 4 JNI_CreateJavaVM failed, 5 no such class or main,
// 6 a JNI check failed.
#include <windows.h>

#include <jni.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "common/ProcAddress.h"

namespace {

using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);
using GetCreatedJavaVMs = jint(JNICALL*)(JavaVM**, jsize, jsize*);

struct Request {
    std::wstring dll;
    std::vector<std::string> options;  // ANSI code page
    bool jniChecks = false;
    std::string mainClass;
    std::vector<std::wstring> arguments;
};

std::string toAnsi(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi.data(), n, nullptr, nullptr);
    ansi.resize(ansi.size() - 1);
    return ansi;
}

// ---- JNI checks: the parts of the bridge that plain forwarding would get wrong ----
int failures = 0;

void check(bool ok, const char* what) {
    std::fprintf(stderr, "[run] check %s: %s\n", what, ok ? "ok" : "FAILED");
    if (!ok) ++failures;
}

jfloat callFloatV(JNIEnv* env, jclass cls, jmethodID method, ...) {
    va_list args;
    va_start(args, method);
    jfloat result = env->CallStaticFloatMethodV(cls, method, args);
    va_end(args);
    return result;
}

JavaVM* checkedVm = nullptr;

DWORD WINAPI attachedThread(void*) {
    JNIEnv* env = nullptr;
    check(checkedVm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) == JNI_EDETACHED, "GetEnv before attach");
    if (checkedVm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK || !env) {
        check(false, "AttachCurrentThread");
        return 0;
    }
    JNIEnv* again = nullptr;
    checkedVm->GetEnv(reinterpret_cast<void**>(&again), JNI_VERSION_1_2);
    check(again == env, "GetEnv after attach gives the attached env");
    jclass math = env->FindClass("java/lang/Math");
    jmethodID abs = env->GetStaticMethodID(math, "abs", "(I)I");
    check(env->CallStaticIntMethod(math, abs, -42) == 42, "call on an attached Windows thread");
    check(checkedVm->DetachCurrentThread() == JNI_OK, "DetachCurrentThread");
    return 0;
}

void runJniChecks(HMODULE dll, const std::wstring& dllPath, JavaVM* vm, JNIEnv* env) {
    wchar_t name[MAX_PATH];
    DWORD n = GetModuleFileNameW(dll, name, MAX_PATH);
    check(n > 0 && CompareStringOrdinal(name, static_cast<int>(n), dllPath.c_str(), -1, TRUE) == CSTR_EQUAL,
          "GetModuleFileNameW names the jvm.dll loaded");

    auto created = vexlo::procAddress<GetCreatedJavaVMs>(dll, "JNI_GetCreatedJavaVMs");
    JavaVM* found = nullptr;
    jsize count = 0;
    check(created && created(&found, 1, &count) == JNI_OK && count == 1 && found == vm, "JNI_GetCreatedJavaVMs");
    JavaVM* fromEnv = nullptr;
    check(env->GetJavaVM(&fromEnv) == JNI_OK && fromEnv == vm, "GetJavaVM");

    jclass math = env->FindClass("java/lang/Math");
    jmethodID maxFloat = env->GetStaticMethodID(math, "max", "(FF)F");
    jmethodID fmaFloat = env->GetStaticMethodID(math, "fma", "(FFF)F");
    jmethodID fmaDouble = env->GetStaticMethodID(math, "fma", "(DDD)D");
    jmethodID maxLong = env->GetStaticMethodID(math, "max", "(JJ)J");
    check(env->CallStaticFloatMethod(math, maxFloat, 1.5f, 2.25f) == 2.25f, "float varargs");
    check(callFloatV(env, math, maxFloat, -3.5f, -7.25f) == -3.5f, "float va_list");
    check(env->CallStaticFloatMethod(math, fmaFloat, 2.0f, 3.0f, 0.5f) == 6.5f, "three float varargs");
    check(env->CallStaticDoubleMethod(math, fmaDouble, 2.0, 3.0, 0.25) == 6.25, "double varargs");
    check(env->CallStaticLongMethod(math, maxLong, jlong{1} << 40, jlong{-5}) == jlong{1} << 40, "long varargs");
    jclass boxed = env->FindClass("java/lang/Float");
    jobject value = env->NewObject(boxed, env->GetMethodID(boxed, "<init>", "(F)V"), 0.75f);
    check(value && env->CallFloatMethod(value, env->GetMethodID(boxed, "floatValue", "()F")) == 0.75f,
          "NewObject and an instance call with a float");
    jclass strings = env->FindClass("java/lang/String");
    jmethodID valueOf = env->GetStaticMethodID(strings, "valueOf", "(I)Ljava/lang/String;");
    auto text = static_cast<jstring>(env->CallStaticObjectMethod(strings, valueOf, 1234));
    const jchar* chars = env->GetStringChars(text, nullptr);
    check(env->GetStringLength(text) == 4 && chars[0] == u'1' && chars[3] == u'4', "object result and GetStringChars");
    env->ReleaseStringChars(text, chars);

    checkedVm = vm;
    HANDLE thread = CreateThread(nullptr, 256 * 1024, attachedThread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                 nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

jobjectArray javaArguments(JNIEnv* env, const std::vector<std::wstring>& arguments) {
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(arguments.size()), env->FindClass("java/lang/String"),
                                             nullptr);
    for (size_t i = 0; i < arguments.size(); ++i) {
        jstring s = env->NewString(reinterpret_cast<const jchar*>(arguments[i].data()),
                                   static_cast<jsize>(arguments[i].size()));
        env->SetObjectArrayElement(array, static_cast<jsize>(i), s);
        env->DeleteLocalRef(s);
    }
    return array;
}

DWORD WINAPI launch(void* parameter) {
    const auto& request = *static_cast<const Request*>(parameter);
    HMODULE dll = LoadLibraryW(request.dll.c_str());
    auto create = vexlo::procAddress<CreateJavaVM>(dll, "JNI_CreateJavaVM");
    if (!create) {
        std::fprintf(stderr, "[run] cannot use %ls (error %lu)\n", request.dll.c_str(), GetLastError());
        return 3;
    }
    std::vector<JavaVMOption> options;
    for (const auto& option : request.options) options.push_back({const_cast<char*>(option.c_str()), nullptr});
    JavaVMInitArgs args{JNI_VERSION_1_2, static_cast<jint>(options.size()), options.data(), JNI_TRUE};
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    jint created = create(&vm, reinterpret_cast<void**>(&env), &args);
    if (created != JNI_OK) {
        std::fprintf(stderr, "[run] JNI_CreateJavaVM failed: %ld\n", static_cast<long>(created));
        return 4;
    }
    if (request.jniChecks) runJniChecks(dll, request.dll, vm, env);

    jclass mainClass = env->FindClass(request.mainClass.c_str());
    jmethodID main = mainClass ? env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V") : nullptr;
    if (!main) {
        env->ExceptionDescribe();
        std::fprintf(stderr, "[run] no main in %s\n", request.mainClass.c_str());
        return 5;
    }
    env->CallStaticVoidMethod(mainClass, main, javaArguments(env, request.arguments));
    DWORD result = 0;
    if (env->ExceptionOccurred()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
        result = 1;
    }
    std::fprintf(stderr, "[run] main returned\n");
    vm->DestroyJavaVM();
    std::fprintf(stderr, "[run] DestroyJavaVM returned\n");
    if (failures > 0) result = 6;
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Request request;
    int i = 1;
    if (i < argc) request.dll = argv[i++];
    for (; i < argc && argv[i][0] == L'-'; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--jni-checks") request.jniChecks = true;
        else if (arg.rfind(L"-J", 0) == 0) request.options.push_back(toAnsi(arg.substr(2)));
    }
    if (request.dll.empty() || i >= argc) {
        std::fprintf(stderr,
                     "usage: hostjvm_run.exe <jvm.dll> [-J<option>]... [--jni-checks] <main class> [arguments...]\n");
        return 2;
    }
    request.mainClass = toAnsi(argv[i++]);
    for (; i < argc; ++i) request.arguments.push_back(argv[i]);

    HANDLE thread = CreateThread(nullptr, 1024 * 1024, launch, &request, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 2;
    GetExitCodeThread(thread, &code);
    std::fflush(stderr);
    return static_cast<int>(code);
}
