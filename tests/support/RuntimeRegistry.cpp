#include "RuntimeRegistry.h"

#include <gtest/gtest.h>

#include <vector>

#include "StandinRuntimes.h"
#include "TestSupport.h"

namespace vexlo::test {

namespace {

const char* const kRuntimeKeys[] = {
    "SOFTWARE\\JavaSoft\\JRE",
    "SOFTWARE\\JavaSoft\\JDK",
    "SOFTWARE\\JavaSoft\\Java Runtime Environment",
    "SOFTWARE\\JavaSoft\\Java Development Kit",
    "SOFTWARE\\Microsoft\\JDK",
    "SOFTWARE\\Eclipse Adoptium\\JDK",
    "SOFTWARE\\Eclipse Adoptium\\JRE",
    "SOFTWARE\\Azul Systems\\Zulu",
    "SOFTWARE\\tarnwick\\vexlo\\locatedjvms",
    "SOFTWARE\\tarnwick\\quandrel\\installations",
};
constexpr char kProbeCacheKey[] = "SOFTWARE\\tarnwick\\vexlo\\jvms2";

void deleteTree(HKEY root, const char* path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
    RegDeleteTreeA(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExA(root, path, view, 0);
}

// Cache entries are named by the java.exe path with "/"; those below this process's temporary
// directories contain "/vt<pid>_".
void deleteOwnCacheEntries() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kProbeCacheKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    std::string marker = "/vt" + std::to_string(GetCurrentProcessId()) + "_";
    std::vector<std::string> doomed;
    char name[6000];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        LSTATUS status = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        std::string text(name, length);
        if (text.find(marker) != std::string::npos) doomed.push_back(text);
    }
    for (const std::string& text : doomed) {
        RegDeleteTreeA(key, text.c_str());
        RegDeleteKeyA(key, text.c_str());
    }
    RegCloseKey(key);
}

}  // namespace

RuntimeRegistryScope::RuntimeRegistryScope() : mutex_(CreateMutexW(nullptr, FALSE, L"vexlo-tests-runtime-registry")) {
    if (mutex_ == nullptr) {
        ADD_FAILURE() << "cannot create the registry test mutex: " << GetLastError();
    } else {
        // An abandoned mutex (a test process that crashed) is owned all the same.
        DWORD wait = WaitForSingleObject(mutex_, 240000);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) ADD_FAILURE() << "registry test mutex not acquired";
    }
    clearRuntimeRegistryKeys();
}

RuntimeRegistryScope::~RuntimeRegistryScope() {
    clearRuntimeRegistryKeys();
    deleteOwnCacheEntries();
    if (mutex_ != nullptr) {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
}

void clearRuntimeRegistryKeys() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        for (REGSAM view : {REGSAM{0}, REGSAM{KEY_WOW64_64KEY}}) {
            for (const char* path : kRuntimeKeys) deleteTree(root, path, view);
        }
    }
}

bool createRegistryKey(HKEY root, const std::string& keyPath, REGSAM view) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot create registry key " << keyPath << ": " << status;
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool setRegistryString(HKEY root, const std::string& keyPath, const std::string& valueName, const std::string& value,
                       REGSAM view) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view,
                                     nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExA(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot set registry value " << keyPath << "\\" << valueName << ": " << status;
        return false;
    }
    return true;
}

void makeStandinRuntime(const std::wstring& home, const std::string& version, bool jvm) {
    RuntimeLayout layout;
    layout.version = version;
    if (!jvm) layout.jvmDirs.clear();
    layOutRuntime(home, layout);
}

std::string asciiPath(std::wstring_view path) {
    std::string result;
    for (wchar_t c : path) result.push_back(static_cast<char>(c));
    return result;
}

}  // namespace vexlo::test
