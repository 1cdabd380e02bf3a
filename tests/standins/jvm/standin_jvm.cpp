// Stands in for a Java runtime's jvm.dll. It records what it is asked in the file named by the environment
// variable VEXLO_STANDIN_JVM_RECORD (nothing is recorded when it is unset), one line per event:
//   loaded|<this library's path>|PATH=<process environment PATH>|CRTPATH=<runtime library's PATH>
//   JNI_CreateJavaVM|version=<hex>|options=<count>
//   option|<option string>            (one per option, in order)
// It does not run a virtual machine: JNI_CreateJavaVM records its arguments and answers JNI_ERR.
#define _JNI_IMPLEMENTATION_
#include <windows.h>

#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HMODULE self = nullptr;

std::string environmentValue(const char* name) {
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) return "<unset>";
    std::string value(size, '\0');
    DWORD got = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(got < size ? got : 0);
    return value;
}

void record(const std::string& line) {
    std::string path = environmentValue("VEXLO_STANDIN_JVM_RECORD");
    if (path == "<unset>" || path.empty()) return;
    // Several processes may append at once; FILE_APPEND_DATA keeps each write whole.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
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
extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
    auto* init = static_cast<JavaVMInitArgs*>(args);
    char head[96];
    std::snprintf(head, sizeof head, "JNI_CreateJavaVM|version=0x%x|options=%d", init ? static_cast<unsigned>(init->version) : 0u,
                  init ? static_cast<int>(init->nOptions) : -1);
    record(head);
    for (jint i = 0; init && i < init->nOptions; ++i) {
        const char* option = init->options[i].optionString;
        record(std::string("option|") + (option ? option : "<null>"));
    }
    if (vm) *vm = nullptr;
    if (env) *env = nullptr;
    return JNI_ERR;
}
#endif
