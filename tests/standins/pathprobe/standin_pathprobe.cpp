// Prints the path forms that the launcher's code computes for this executable, one "name=value" per line:
// 8-bit values as their raw bytes, wide values as UTF-8.
#include <windows.h>

#include <cstdio>
#include <string>

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

}  // namespace

int main() {
    using namespace vexlo;
    line("ansi", executablePathAnsi());
    line("long", utf8(executablePathLong()));
    line("dirAnsi", exeDirAnsi());
    line("dirAnsiWide", utf8(exeDirAnsiWide()));
    line("dirLong", utf8(exeDirLong()));
    line("resolved", resolvePath("lib\\a.jar"));
    line("canonical", canonicalPathAnsi(executablePathAnsi(), false));
    line("ansiExists", pathExists(executablePathAnsi()) ? "1" : "0");
    line("tempAnsi", getTempDirectory());
    line("tempWide", utf8(getTempDirectoryWide(true)));
    std::fflush(stdout);
    return 0;
}
