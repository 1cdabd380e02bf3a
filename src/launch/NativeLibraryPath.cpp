#include "launch/NativeLibraryPath.h"

#include <windows.h>

#include <string>

#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "log/Log.h"

namespace vexlo {

void reducePath() {
    if (getConfigInt(ids::kReducePath) == 0) return;
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0) return;
    std::wstring path(size, L'\0');
    DWORD got = GetEnvironmentVariableW(L"PATH", path.data(), size);
    if (got == 0 || got >= size) return;
    path.resize(got);

    wchar_t windowsDir[260];
    UINT n = GetWindowsDirectoryW(windowsDir, 260);
    if (n == 0 || n >= 260) return;
    logMessage(L"reducing PATH %d %d %s", static_cast<int>(n), static_cast<int>(size), path.c_str());

    std::wstring reduced;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring entry = path.substr(start, end - start);
        if (!entry.empty() && entry.size() >= n &&
            CompareStringOrdinal(entry.c_str(), static_cast<int>(n), windowsDir, static_cast<int>(n), TRUE) ==
                CSTR_EQUAL) {
            if (!reduced.empty()) reduced += L';';
            reduced += entry;
        }
        start = end + 1;
    }
    logMessage(L"reduced PATH %d to %s", static_cast<int>(reduced.size()), reduced.c_str());
    if (!reduced.empty() && !SetEnvironmentVariableW(L"PATH", reduced.c_str())) logMessage(L"ERROR setting path");
}

}  // namespace vexlo
