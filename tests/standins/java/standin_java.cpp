// Stands in for a Java runtime's java.exe. Everything it does is steered by files beside it:
//   version.txt  - written as it is to standard error (the -version banner)
//   exitcode.txt - the decimal exit code (0 when absent)
//   hang.txt     - when present: close standard error, then sleep the milliseconds it holds (120000 when empty)
//   hang-open.txt - the same, but standard error stays open while it sleeps
// Every run appends one line to runs.txt:
//   <exe name>|<command line>|_JAVA_OPTIONS=<v>|JAVA_TOOL_OPTIONS=<v>|JDK_JAVA_OPTIONS=<v>
// where <v> is the value seen or <unset>.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string ownDirectory(std::string& exeName) {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string full(path, n);
    std::size_t slash = full.find_last_of("\\/");
    exeName = full.substr(slash + 1);
    return full.substr(0, slash + 1);
}

bool readFile(const std::string& path, std::string& content) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    content.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(h);
    return true;
}

std::string environmentValue(const char* name) {
    char value[32768];
    SetLastError(0);
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return "<unset>";
    if (n >= sizeof value) return "<too long>";
    return std::string(value, n);
}

void appendRun(const std::string& path, const std::string& line) {
    // Several runs may append at once; FILE_APPEND_DATA keeps each write whole.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
}

}  // namespace

int main() {
    std::string exeName;
    std::string dir = ownDirectory(exeName);

    std::string line = exeName + "|" + GetCommandLineA();
    for (const char* name : {"_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS", "JDK_JAVA_OPTIONS"}) {
        line += std::string("|") + name + "=" + environmentValue(name);
    }
    appendRun(dir + "runs.txt", line + "\r\n");

    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    std::string banner;
    if (readFile(dir + "version.txt", banner) && !banner.empty() && err != nullptr && err != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(err, banner.data(), static_cast<DWORD>(banner.size()), &written, nullptr);
    }

    std::string hang;
    if (readFile(dir + "hang-open.txt", hang)) {
        long ms = std::strtol(hang.c_str(), nullptr, 10);
        Sleep(ms > 0 ? static_cast<DWORD>(ms) : 120000);
    }
    if (readFile(dir + "hang.txt", hang)) {
        if (err != nullptr && err != INVALID_HANDLE_VALUE) CloseHandle(err);
        long ms = std::strtol(hang.c_str(), nullptr, 10);
        Sleep(ms > 0 ? static_cast<DWORD>(ms) : 120000);
    }

    std::string code;
    if (readFile(dir + "exitcode.txt", code)) return static_cast<int>(std::strtol(code.c_str(), nullptr, 10));
    return 0;
}
