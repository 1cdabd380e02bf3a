#include "paths/TempDirectories.h"

#include <windows.h>

#include "paths/ExecutablePath.h"

namespace vexlo {

std::string launcherTempDir;

std::wstring getTempDirectoryWide(bool /*required*/) {
    wchar_t buffer[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) return std::wstring();
    return std::wstring(buffer, n);
}

std::string getTempDirectory() { return wideToAnsi(getTempDirectoryWide(true)); }

void removeDirectoryContents(const std::string&, std::vector<std::string>*, std::vector<std::string>*, int) {}

}  // namespace vexlo
