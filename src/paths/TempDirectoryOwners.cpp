#include "paths/TempDirectoryOwners.h"

#include <windows.h>

#include <vector>

#include "common/Handles.h"
#include "log/Log.h"
#include "paths/TempDirectories.h"

namespace vexlo {

namespace {

// The marker of this process's own directory, open until the process ends or removes the directory.
unique_file& heldMarker() {
    static unique_file marker;
    return marker;
}

constexpr DWORD kMaxMarkerBytes = 2 * 32768;

std::string withBackslash(std::string path) {
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

// The executable named in an opened marker.
std::wstring readOwner(HANDLE marker) {
    std::vector<wchar_t> buffer(kMaxMarkerBytes / sizeof(wchar_t));
    DWORD read = 0;
    if (!ReadFile(marker, buffer.data(), kMaxMarkerBytes, &read, nullptr)) return {};
    return std::wstring(buffer.data(), read / sizeof(wchar_t));
}

bool sameExecutable(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Deleting through the open handle leaves no moment in which another process could open the marker and so
// keep it (and with it the directory) in place.
bool deleteOnClose(HANDLE marker) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(marker, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Empties and removes one abandoned directory while holding its marker exclusively, so that no second
// cleaner works on it at the same time. The marker goes last, and only when everything else went.
bool removeAbandoned(const std::string& directory, unique_file marker) {
    const std::string markerPath = withBackslash(directory) + kOwnerMarkerName;
    std::vector<std::string> filesLeft, directoriesLeft;
    // Deeper than any included file's path, so that an emptied directory can go.
    removeDirectoryContents(directory, &filesLeft, &directoriesLeft, 8);
    const bool onlyMarkerLeft = directoriesLeft.empty() && filesLeft.size() == 1 &&
                                CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, filesLeft[0].c_str(), -1,
                                               markerPath.c_str(), -1) == CSTR_EQUAL;
    if (!onlyMarkerLeft) {
        logMessage(L"leaving %S for a later run: %d files in use", directory.c_str(),
                   static_cast<int>(filesLeft.size() + directoriesLeft.size()) - 1);
        return false;
    }
    if (!deleteOnClose(marker.get())) return false;
    marker.reset();
    if (!RemoveDirectoryA(directory.c_str())) {
        logMessage(L"could not remove %S (%d)", directory.c_str(), static_cast<int>(GetLastError()));
        return false;
    }
    removeLauncherTempNameFile(directory);
    return true;
}

}  // namespace

bool markLauncherTempDirectory(const std::string& directory, const std::wstring& executable) {
    const std::string path = withBackslash(directory) + kOwnerMarkerName;
    // Read and write sharing lets a later run read the owner; without delete sharing nobody removes it.
    unique_file marker(CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(executable.size() * sizeof(wchar_t));
    if (!marker || !WriteFile(marker.get(), executable.data(), size, &written, nullptr) || written != size) {
        logMessage(L"could not mark %S as ours (%d)", directory.c_str(), static_cast<int>(GetLastError()));
        return false;
    }
    heldMarker() = std::move(marker);
    return true;
}

void releaseLauncherTempDirectoryMarker(bool remove) {
    if (remove && heldMarker()) deleteOnClose(heldMarker().get());
    heldMarker().reset();
}

int removeAbandonedLauncherTempDirectories(const std::string& tempDirectory, const std::wstring& executable) {
    if (tempDirectory.empty()) return 0;
    const std::string prefix = withBackslash(tempDirectory);
    WIN32_FIND_DATAA data;
    unique_find find(FindFirstFileA((prefix + "vxl*.tmp_dir*").c_str(), &data));
    if (!find) return 0;
    std::vector<std::string> candidates;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) candidates.push_back(prefix + data.cFileName);
    } while (FindNextFileA(find.get(), &data));
    find.reset();

    int removed = 0;
    for (const std::string& directory : candidates) {
        // No sharing at all: this open fails while the owner lives (or another run is cleaning it up).
        unique_file marker(CreateFileA((withBackslash(directory) + kOwnerMarkerName).c_str(), GENERIC_READ | DELETE, 0,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!marker || !sameExecutable(readOwner(marker.get()), executable)) continue;
        logMessage(L"removing %S of an earlier run", directory.c_str());
        if (removeAbandoned(directory, std::move(marker))) ++removed;
    }
    return removed;
}

}  // namespace vexlo
