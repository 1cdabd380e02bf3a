#include "paths/TempDirectories.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdlib>
#include <ctime>
#include <iterator>
#include <optional>
#include <type_traits>
#include <vector>

#include "common/Buffers.h"
#include "common/CharApi.h"
#include "common/Environment.h"
#include "common/Format.h"
#include "common/ProcAddress.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "config/MessageErrors.h"
#include "log/Log.h"
#include "paths/LogDirectory.h"
#include "paths/PathForms.h"
#include "process/LauncherState.h"

namespace vexlo {

std::string launcherTempDir;

namespace {

struct TempDirectoryState {
    bool chosen = false;
    std::string ansi;
    std::wstring wide;
};

TempDirectoryState& tempState() {
    static TempDirectoryState s;
    return s;
}

using FolderPathA = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
using FolderPathW = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);

struct FolderFunctions {
    FolderPathA ansi = nullptr;
    FolderPathW wide = nullptr;
};

// Looked up by name once: either may be missing, and then the folder candidates are skipped.
const FolderFunctions& folderFunctions() {
    static const FolderFunctions functions = [] {
        FolderFunctions f;
        HMODULE shell = LoadLibraryA("shell32.dll");  // stays loaded for the process
        if (shell) {
            f.ansi = procAddress<FolderPathA>(shell, "SHGetFolderPathA");
            f.wide = procAddress<FolderPathW>(shell, "SHGetFolderPathW");
        }
        return f;
    }();
    return functions;
}

template <typename Char>
bool containsBang(std::basic_string_view<Char> path) {
    if (!path.empty() && path.back() == Char('!')) return true;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        if (path[i] == Char('!') && path[i + 1] == Char('\\')) return true;
    }
    return false;
}

void seedProbeRandom() {
    srand(static_cast<unsigned>(static_cast<unsigned long long>(time(nullptr)) * GetCurrentProcessId()));
}

std::string probeName(const std::string& dir) {
    return dir + "\\vxltw" + narrowAscii(formatWide(L"%d%d", static_cast<int>(GetCurrentProcessId()), rand()));
}
std::wstring probeName(const std::wstring& dir) {
    return formatWide(L"%s\\vxltw%d%d", dir.c_str(), static_cast<int>(GetCurrentProcessId()), rand());
}
bool exists(const std::string& path) { return pathExists(path); }
bool exists(const std::wstring& path) { return pathExistsWide(path); }

// A directory is usable when a fresh subdirectory can be created in it and then found.
template <typename Char>
bool writeProbe(const std::basic_string<Char>& dir) {
    seedProbeRandom();
    const std::basic_string<Char> probe = probeName(dir);
    charapi::removeDirectory(probe.c_str());
    if (!charapi::createDirectory(probe.c_str())) return false;
    bool usable = exists(probe);
    charapi::removeDirectory(probe.c_str());
    return usable;
}

// Precomposition must leave the length unchanged, or the 8-bit and wide forms may name different things.
bool foldsCleanly(const std::wstring& path, std::wstring& folded) {
    std::vector<wchar_t> buffer(kPathCapacity - 1);
    int n = FoldStringW(MAP_PRECOMPOSED, path.c_str(), -1, buffer.data(), static_cast<int>(buffer.size()));
    folded = n > 0 ? std::wstring(buffer.data()) : std::wstring();
    return n > 0 && folded.size() == path.size();
}

enum class Candidate {
    LocalAppData,
    TempPath,
    UserProfile,
    HomeDrivePath,
    CommonAppData,
    WindowsTemp,
    CTemp,
    CTmp,
    WindowsDir,
};

template <typename Char>
std::optional<std::basic_string<Char>> windowsDirectory() {
    std::vector<Char> buffer(kPathCapacity);
    UINT n = charapi::getWindowsDirectory(buffer.data(), kPathCapacity);
    if (!fitsBuffer(n)) return std::nullopt;
    return std::basic_string<Char>(buffer.data(), n);
}

template <typename Char>
std::optional<std::basic_string<Char>> tempPath() {
    std::vector<Char> buffer(kPathCapacity);
    DWORD n = charapi::getTempPath(kPathCapacity, buffer.data());
    if (!fitsBuffer(n)) return std::nullopt;
    return std::basic_string<Char>(buffer.data(), n);
}

HRESULT folderPath(const FolderFunctions& f, int folder, char* buffer) {
    return f.ansi(nullptr, folder, nullptr, 0, buffer);
}
HRESULT folderPath(const FolderFunctions& f, int folder, wchar_t* buffer) {
    return f.wide(nullptr, folder, nullptr, 0, buffer);
}

// The 8-bit or the wide form of a literal, whichever the form being built needs.
template <typename Char>
constexpr const Char* literal(const char* ansi, const wchar_t* wide) {
    if constexpr (std::is_same_v<Char, char>) {
        return ansi;
    } else {
        return wide;
    }
}
#define VEXLO_LITERAL(Char, text) literal<Char>(text, L##text)

// A folder candidate: the shell folder, its "quandrel" subdirectory (created), then the last component.
template <typename Char>
std::optional<std::basic_string<Char>> shellFolder(int csidl, const Char* leaf) {
    const FolderFunctions& f = folderFunctions();
    if (!f.ansi || !f.wide) return std::nullopt;
    Char buffer[MAX_PATH + 1] = {};
    if (folderPath(f, csidl, buffer) != 0 || buffer[0] == Char(0)) return std::nullopt;
    std::basic_string<Char> path = std::basic_string<Char>(buffer) + VEXLO_LITERAL(Char, "\\quandrel");
    charapi::createDirectory(path.c_str());
    return path + leaf;
}

template <typename Char>
std::optional<std::basic_string<Char>> candidate(Candidate c) {
    switch (c) {
        case Candidate::LocalAppData: return shellFolder(CSIDL_LOCAL_APPDATA, VEXLO_LITERAL(Char, "\\t"));
        case Candidate::TempPath: return tempPath<Char>();
        case Candidate::UserProfile: {
            auto profile = environmentValue(VEXLO_LITERAL(Char, "USERPROFILE"), kPathCapacity);
            if (!profile) return std::nullopt;
            return *profile + VEXLO_LITERAL(Char, "\\AppData\\Local\\Temp");
        }
        case Candidate::HomeDrivePath: {
            auto drive = environmentValue(VEXLO_LITERAL(Char, "HOMEDRIVE"), kPathCapacity);
            if (!drive) return std::nullopt;
            auto path = environmentValue(VEXLO_LITERAL(Char, "HOMEPATH"), kPathCapacity - drive->size());
            if (!path) return std::nullopt;
            return *drive + *path;
        }
        case Candidate::CommonAppData: return shellFolder(CSIDL_COMMON_APPDATA, VEXLO_LITERAL(Char, "\\temp"));
        case Candidate::WindowsTemp: {
            auto windows = windowsDirectory<Char>();
            if (!windows) return std::nullopt;
            return *windows + VEXLO_LITERAL(Char, "\\temp");
        }
        case Candidate::CTemp: return std::basic_string<Char>(VEXLO_LITERAL(Char, "c:\\temp"));
        case Candidate::CTmp: return std::basic_string<Char>(VEXLO_LITERAL(Char, "c:\\tmp"));
        case Candidate::WindowsDir: return windowsDirectory<Char>();
    }
    return std::nullopt;
}

struct CandidateRow {
    Candidate candidate;
    bool create;
    bool requireLong;  // 8-bit test; the wide test checks the long form under the same condition
    bool preferLong;   // whether configuration id 10009 applies
    bool secondPass;   // retried only when its first-pass test reported no bang
};

struct Outcome {
    bool taken = false;
    bool bang = false;
};

// Run on the way out of a failed launch: nothing extracted for it stays behind.
void removeLauncherTempDirectory() {
    if (launcherTempDir.empty()) return;
    removeDirectoryContents(launcherTempDir, nullptr, nullptr, 1);
    if (RemoveDirectoryA(launcherTempDir.c_str())) removeLauncherTempNameFile(launcherTempDir);
}

Outcome tryCandidate(const CandidateRow& row, bool preferLong) {
    Outcome outcome;
    auto ansi = candidate<char>(row.candidate);
    if (!ansi) return outcome;
    bool bang = false;
    bool usable = detail::tempDirUsableAnsi(*ansi, row.create, row.requireLong, row.preferLong && preferLong, bang);
    outcome.bang = bang;
    if (!usable) return outcome;
    auto wide = candidate<wchar_t>(row.candidate);
    if (!wide) return outcome;
    usable = detail::tempDirUsableWide(*wide, row.create, row.requireLong, bang);
    outcome.bang = outcome.bang || bang;
    if (!usable) return outcome;
    TempDirectoryState& s = tempState();
    s.ansi = std::move(*ansi);
    s.wide = std::move(*wide);
    s.chosen = true;
    outcome.taken = true;
    return outcome;
}

}  // namespace

bool detail::hasBang(std::string_view path) { return containsBang(path); }
bool detail::hasBang(std::wstring_view path) { return containsBang(path); }

bool detail::tempDirUsableAnsi(std::string& path, bool create, bool requireLong, bool preferLong, bool& bang) {
    bang = false;
    if (path.empty()) return false;
    if (create) CreateDirectoryA(path.c_str(), nullptr);
    if (detail::hasBang(path)) {
        bang = true;
        return false;
    }
    if (requireLong || preferLong) {
        DWORD size = GetLongPathNameA(path.c_str(), nullptr, 0);
        if (size > 0) {
            std::vector<char> buffer(size + 10);
            DWORD n = GetLongPathNameA(path.c_str(), buffer.data(), size + 10);
            if (n > 0 && n < size + 10) {
                std::string longForm(buffer.data(), n);
                bang = detail::hasBang(longForm);
                if (bang || longForm.find('?') != std::string::npos) {
                    if (bang || requireLong) return false;
                } else if (preferLong && longForm.size() < kPathCapacity && longForm != path) {
                    logMessage(L"using long path %S", longForm.c_str());
                    path = std::move(longForm);
                }
            }
        }
    }
    return writeProbe(path);
}

bool detail::tempDirUsableWide(const std::wstring& path, bool create, bool checkLong, bool& bang) {
    bang = false;
    if (path.empty()) return false;
    if (create) CreateDirectoryW(path.c_str(), nullptr);
    if (detail::hasBang(path)) {
        bang = true;
        return false;
    }
    std::wstring folded;
    if (!foldsCleanly(path, folded)) {
        logMessage(L"folding error %s %d %s %d", folded.c_str(), static_cast<int>(folded.size()), path.c_str(),
                   static_cast<int>(path.size()));
        return false;
    }
    if (!checkLong) return writeProbe(path);

    std::vector<wchar_t> buffer(kPathCapacity);
    DWORD n = GetLongPathNameW(path.c_str(), buffer.data(), kPathCapacity);
    // Without a long form there is nothing more to check, as in the 8-bit test.
    if (!fitsBuffer(n)) return writeProbe(path);
    std::wstring longForm(buffer.data(), n);
    bang = detail::hasBang(longForm);
    if (bang || longForm.find(L'?') != std::wstring::npos) return false;
    if (!foldsCleanly(longForm, folded)) {
        logMessage(L"folding error2 %s %d %s %d", folded.c_str(), static_cast<int>(folded.size()), longForm.c_str(),
                   static_cast<int>(longForm.size()));
        return false;
    }
    return writeProbe(path);
}

namespace {

// The search over the fixed candidate list; true when a directory was chosen (both forms set).
bool findTempDirectory() {
    TempDirectoryState& s = tempState();
    s = TempDirectoryState{};
    bool preferLong = getConfigInt(ids::kPreferLongTempPath) != 0;
    bool useLocalAppData = getConfigInt(ids::kTempInLocalAppData) != 0;

    static constexpr CandidateRow firstPass[] = {
        {Candidate::LocalAppData, true, true, true, false},  {Candidate::TempPath, true, true, true, false},
        {Candidate::UserProfile, false, true, true, false},  {Candidate::HomeDrivePath, false, true, true, false},
        {Candidate::CommonAppData, true, true, true, false}, {Candidate::WindowsTemp, false, false, false, false},
        {Candidate::CTemp, false, false, false, false},      {Candidate::CTmp, false, false, false, false},
        {Candidate::WindowsDir, false, false, false, false}, {Candidate::CTmp, true, false, false, false},
    };
    // Candidates 1 to 4 again, this time accepting a long form that the code page cannot express.
    static constexpr CandidateRow secondPass[] = {
        {Candidate::LocalAppData, true, false, true, true},
        {Candidate::TempPath, true, false, true, true},
        {Candidate::UserProfile, false, false, true, true},
        {Candidate::HomeDrivePath, false, false, true, true},
    };

    bool banged[4] = {false, false, false, false};
    for (size_t i = 0; i < std::size(firstPass); ++i) {
        if (firstPass[i].candidate == Candidate::LocalAppData && !useLocalAppData) continue;
        Outcome outcome = tryCandidate(firstPass[i], preferLong);
        if (outcome.taken) return true;
        if (i < 4) banged[i] = outcome.bang;
    }
    for (size_t i = 0; i < std::size(secondPass); ++i) {
        if (secondPass[i].candidate == Candidate::LocalAppData && !useLocalAppData) continue;
        if (banged[i]) continue;
        if (tryCandidate(secondPass[i], preferLong).taken) return true;
    }
    s = TempDirectoryState{};
    return false;
}

}  // namespace

std::string getTempDirectory() {
    if (!tempState().chosen && !findTempDirectory()) fatalMessageError(ids::kMsgNoTempDirectory);
    return tempState().ansi;
}

std::wstring getTempDirectoryWide(bool required) {
    if (!tempState().chosen && !findTempDirectory()) {
        if (required) fatalMessageError(ids::kMsgNoTempDirectory);
        return std::wstring();
    }
    return tempState().wide;
}

std::wstring logDirectory() { return getTempDirectoryWide(false); }

void resetTempDirectoryForTests() { tempState() = TempDirectoryState{}; }

std::string detail::launcherTempNameFile(const std::string& directory) {
    const size_t at = directory.rfind("_dir");
    if (at == std::string::npos || at < 4) return {};
    // Only the form GetTempFileNameA made; the fallback name has no file.
    std::string name = directory.substr(0, at);
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str() + name.size() - 4, 4, ".tmp", 4) == CSTR_EQUAL
               ? name
               : std::string();
}

void removeLauncherTempNameFile(const std::string& directory) {
    const std::string nameFile = detail::launcherTempNameFile(directory);
    if (!nameFile.empty()) DeleteFileA(nameFile.c_str());
}

std::string detail::createTempFileName() {
    std::string dir = getTempDirectory();
    logMessage(L"tempPath is %S", dir.c_str());
    std::vector<char> buffer(kPathCapacity);
    std::string name;
    if (GetTempFileNameA(dir.c_str(), "vxl", 0, buffer.data()) != 0) {
        name = buffer.data();
    } else {
        logMessage(L"GetTempFileName failed (last error %d)", static_cast<int>(GetLastError()));
        name = dir;
        if (name.empty() || (name.back() != '\\' && name.back() != '/')) name += '\\';
        seedProbeRandom();
        name += "vxl" + std::to_string(rand());
    }
    logMessage(L"tempFile is %S", name.c_str());
    return name;
}

local_ptr<void> detail::buildLauncherTempDirDescriptor() {
    local_ptr<void> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kLauncherTempDirSddl, SDDL_REVISION_1, descriptor.put(),
                                                              nullptr)) {
        return local_ptr<void>();
    }
    return descriptor;
}

void createLauncherTempDirectory() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::string fileName = detail::createTempFileName();
        launcherTempDir = fileName + "_dir" + std::to_string(static_cast<long long>(time(nullptr)));
        logMessage(L"Temp dir3: %S", launcherTempDir.c_str());

        BOOL created;
        local_ptr<void> descriptor = detail::buildLauncherTempDirDescriptor();
        if (descriptor) {
            SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
            created = CreateDirectoryA(launcherTempDir.c_str(), &attributes);
        } else {
            logMessage(L"Failed to create security descriptor %d", static_cast<int>(GetLastError()));
            created = CreateDirectoryA(launcherTempDir.c_str(), nullptr);
        }
        if (created) {
            setExitCleanup(removeLauncherTempDirectory);
            return;
        }
        logMessage(L"Could not create dir (%d)", static_cast<int>(GetLastError()));
    }
    launcherTempDir.clear();
    fatalMessageError(ids::kMsgLaunchFailed, std::string("7"));
}

void removeDirectoryContents(const std::string& directory, std::vector<std::string>* filesLeft,
                             std::vector<std::string>* directoriesLeft, int depth) {
    // A relative path would depend on the working directory: never empty one.
    if (directory.empty() || directory[0] == '.') return;
    logMessage(L"emptying %S", directory.c_str());
    std::string prefix = directory;
    if (prefix.back() != '\\') prefix += '\\';

    WIN32_FIND_DATAA data;
    unique_find find(FindFirstFileA((prefix + "*.*").c_str(), &data));
    if (!find) return;
    do {
        std::string entry = data.cFileName;
        if (entry == "." || entry == "..") continue;
        std::string fullName = prefix + entry;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            logMessage(L"attempting to remove %S (%d)", fullName.c_str(), depth);
            if (depth > 0) removeDirectoryContents(fullName, filesLeft, directoriesLeft, depth - 1);
            if (!RemoveDirectoryA(fullName.c_str()) && directoriesLeft) directoriesLeft->push_back(fullName);
        } else {
            logMessage(L"attempting to delete %S", fullName.c_str());
            if (!DeleteFileA(fullName.c_str()) && filesLeft) filesLeft->push_back(fullName);
        }
    } while (FindNextFileA(find.get(), &data));
}

}  // namespace vexlo
