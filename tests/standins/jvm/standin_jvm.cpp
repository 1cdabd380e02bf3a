// Stands in for a Java runtime's jvm.dll. It records what it is asked in the file named by the environment
// variable VEXLO_STANDIN_JVM_RECORD (nothing is recorded when it is unset), one line per event, UTF-8:
//   loaded|<this library's path>|PATH=<process environment PATH>|CRTPATH=<runtime library's PATH>
//   JNI_CreateJavaVM|version=<hex>|options=<count>|ignoreUnrecognized=<0/1>|stack=<creating thread's reservation>
//   entry-time|<system time at entry>|created=<process creation time>   (100 ns units, for benchmarks)
//   option|<option string>                   (one per option, in order)
//   FindClass|<name>[|missing]   GetStaticMethodID|<class>|<name>|<signature>[|missing]   GetMethodID|...
//   NewString|<text>   NewStringUTF|<text>   NewObjectArray|<length>|<element class>
//   call|<class>.<method>|<arguments...>     (static void calls, arguments decoded by the signature)
//   main-arg|<element>                        (each element of the array given to main)
//   main-ready                               (after main's arguments and variables are recorded, before it
//                                             reads, prints or sleeps: a watcher waits for this line)
//   setProperty|<key>|<value>   CallObjectMethod|<class>.<method>|<receiver kind>
//   ExceptionDescribe|<text>   ExceptionClear|<text or none>   stdin|<line>   non-daemon thread done
//   DestroyJavaVM
//   exception pending at <function>           (a JNI call that is not allowed while an exception is pending)
//   unexpected JNI call <slot> / unexpected JavaVM call <slot>, after which the process ends with code 86
//
// A file "script.txt" beside the library steers it, one directive per line:
//   create-fails             JNI_CreateJavaVM answers JNI_ERR
//   missing-class <name>     FindClass answers null with a pending NoClassDefFoundError
//   missing-method <cls>.<m> GetStaticMethodID / GetMethodID answer null with a pending NoSuchMethodError
//   out-of-memory <function> NewString or NewObjectArray answers null with a pending OutOfMemoryError
//   read-stdin               main reads one line from standard input and records it
//   non-daemon <ms>          main starts a thread that lives that long; DestroyJavaVM waits for it
//   throw <text>             main returns with a pending exception whose toString is the text
//   exit <code>              main ends the process with the code, as System.exit does
//   record <path>            the record file when VEXLO_STANDIN_JVM_RECORD is unset (a service gets no
//                            environment from the test)
//   stdin-end                after the line of read-stdin, main reads on to the end of input and records
//                            stdin-end|<number of further bytes>
//   sleep <ms>               main sleeps that long after reading (and before exit)
//   env <name>               main records env|<name>=<the process environment's value, or <unset>>
// Without a script main returns at once.
#define _JNI_IMPLEMENTATION_
#include <windows.h>

#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../StandinRecord.h"

namespace {

constexpr UINT kUnexpectedCallExitCode = 86;

HMODULE self = nullptr;

std::string environmentValue(const char* name) {
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) return "<unset>";
    std::string value(size, '\0');
    DWORD got = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(got < size ? got : 0);
    return value;
}

std::string scriptRecordPath;  // from the script's "record" line

void record(const std::string& line) {
    std::string path = environmentValue("VEXLO_STANDIN_JVM_RECORD");
    if (path == "<unset>" || path.empty()) path = scriptRecordPath;
    standin::appendRecordLine(path, line);
}

std::string utf8(const std::u16string& text) {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::u16string utf16(const std::string& text) {
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(size > 0 ? size : 0), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(out.data()),
                        size);
    return out;
}

// ---- the script ----

struct Script {
    bool createFails = false;
    std::set<std::string> missingClasses, missingMethods, outOfMemory;
    bool readStdin = false;
    int nonDaemonMs = -1;
    std::optional<std::string> throwText;
    std::optional<int> exitCode;
    bool stdinEnd = false;
    int sleepMs = 0;
    std::vector<std::string> environmentNames;
    long long printBytes = 0;  // written to standard output in 100-byte lines
    std::string printLine;     // one line written to standard error
} script;

[[maybe_unused]] void readScript() {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(self, path, sizeof path);
    std::string file(path, n);
    file = file.substr(0, file.find_last_of('\\') + 1) + "script.txt";
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        size_t blank = text.find(' ');
        std::string word = text.substr(0, blank);
        std::string rest = blank == std::string::npos ? std::string() : text.substr(blank + 1);
        if (word == "create-fails") script.createFails = true;
        else if (word == "missing-class") script.missingClasses.insert(rest);
        else if (word == "missing-method") script.missingMethods.insert(rest);
        else if (word == "out-of-memory") script.outOfMemory.insert(rest);
        else if (word == "read-stdin") script.readStdin = true;
        else if (word == "non-daemon") script.nonDaemonMs = std::atoi(rest.c_str());
        else if (word == "throw") script.throwText = rest;
        else if (word == "exit") script.exitCode = std::atoi(rest.c_str());
        else if (word == "record") scriptRecordPath = rest;
        else if (word == "stdin-end") script.stdinEnd = true;
        else if (word == "sleep") script.sleepMs = std::atoi(rest.c_str());
        else if (word == "env") script.environmentNames.push_back(rest);
        else if (word == "print-bytes") script.printBytes = std::atoll(rest.c_str());
        else if (word == "print-error") script.printLine = rest;
        else if (!word.empty()) record("unknown script line|" + text);
    }
    std::fclose(f);
}

// ---- objects: every reference handed out points at one of these ----

struct Object {
    enum class Kind { Class, String, Array, Throwable } kind;
    std::string name;               // class name, or the throwable's class
    std::u16string text;            // the string, or the throwable's toString
    std::vector<Object*> elements;  // array
    std::u16string chars;           // what GetStringChars hands out
};

struct Method {
    std::string className, name, signature;
};

std::deque<Object> objects;
std::deque<Method> methods;
Object* pending = nullptr;
HANDLE nonDaemonThread = nullptr;

Object* make(Object::Kind kind, std::string name, std::u16string text = {}) {
    objects.push_back(Object{kind, std::move(name), std::move(text), {}, {}});
    return &objects.back();
}
Object* of(jobject ref) { return reinterpret_cast<Object*>(ref); }
jobject ref(Object* object) { return reinterpret_cast<jobject>(object); }

void raise(const char* exceptionClass, const std::string& detail) {
    std::string text = std::string(exceptionClass) + ": " + detail;
    pending = make(Object::Kind::Throwable, exceptionClass, utf16(text));
}

// Only the exception calls, DeleteLocalRef and ReleaseStringChars may be made while an exception is pending.
void enter(const char* function) {
    if (pending) record(std::string("exception pending at ") + function);
}

std::string describe(Object* object) {
    if (!object) return "null";
    switch (object->kind) {
        case Object::Kind::String: return utf8(object->text);
        case Object::Kind::Array: return "[" + std::to_string(object->elements.size()) + "]";
        case Object::Kind::Class: return "class " + object->name;
        case Object::Kind::Throwable: return "throwable " + utf8(object->text);
    }
    return "?";
}

// Reads the arguments a signature lists from a call's variable argument list.
std::string decodeArguments(const std::string& signature, va_list args) {
    std::string out;
    for (size_t i = 1; i < signature.size() && signature[i] != ')'; ++i) {
        out += '|';
        char type = signature[i];
        if (type == '[' || type == 'L') {
            while (signature[i] == '[') ++i;
            if (signature[i] == 'L') i = signature.find(';', i);
            out += describe(of(va_arg(args, jobject)));
        } else if (type == 'Z') {
            out += va_arg(args, int) ? "true" : "false";
        } else if (type == 'J') {
            out += std::to_string(va_arg(args, jlong));
        } else if (type == 'F' || type == 'D') {
            out += std::to_string(va_arg(args, double));
        } else {
            out += std::to_string(va_arg(args, int));
        }
    }
    return out;
}

DWORD WINAPI nonDaemonBody(LPVOID) {
    Sleep(static_cast<DWORD>(script.nonDaemonMs));
    record("non-daemon thread done");
    return 0;
}

void runMain(Object* array) {
    for (Object* element : array ? array->elements : std::vector<Object*>{}) record("main-arg|" + describe(element));
    for (const std::string& name : script.environmentNames)
        record("env|" + name + "=" + environmentValue(name.c_str()));
    record("main-ready");
    if (script.readStdin) {
        std::string line;
        char c = 0;
        DWORD got = 0;
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        while (ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        record("stdin|" + line);
        if (script.stdinEnd) {
            size_t more = 0;
            while (ReadFile(in, &c, 1, &got, nullptr) && got == 1) ++more;
            record("stdin-end|" + std::to_string(more));
        }
    }
    if (!script.printLine.empty()) {
        std::string line = script.printLine + "\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    if (script.printBytes > 0) {
        std::string block;
        for (int i = 0; i < 640; ++i) block += std::string(99, static_cast<char>('a' + i % 26)) + "\n";
        DWORD written = 0;
        for (long long left = script.printBytes; left > 0; left -= static_cast<long long>(block.size()))
            if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), block.data(), static_cast<DWORD>(block.size()), &written,
                           nullptr))
                break;
        record("printed|" + std::to_string(script.printBytes));
    }
    if (script.sleepMs > 0) Sleep(static_cast<DWORD>(script.sleepMs));
    if (script.nonDaemonMs >= 0) nonDaemonThread = CreateThread(nullptr, 0, nonDaemonBody, nullptr, 0, nullptr);
    if (script.exitCode) {
        record("main-exit|" + std::to_string(*script.exitCode));
        ExitProcess(static_cast<UINT>(*script.exitCode));
    }
    if (script.throwText) pending = make(Object::Kind::Throwable, "java.lang.Throwable", utf16(*script.throwText));
}

// ---- the JNIEnv operations the launcher may use ----

jclass JNICALL FindClass(JNIEnv*, const char* name) {
    enter("FindClass");
    bool missing = script.missingClasses.count(name) != 0;
    record(std::string("FindClass|") + name + (missing ? "|missing" : ""));
    if (missing) {
        raise("java.lang.NoClassDefFoundError", name);
        return nullptr;
    }
    return reinterpret_cast<jclass>(make(Object::Kind::Class, name));
}

jmethodID lookUp(const char* kind, jclass cls, const char* name, const char* signature) {
    enter(kind);
    std::string className = cls ? of(cls)->name : "null";
    bool missing = script.missingMethods.count(className + "." + name) != 0;
    record(std::string(kind) + "|" + className + "|" + name + "|" + signature + (missing ? "|missing" : ""));
    if (missing) {
        raise("java.lang.NoSuchMethodError", name);
        return nullptr;
    }
    methods.push_back(Method{className, name, signature});
    return reinterpret_cast<jmethodID>(&methods.back());
}

jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    return lookUp("GetStaticMethodID", cls, name, signature);
}

jmethodID JNICALL GetMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
    return lookUp("GetMethodID", cls, name, signature);
}

// The C++ interface passes every variadic call on as its va_list form; both forms are served.
void JNICALL CallStaticVoidMethodV(JNIEnv*, jclass, jmethodID id, va_list args) {
    enter("CallStaticVoidMethod");
    const Method& method = *reinterpret_cast<Method*>(id);
    va_list copy;
    va_copy(copy, args);
    std::string decoded = decodeArguments(method.signature, copy);
    va_end(copy);
    record("call|" + method.className + "." + method.name + decoded);
    if (method.name == "main" && method.signature == "([Ljava/lang/String;)V") runMain(of(va_arg(args, jobject)));
}

void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    CallStaticVoidMethodV(env, cls, id, args);
    va_end(args);
}

jobject JNICALL CallStaticObjectMethodV(JNIEnv*, jclass, jmethodID id, va_list args) {
    enter("CallStaticObjectMethod");
    const Method& method = *reinterpret_cast<Method*>(id);
    std::string decoded = decodeArguments(method.signature, args);
    record((method.name == "setProperty" ? "setProperty" : "call|" + method.className + "." + method.name) + decoded);
    return nullptr;
}

jobject JNICALL CallStaticObjectMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jobject result = CallStaticObjectMethodV(env, cls, id, args);
    va_end(args);
    return result;
}

jobject JNICALL CallObjectMethodV(JNIEnv*, jobject receiver, jmethodID id, va_list) {
    enter("CallObjectMethod");
    const Method& method = *reinterpret_cast<Method*>(id);
    Object* object = of(receiver);
    record("CallObjectMethod|" + method.className + "." + method.name + "|" + (object ? describe(object) : "null"));
    if (method.name != "toString" || !object) return nullptr;
    return ref(make(Object::Kind::String, "java/lang/String", object->text));
}

jobject JNICALL CallObjectMethod(JNIEnv* env, jobject receiver, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jobject result = CallObjectMethodV(env, receiver, id, args);
    va_end(args);
    return result;
}

jstring JNICALL NewString(JNIEnv*, const jchar* chars, jsize length) {
    enter("NewString");
    std::u16string text(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
    record("NewString|" + utf8(text));
    if (script.outOfMemory.count("NewString")) {
        raise("java.lang.OutOfMemoryError", "NewString");
        return nullptr;
    }
    return reinterpret_cast<jstring>(make(Object::Kind::String, "java/lang/String", std::move(text)));
}

jstring JNICALL NewStringUTF(JNIEnv*, const char* text) {
    enter("NewStringUTF");
    record(std::string("NewStringUTF|") + text);
    return reinterpret_cast<jstring>(make(Object::Kind::String, "java/lang/String", utf16(text)));
}

jsize JNICALL GetStringLength(JNIEnv*, jstring string) {
    enter("GetStringLength");
    return static_cast<jsize>(of(string)->text.size());
}

// The characters are not terminated, as with a real virtual machine; what follows them shows a reader that
// ignores the length.
const jchar* JNICALL GetStringChars(JNIEnv*, jstring string, jboolean* isCopy) {
    enter("GetStringChars");
    Object* object = of(string);
    object->chars = object->text + u"<past the end>";
    if (isCopy) *isCopy = JNI_TRUE;
    return reinterpret_cast<const jchar*>(object->chars.c_str());
}

void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar*) {}

jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize length, jclass elementClass, jobject initial) {
    enter("NewObjectArray");
    record("NewObjectArray|" + std::to_string(length) + "|" + (elementClass ? of(elementClass)->name : "null"));
    if (script.outOfMemory.count("NewObjectArray")) {
        raise("java.lang.OutOfMemoryError", "NewObjectArray");
        return nullptr;
    }
    Object* array = make(Object::Kind::Array, "[Ljava/lang/String;");
    array->elements.assign(static_cast<size_t>(length), of(initial));
    return reinterpret_cast<jobjectArray>(array);
}

void JNICALL SetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
    enter("SetObjectArrayElement");
    Object* object = of(array);
    if (index < 0 || static_cast<size_t>(index) >= object->elements.size()) {
        record("SetObjectArrayElement out of bounds|" + std::to_string(index));
        raise("java.lang.ArrayIndexOutOfBoundsException", std::to_string(index));
        return;
    }
    object->elements[static_cast<size_t>(index)] = of(value);
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*) { return reinterpret_cast<jthrowable>(pending); }

void JNICALL ExceptionDescribe(JNIEnv*) {
    if (!pending) return;
    record("ExceptionDescribe|" + utf8(pending->text));
    std::fprintf(stderr, "Exception in thread \"main\" %s\n", utf8(pending->text).c_str());
    std::fflush(stderr);
    pending = nullptr;
}

void JNICALL ExceptionClear(JNIEnv*) {
    record("ExceptionClear|" + (pending ? utf8(pending->text) : std::string("none")));
    pending = nullptr;
}

void JNICALL DeleteLocalRef(JNIEnv*, jobject) {}

// ---- the JavaVM operations ----

jint JNICALL DestroyJavaVM(JavaVM*) {
    if (nonDaemonThread) {
        WaitForSingleObject(nonDaemonThread, INFINITE);
        CloseHandle(nonDaemonThread);
        nonDaemonThread = nullptr;
    }
    record("DestroyJavaVM");
    return JNI_OK;
}

// ---- every other slot ends the process, naming the slot ----

template <size_t Slot>
struct EnvTrap {
    static void JNICALL call() {
        record("unexpected JNI call " + std::to_string(Slot));
        ExitProcess(kUnexpectedCallExitCode);
    }
};

template <size_t Slot>
struct VmTrap {
    static void JNICALL call() {
        record("unexpected JavaVM call " + std::to_string(Slot));
        ExitProcess(kUnexpectedCallExitCode);
    }
};

template <typename Table, template <size_t> class Trap, size_t... Slots>
Table trapTable(std::index_sequence<Slots...>) {
    void* slots[] = {reinterpret_cast<void*>(&Trap<Slots>::call)...};
    static_assert(sizeof slots == sizeof(Table));
    Table table;
    std::memcpy(&table, slots, sizeof table);
    return table;
}

JNINativeInterface_ envTable;
JNIInvokeInterface_ vmTable;
JNIEnv_ env;
JavaVM_ vm;

[[maybe_unused]] void fillTables() {
    envTable = trapTable<JNINativeInterface_, EnvTrap>(
        std::make_index_sequence<sizeof(JNINativeInterface_) / sizeof(void*)>());
    envTable.FindClass = FindClass;
    envTable.GetStaticMethodID = GetStaticMethodID;
    envTable.GetMethodID = GetMethodID;
    envTable.CallStaticVoidMethod = CallStaticVoidMethod;
    envTable.CallStaticVoidMethodV = CallStaticVoidMethodV;
    envTable.CallStaticObjectMethod = CallStaticObjectMethod;
    envTable.CallStaticObjectMethodV = CallStaticObjectMethodV;
    envTable.CallObjectMethod = CallObjectMethod;
    envTable.CallObjectMethodV = CallObjectMethodV;
    envTable.NewString = NewString;
    envTable.NewStringUTF = NewStringUTF;
    envTable.GetStringLength = GetStringLength;
    envTable.GetStringChars = GetStringChars;
    envTable.ReleaseStringChars = ReleaseStringChars;
    envTable.NewObjectArray = NewObjectArray;
    envTable.SetObjectArrayElement = SetObjectArrayElement;
    envTable.ExceptionOccurred = ExceptionOccurred;
    envTable.ExceptionDescribe = ExceptionDescribe;
    envTable.ExceptionClear = ExceptionClear;
    envTable.DeleteLocalRef = DeleteLocalRef;
    env.functions = &envTable;

    vmTable = trapTable<JNIInvokeInterface_, VmTrap>(
        std::make_index_sequence<sizeof(JNIInvokeInterface_) / sizeof(void*)>());
    vmTable.DestroyJavaVM = DestroyJavaVM;
    vm.functions = &vmTable;
}

// The reservation of the calling thread's stack, from its allocation base up to its top.
[[maybe_unused]] size_t stackReservation() {
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    return static_cast<size_t>(high - low);
}

void recordLoad() {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(self, path, sizeof path);
    const char* crtPath = std::getenv("PATH");
    record("loaded|" + std::string(path, n) + "|PATH=" + environmentValue("PATH") +
           "|CRTPATH=" + (crtPath ? crtPath : "<unset>"));
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        recordLoad();
    }
    return TRUE;
}

#ifndef VEXLO_STANDIN_JVM_NO_EXPORT
extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vmOut, void** envOut, void* args) {
    // Taken before anything else, so that the benchmarks see when the launcher handed over.
    FILETIME entry, created, exited, kernel, user;
    GetSystemTimePreciseAsFileTime(&entry);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    auto* init = static_cast<JavaVMInitArgs*>(args);
    readScript();
    record("entry-time|" + std::to_string(ticks(entry)) + "|created=" + std::to_string(ticks(created)));
    char head[160];
    std::snprintf(head, sizeof head, "JNI_CreateJavaVM|version=0x%x|options=%d|ignoreUnrecognized=%d|stack=%llu",
                  init ? static_cast<unsigned>(init->version) : 0u, init ? static_cast<int>(init->nOptions) : -1,
                  init ? static_cast<int>(init->ignoreUnrecognized) : -1,
                  static_cast<unsigned long long>(stackReservation()));
    record(head);
    for (jint i = 0; init && i < init->nOptions; ++i) {
        const char* option = init->options[i].optionString;
        record(std::string("option|") + (option ? option : "<null>"));
    }
    if (script.createFails) {
        if (vmOut) *vmOut = nullptr;
        if (envOut) *envOut = nullptr;
        return JNI_ERR;
    }
    fillTables();
    if (vmOut) *vmOut = &vm;
    if (envOut) *envOut = &env;
    return JNI_OK;
}
#endif
