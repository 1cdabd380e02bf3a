// Runs the launcher's own path code inside a program that tests can place anywhere.
// Without arguments: prints the path forms computed for this executable, one "name=value" per line (8-bit
// values as their raw bytes, wide values as UTF-8).
// "exit-deep" / "exit-shallow": creates the launcher temporary directory, fills it as extraction might (with or
// without a file two levels down), prints its path and ends through exitLauncher(1).
// "extract": reads the block appended to this copy, extracts its included files as a launch does and prints
// the result, the launcher temporary directory and the unextracted-data position; the directory stays, as
// after a normal run.
// "temp-vanishes": reads the block appended to this copy, chooses the temporary directory, removes it again
// and then asks for the launcher temporary directory, which can no longer be created.
#include <windows.h>

#include <cstdio>
#include <string>

#include "config/ConfigBlock.h"
#include "extract/IncludedFiles.h"
#include "process/LauncherState.h"
#include "paths/ExecutablePath.h"
#include "paths/PathForms.h"
#include "paths/TempDirectories.h"

namespace {

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

void line(const char* name, const std::string& value) { std::printf("%s=%s\n", name, value.c_str()); }

void writeFile(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, "x", 1, &written, nullptr);
        CloseHandle(h);
    }
}

[[noreturn]] void exitAfterFilling(bool deep) {
    using namespace vexlo;
    createLauncherTempDirectory();
    const std::string dir = launcherTempDir;
    writeFile(dir + "\\top.jar");
    CreateDirectoryA((dir + "\\lib").c_str(), nullptr);
    writeFile(dir + "\\lib\\one.dll");
    CreateDirectoryA((dir + "\\lib\\empty").c_str(), nullptr);
    if (deep) {
        CreateDirectoryA((dir + "\\lib\\deep").c_str(), nullptr);
        writeFile(dir + "\\lib\\deep\\two.txt");
    }
    line("launcherTempDir", dir);
    std::fflush(stdout);
    exitLauncher(1);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vexlo;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit-deep" || mode == "exit-shallow") exitAfterFilling(mode == "exit-deep");
    if (mode == "extract") {
        readConfigFirstPass();
        readConfigSecondPass();
        const int result = extractIncludedFiles(true);
        line("result", std::to_string(result));
        line("launcherTempDir", launcherTempDir);
        line("unextractedPosition", std::to_string(unextractedPosition));
        std::fflush(stdout);
        return 0;
    }
    if (mode == "temp-vanishes") {
        readConfigFirstPass();
        readConfigSecondPass();
        const std::string temp = getTempDirectory();
        line("temp", temp);
        std::fflush(stdout);
        RemoveDirectoryA(temp.c_str());
        createLauncherTempDirectory();
        line("launcherTempDir", launcherTempDir);
        return 0;
    }
    line("ansi", executablePathAnsi());
    line("long", utf8(executablePathLong()));
    line("dirAnsi", exeDirAnsi());
    line("dirAnsiWide", utf8(exeDirAnsiWide()));
    line("dirLong", utf8(exeDirLong()));
    line("resolved", detail::resolvePath("lib\\a.jar"));
    line("canonical", canonicalPathAnsi(executablePathAnsi(), false));
    line("ansiExists", pathExists(executablePathAnsi()) ? "1" : "0");
    line("tempAnsi", getTempDirectory());
    line("tempWide", utf8(getTempDirectoryWide(true)));
    std::fflush(stdout);
    return 0;
}
