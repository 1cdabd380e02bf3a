// Stands in for the installer kind's native helper library. Its registerNativesEx records how it was called
// in the stand-in virtual machine's record file (VEXLO_STANDIN_JVM_RECORD):
//   registerNativesEx|env=<set/null>|module=<self/other>|full=<0/1>|answer=<0/1>
// reports one line through the error callback it is given, and answers false when a file "fail" lies beside it.
#include <windows.h>

#include <jni.h>

#include <string>

#include "../StandinRecord.h"

namespace {

HMODULE self = nullptr;

std::string besideSelf(const char* name) {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(self, path, sizeof path);
    std::string file(path, n);
    return file.substr(0, file.find_last_of('\\') + 1) + name;
}

void record(const std::string& line) {
    standin::appendRecordLine(standin::recordPathFrom("VEXLO_STANDIN_JVM_RECORD"), line);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) bool registerNativesEx(JNIEnv* env, HMODULE module, bool full,
                                                        void (*report)(const wchar_t*, ...)) {
    bool answer = GetFileAttributesA(besideSelf("fail").c_str()) == INVALID_FILE_ATTRIBUTES;
    record(std::string("registerNativesEx|env=") + (env ? "set" : "null") + "|module=" +
           (module == self ? "self" : "other") + "|full=" + (full ? "1" : "0") + "|answer=" + (answer ? "1" : "0"));
    if (report) report(L"helper reports %s %d", L"through the callback", 42);
    return answer;
}
