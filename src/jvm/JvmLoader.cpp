#include "jvm/JvmLoader.h"

#include "common/Environment.h"
#include "common/ProcAddress.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "jvm/SelectedRuntime.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/PathForms.h"

namespace vexlo {

namespace {
void preloadUcrtbase(const std::string& binDirectory);

CreateJavaVMFunction createJavaVM = nullptr;

void setPathLogged(const std::string& value) {
    unsigned long error = 0;
    if (setPathEverywhere(value, &error)) logMessage(L"Setting PATH %S", value.c_str());
    else logMessage(L"Setting PATH %S failed with error %d", value.c_str(), static_cast<int>(error));
}

}  // namespace

CreateJavaVMFunction createJavaVMEntry() { return createJavaVM; }

HMODULE loadJvmForJavaExe(const std::string& javaExe) {
    logMessage(L"Trying to load JVM-DLL from %S", javaExe.c_str());
    if (HMODULE library = detail::loadJvmFromBinDirectory(javaExe)) return library;
    std::string jreJava = javaExe.substr(0, detail::javaExeDirectoryLength(javaExe));
    jreJava += "\\..\\jre\\bin\\java.exe";
    return detail::loadJvmFromBinDirectory(jreJava);
}

HMODULE detail::loadJvmFromBinDirectory(const std::string& javaExe) {
    std::size_t length = detail::javaExeDirectoryLength(javaExe);
    if (length >= kBinDirectoryCapacity) {
        logMessage(L"Skipping %S: its directory is longer than %d characters", javaExe.c_str(),
                   static_cast<int>(kBinDirectoryCapacity - 1));
        return nullptr;
    }
    const std::string binDirectory = javaExe.substr(0, length);
    DllDirectoryCookie cookie = addConfiguredDllDirectory(binDirectory);
    preloadUcrtbase(binDirectory);

    const std::optional<std::string> oldPath = environmentValue("PATH");
    // The size counts the terminator, as the system's answer does; 0 for an absent PATH.
    const int oldSize = oldPath ? static_cast<int>(oldPath->size() + 1) : 0;
    std::string newPath = binDirectory + ";" + oldPath.value_or(std::string());
    unsigned long error = 0;
    if (setPathEverywhere(newPath, &error)) logMessage(L"Setting PATH %d %S", oldSize, newPath.c_str());
    else logMessage(L"Setting PATH %S failed with error %d", newPath.c_str(), static_cast<int>(error));

    HMODULE library = nullptr;
    char configured[kJvmSubdirectoryCapacity];
    getConfigString(ids::kJvmSubdirectory, configured, kJvmSubdirectoryCapacity);
    if (configured[0] != '\0') library = detail::tryJvmLibrary(binDirectory, configured);
    for (const char* subdirectory : kJvmSubdirectories) {
        if (library) break;
        library = detail::tryJvmLibrary(binDirectory, subdirectory);
    }
    if (!library) {
        if (removeDllDirectory(cookie)) logMessage(L"Removing DLL directory");
        setPathLogged(oldPath.value_or(std::string()));
    }
    return library;
}

HMODULE detail::tryJvmLibrary(const std::string& binDirectory, const char* subdirectory) {
    std::string path = binDirectory;
    path += '\\';
    path += subdirectory;
    path += "\\jvm.dll";
    bool exists = pathExists(path);
    logMessage(L"Trying %S (exists %d)", path.c_str(), exists ? 1 : 0);
    // Tried even when it seems absent: the system's own lookup has the last word.
    HMODULE library = LoadLibraryA(path.c_str());
    if (!library) {
        DWORD error = GetLastError();
        if (exists) logMessage(L"Failed with error code %d", static_cast<int>(error));
        return nullptr;
    }
    setRuntimeBinDirectory(binDirectory);
    return library;
}

DllDirectoryCookie addConfiguredDllDirectory(const std::string& directory) {
    if (getConfigInt(ids::kAddDllDirectories) == 0) return nullptr;
    wchar_t wide[kPathCapacity];
    int n = MultiByteToWideChar(fileApiCodePage(), 0, directory.c_str(), -1, wide, static_cast<int>(kPathCapacity));
    if (n == 0) return nullptr;
    logMessage(L"Adding DLL directory %s", wide);
    return addDllDirectory(wide);
}

namespace {

// On systems older than Windows 10 a runtime may ship its own C runtime, which must be loaded first.
void preloadUcrtbase(const std::string& binDirectory) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return;
    if (info.dwMajorVersion > 6 || (info.dwMajorVersion == 6 && info.dwMinorVersion >= 4)) return;
    std::string path = binDirectory + "\\ucrtbase.dll";
    if (!pathExists(path)) return;

    logMessage(L"Preloading ucrtbase.dll 4");
    char current[kPathCapacity];
    DWORD n = GetCurrentDirectoryA(kPathCapacity, current);
    if (n >= kPathCapacity) n = 0;
    // By name from the bin directory first, so that its own dependencies resolve there too.
    SetCurrentDirectoryA(binDirectory.c_str());
    if (!LoadLibraryA("ucrtbase.dll") && !LoadLibraryA(path.c_str())) logMessage(L"Could not preload ucrtbase.dll");
    if (n > 0) SetCurrentDirectoryA(current);
}

}  // namespace

bool resolveCreateJavaVM(HMODULE library) {
    if (!library) return false;
    auto entry = procAddress<CreateJavaVMFunction>(library, "JNI_CreateJavaVM");
    if (!entry) return false;
    createJavaVM = entry;
    return true;
}

void publishSelectedRuntime(const std::string& javaExe, const std::string& version) {
    setSelectedJavaHome(javaExe.substr(0, detail::javaExeDirectoryLength(javaExe)) + "\\..");
    setSelectedJavaVersion(version);
}

std::size_t detail::javaExeDirectoryLength(std::string_view javaExe) {
    constexpr std::string_view kJavaw = "javaw.exe";
    if (javaExe.size() >= kJavaw.size() + 1 && javaExe.substr(javaExe.size() - kJavaw.size()) == kJavaw)
        return javaExe.size() - 10;
    return javaExe.size() >= 9 ? javaExe.size() - 9 : 0;
}

}  // namespace vexlo
