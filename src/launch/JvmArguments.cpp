#include "launch/JvmArguments.h"

#include <windows.h>

#include <cstdlib>

#include "log/Log.h"

namespace vexlo {

namespace {
constexpr const char* kJavaOptionVariables[] = {"_JAVA_OPTIONS", "JDK_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS"};
}

void removeJavaOptionVariables() {
    for (const char* name : kJavaOptionVariables) SetEnvironmentVariableA(name, nullptr);
    for (const char* name : kJavaOptionVariables) _putenv_s(name, "");
    // A virtual machine built against the universal runtime reads that runtime's copy of the environment.
    if (HMODULE ucrt = GetModuleHandleA("ucrtbase.dll")) {
        using PutenvFn = errno_t(__cdecl*)(const char*, const char*);
        auto putenvS = reinterpret_cast<PutenvFn>(GetProcAddress(ucrt, "_putenv_s"));
        if (putenvS) {
            logMessage(L"using _putenv_s in ucrtbase.dll %p %p", reinterpret_cast<void*>(putenvS),
                       reinterpret_cast<void*>(&_putenv_s));
            for (const char* name : kJavaOptionVariables) putenvS(name, "");
        }
    }
}

}  // namespace vexlo
