#include "launch/JavaVMLauncher.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/CommandLine.h"
#include "common/Handles.h"
#include "common/ProcAddress.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "config/MessageErrors.h"
#include "jvm/JavaVersion.h"
#include "jvm/JvmLoader.h"
#include "jvm/SelectedRuntime.h"
#include "launch/JvmArguments.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/LauncherVariables.h"
#include "paths/PathForms.h"
#include "process/LauncherState.h"

namespace vexlo {

namespace {
void loadHelperLibrary();

void setModuleNameProperty();

bool describeException(bool describe);
bool createJvmAndRunMain(LaunchRecord& record);
bool runMain(const LaunchRecord& record);
bool initFromLauncher(bool flag);
}  // namespace

JavaVM* javaVm = nullptr;
JNIEnv* launchJniEnv = nullptr;

namespace {

constexpr unsigned kMinimumStackSize = 0x10000;
constexpr int kSplashTextCapacity = 2000;
constexpr const char kSplashClass[] = "com/vexlo/runtime/WinLauncher";
constexpr const char kInstallerCommonClass[] = "com/quandrel/runtime/installer/platform/win32/Common";

using RegisterNativesFunction = bool (*)(JNIEnv*, HMODULE, bool, void (*)(const wchar_t*, ...));

const jchar* jchars(const std::wstring& text) { return reinterpret_cast<const jchar*>(text.c_str()); }
jsize jlength(const std::wstring& text) { return static_cast<jsize>(text.size()); }

// A failed lookup leaves an exception pending, and no further JNI call may be made while one is.
void clearFailedLookup() { launchJniEnv->ExceptionClear(); }

DWORD WINAPI launchThread(LPVOID parameter) {
    return createJvmAndRunMain(*static_cast<LaunchRecord*>(parameter)) ? 1 : 0;
}

// Runtime arguments 2 and 3: the configured path, expanded, canonical unless it starts with "$".
std::wstring runtimePathArgument(int useId, int pathId) {
    std::wstring path;
    if (getConfigInt(useId) == 0) return path;
    appendConfigWide(pathId, path);
    expandLauncherVariables(path, launcherVariableValuesWide(selectedJavaHome(), false));
    if (!path.empty() && path[0] != L'$') path = canonicalPathWide(path, false, true);
    return path;
}

// Out of line: every scope that owns a reference calls it on each of its ways out.
[[gnu::noinline]] void deleteLocalRef(JNIEnv* env, jobject ref) noexcept {
    if (ref) env->DeleteLocalRef(ref);
}

// Deletes a JNI local reference at the end of its scope; a null reference is left alone.
template <typename Ref>
class LocalRef {
public:
    LocalRef(JNIEnv* env, Ref ref) noexcept : env_(env), ref_(ref) {}
    ~LocalRef() { deleteLocalRef(env_, ref_); }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;

    Ref get() const noexcept { return ref_; }
    explicit operator bool() const noexcept { return ref_ != nullptr; }

private:
    JNIEnv* env_;
    Ref ref_;
};

void configureSplash() {
    JNIEnv* env = launchJniEnv;
    const LocalRef cls(env, env->FindClass(kSplashClass));
    if (!cls) {
        logError(L"could not find main class for splash properties");
        clearFailedLookup();
        return;
    }
    jmethodID method = env->GetStaticMethodID(
        cls.get(), "initAwtSplashConfig",
        "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V");
    if (!method) {
        logError(L"could not find method for splash properties");
        clearFailedLookup();
        return;
    }
    auto text = [env](int id) {
        char buffer[kSplashTextCapacity];
        getConfigString(id, buffer, kSplashTextCapacity);
        return env->NewStringUTF(buffer);
    };
    const LocalRef text1(env, text(ids::kSplashText1));
    const LocalRef text2(env, text(ids::kSplashText2));
    const LocalRef text3(env, text(ids::kSplashText3));
    const LocalRef text4(env, text(ids::kSplashText4));
    auto flag = [](bool value) { return static_cast<jboolean>(value ? JNI_TRUE : JNI_FALSE); };
    // The first flag tells the Java side that this is a graphical application.
    env->CallStaticVoidMethod(cls.get(), method, flag(getConfigInt(ids::kExecutableType) == ids::kExeTypeGui),
                              flag(getConfigInt(ids::kSplashSecondFlag) != 0), text1.get(),
                              static_cast<jint>(getConfigInt(ids::kSplashText1Number1)),
                              static_cast<jint>(getConfigInt(ids::kSplashText1Number2)), text2.get(),
                              static_cast<jint>(getConfigInt(ids::kSplashText2Number1)),
                              static_cast<jint>(getConfigInt(ids::kSplashText2Number2)), text3.get(),
                              static_cast<jint>(getConfigInt(ids::kSplashText3Number1)),
                              static_cast<jint>(getConfigInt(ids::kSplashText3Number2)), text4.get(),
                              static_cast<jint>(getConfigInt(ids::kSplashText4Number1)),
                              static_cast<jint>(getConfigInt(ids::kSplashText4Number2)));
}

// Out of memory while building main's arguments: nothing sensible can follow.
[[noreturn]] void argumentCreationFailed() {
    logError(L"could not create the arguments of main");
    fatalMessageError(ids::kMsgLaunchFailed, std::wstring(L"20"));
}

}  // namespace

long long detail::parseMemorySize(std::string_view text) {
    // Only a plain run of digits counts as a number here: a sign or a blank always leaves too much behind.
    size_t digits = 0;
    long long number = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        int digit = text[digits] - '0';
        if (number > (std::numeric_limits<long long>::max() - digit) / 10) return -1;
        number = number * 10 + digit;
        ++digits;
    }
    if (digits == 0) return -1;
    std::string_view rest = text.substr(digits);
    if (rest.empty()) return number;
    if (rest.size() != 1) return -1;
    int shift = 0;
    switch (rest[0]) {
        case 'k':
        case 'K': shift = 10; break;
        case 'm':
        case 'M': shift = 20; break;
        case 'g':
        case 'G': shift = 30; break;
        case 't':
        case 'T': shift = 40; break;
        default: return -1;
    }
    if (number > (std::numeric_limits<long long>::max() >> shift)) return -1;
    return number << shift;
}

unsigned detail::launchStackSize(const JavaVMInitArgs& initArgs) {
    unsigned size = 0;
    for (jint i = 0; i < initArgs.nOptions; ++i) {
        std::string_view option = initArgs.options[i].optionString ? initArgs.options[i].optionString : "";
        if (option.substr(0, 4) != "-Xss") continue;
        long long parsed = detail::parseMemorySize(option.substr(4));
        if (parsed > 0) size = static_cast<unsigned>(static_cast<unsigned long long>(parsed) & 0xFFFFFFFFu);
    }
    if (size > 0 && size < kMinimumStackSize) size = kMinimumStackSize;
    return size;
}

std::string detail::runtimeLauncherClass() {
    std::string name = launcherKind == 'i' ? "com/quandrel/runtime/launcher/WinLauncher"
                                           : "com/vexlo/runtime/WinLauncher";
    std::replace(name.begin(), name.end(), '.', '/');
    return name;
}

std::vector<std::wstring> detail::mainArguments(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> strings;
    strings.emplace_back(getConfigInt(ids::kExecutableType) == ids::kExeTypeGui ? L"true" : L"false");
    std::wstring mainClass = getConfigInt(ids::kModuleMode) != 0 ? L"/" : L"";
    appendConfigWide(ids::kMainClass, mainClass);
    strings.push_back(mainClass);
    strings.push_back(runtimePathArgument(ids::kUseRuntimeArgument2, ids::kRuntimeArgument2Path));
    strings.push_back(runtimePathArgument(ids::kUseRuntimeArgument3, ids::kRuntimeArgument3Path));
    strings.emplace_back(getConfigInt(ids::kRuntimeArgument4) != 0 ? L"true" : L"false");
    if (!arguments.empty()) strings.push_back(arguments.front());

    std::wstring configured;
    appendConfigWide(ids::kApplicationArguments, configured);
    expandLauncherVariables(configured, launcherVariableValuesWide(selectedJavaHome(), false));
    splitCommandLine(configured, strings);

    const bool dropJOptions = getConfigInt(ids::kJOptionsAreVmOptions) != 0;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (argument.starts_with(L"-Dsun.locale.formatasdefault=")) continue;
        if (dropJOptions && argument.starts_with(L"-J")) continue;
        strings.push_back(argument);
    }
    return strings;
}

bool launchJvm(const std::vector<std::wstring>& arguments) {
    std::vector<std::string> systemProperties = buildSystemProperties();
    LaunchRecord record;
    record.arguments = arguments;
    record.destroyAfterMain = true;
    record.initArgs = assembleJvmArguments(systemProperties, arguments);
    if (!record.initArgs) {
        logError(L"could not initialize JVM");
        return false;
    }

    unsigned stackSize = detail::launchStackSize(*record.initArgs);
    logMessage(L"used stack size %d", static_cast<int>(stackSize));

    unique_handle thread(
        CreateThread(nullptr, stackSize, launchThread, &record, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread) return createJvmAndRunMain(record);
    WaitForSingleObject(thread.get(), INFINITE);
    DWORD exitCode = 0;
    GetExitCodeThread(thread.get(), &exitCode);
    return exitCode != 0;
}

namespace {

bool createJvmAndRunMain(LaunchRecord& record) {
    logMessage(L"Creating JVM");
    CreateJavaVMFunction create = createJavaVMEntry();
    JNIEnv* env = nullptr;
    jint result = create ? create(&javaVm, reinterpret_cast<void**>(&env), record.initArgs) : JNI_ERR;
    launchJniEnv = env;
    if (result != JNI_OK || !javaVm || !env) {
        logError(L"could not initialize JVM");
        return false;
    }
    logMessage(L"JVM created");

    if (getConfigInt(ids::kSplashConfig) != 0) configureSplash();
    loadHelperLibrary();
    setModuleNameProperty();
    // Whatever failed above must not look like an exception thrown by main.
    launchJniEnv->ExceptionClear();

    if (!runMain(record)) {
        logError(L"could not call main");
        return false;
    }
    if (record.destroyAfterMain) {
        logMessage(L"dest JVM");
        // Returns when the program's last non-daemon thread has ended.
        javaVm->DestroyJavaVM();
    }
    logMessage(L"launch done");
    return true;
}

bool runMain(const LaunchRecord& record) {
    JNIEnv* env = launchJniEnv;
    const std::string className = detail::runtimeLauncherClass();
    logMessage(L"main class: %S", className.c_str());
    jclass launcherClass = env->FindClass(className.c_str());
    if (!launcherClass) {
        logError(L"could not find main class");
        fatalMessageError(ids::kMsgMainClassNotFound);
    }
    jmethodID mainMethod = env->GetStaticMethodID(launcherClass, "main", "([Ljava/lang/String;)V");
    if (!mainMethod) {
        logError(L"could not find main method");
        fatalMessageError(ids::kMsgMainMethodNotFound);
    }

    const std::vector<std::wstring> strings = detail::mainArguments(record.arguments);
    const int count = static_cast<int>(strings.size());
    logMessage(L"param count: %d", count);
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass) argumentCreationFailed();
    jobjectArray array = env->NewObjectArray(count, stringClass, nullptr);
    if (!array) argumentCreationFailed();
    for (int j = 0; j < count; ++j) {
        const std::wstring& text = strings[static_cast<size_t>(j)];
        logMessage(L"param %d: %s", j, text.c_str());
        const LocalRef element(env, env->NewString(jchars(text), jlength(text)));
        if (!element) argumentCreationFailed();
        env->SetObjectArrayElement(array, j, element.get());
    }

    logMessage(L"calling main");
    env->CallStaticVoidMethod(launcherClass, mainMethod, array);
    logMessage(L"main returned");
    return describeException(true);
}

void setModuleNameProperty() {
    JNIEnv* env = launchJniEnv;
    const LocalRef system(env, env->FindClass("java/lang/System"));
    if (!system) {
        logError(L"could not get system class");
        clearFailedLookup();
        return;
    }
    jmethodID setProperty = env->GetStaticMethodID(system.get(), "setProperty",
                                                   "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    if (!setProperty) {
        logError(L"could not get method for module name init");
        clearFailedLookup();
        return;
    }
    const std::wstring& path = executablePathLong();
    const std::wstring keyText = L"vexlo.moduleName";
    const LocalRef value(env, env->NewString(jchars(path), jlength(path)));
    const LocalRef key(env, value ? env->NewString(jchars(keyText), jlength(keyText)) : nullptr);
    if (!value || !key) {
        logError(L"could not create string for init module name");
        clearFailedLookup();
    } else {
        logMessage(L"setting vexlo.moduleName to %s", path.c_str());
        const LocalRef previous(env, env->CallStaticObjectMethod(system.get(), setProperty, key.get(), value.get()));
    }
}

void loadHelperLibrary() {
    if (launcherKind != 'i') return;
    logMessage(L"load helper dll");
    std::wstring directory;
    appendConfigWide(ids::kApplicationDirectory, directory);
    std::wstring path = resolvePathWide(directory, false);
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += L".quandrel\\qdrinst.dll";

    // Its natives stay registered with the virtual machine, so the library is never unloaded.
    HMODULE library = LoadLibraryW(path.c_str());
    logMessage(L"helper dll %p %s", static_cast<void*>(library), path.c_str());
    if (preJava8Minimum) logMessage(L"partially registering natives");
    if (!library) return;

    auto registerNatives = procAddress<RegisterNativesFunction>(library, "registerNativesEx");
    if (!registerNatives) {
        logError(L"did not find register natives in helper dll");
        return;
    }
    if (!initFromLauncher(true)) return;
    if (!registerNatives(launchJniEnv, library, !preJava8Minimum, &logErrorFromLibrary)) {
        launchJniEnv->ExceptionClear();
        logError(L"registering helper dll failed");
        initFromLauncher(false);
    }
}

bool initFromLauncher(bool flag) {
    JNIEnv* env = launchJniEnv;
    const LocalRef common(env, env->FindClass(kInstallerCommonClass));
    if (!common) {
        logError(L"did not find com/quandrel/runtime/installer/platform/win32/Common");
        clearFailedLookup();
        return false;
    }
    jmethodID init = env->GetStaticMethodID(common.get(), "initFromLauncher", "(Z)V");
    if (init) {
        env->CallStaticVoidMethod(common.get(), init, static_cast<jboolean>(flag ? JNI_TRUE : JNI_FALSE));
    } else {
        logError(L"did not find initMethod");
        clearFailedLookup();
    }
    return init != nullptr;
}

// True when no exception is pending; otherwise logs it, prints its stack trace when asked, clears it and
// answers false.
bool describeException(bool describe) {
    JNIEnv* env = launchJniEnv;
    const LocalRef thrown(env, env->ExceptionOccurred());
    if (!thrown) return true;
    logError(L"an exception occurred");
    // The trace is printed and the exception cleared before its text is asked for: no other JNI call may be
    // made while it is pending.
    if (describe) env->ExceptionDescribe();
    env->ExceptionClear();

    // Object's toString: a method id may only be used on instances of its class, and dispatch reaches the
    // thrown object's own toString.
    const LocalRef objectClass(env, env->FindClass("java/lang/Object"));
    jmethodID toString = objectClass ? env->GetMethodID(objectClass.get(), "toString", "()Ljava/lang/String;")
                                     : nullptr;
    const LocalRef text(env, toString ? static_cast<jstring>(env->CallObjectMethod(thrown.get(), toString)) : nullptr);
    if (text) {
        // The characters are not terminated; their count comes separately.
        jsize length = env->GetStringLength(text.get());
        const jchar* chars = env->GetStringChars(text.get(), nullptr);
        if (chars) {
            std::wstring message(reinterpret_cast<const wchar_t*>(chars), static_cast<size_t>(length));
            env->ReleaseStringChars(text.get(), chars);
            logError(L"%s", message.c_str());
        }
    }
    // Whatever went wrong while asking for the text is not the program's exception.
    env->ExceptionClear();
    return false;
}

}  // namespace

}  // namespace vexlo
