// Stands in for a runtime's bin\unpack200.exe. Every run appends its command line, as received, as one line
// to unpack200_runs.txt beside it. It then "unpacks" by copying the second-to-last argument (the packed
// file) to the last one (the archive), and, when "-r" is among the arguments, removes the packed file as the
// real tool does, unless keep_packed.txt exists beside it.
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string ownDirectory() {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string full(path, n);
    return full.substr(0, full.find_last_of("\\/") + 1);
}

// Blank-separated tokens; double quotes group and are dropped (paths hold no quotes).
std::vector<std::string> tokens(const std::string& commandLine) {
    std::vector<std::string> result;
    std::string current;
    bool inQuotes = false;
    bool any = false;
    for (char c : commandLine) {
        if (c == '"') {
            inQuotes = !inQuotes;
            any = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (any) result.push_back(current);
            current.clear();
            any = false;
        } else {
            current.push_back(c);
            any = true;
        }
    }
    if (any) result.push_back(current);
    return result;
}

void appendLine(const std::string& path, const std::string& line) {
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
}

}  // namespace

int main() {
    std::string dir = ownDirectory();
    std::string commandLine = GetCommandLineA();
    appendLine(dir + "unpack200_runs.txt", commandLine + "\r\n");

    std::vector<std::string> args = tokens(commandLine);
    if (args.size() < 2) return 2;
    const std::string& packed = args[args.size() - 2];
    const std::string& archive = args.back();
    if (!CopyFileA(packed.c_str(), archive.c_str(), FALSE)) return 1;

    bool remove = false;
    for (std::size_t i = 0; i + 2 < args.size(); ++i) remove = remove || args[i] == "-r";
    if (remove && GetFileAttributesA((dir + "keep_packed.txt").c_str()) == INVALID_FILE_ATTRIBUTES) {
        DeleteFileA(packed.c_str());
    }
    return 0;
}
