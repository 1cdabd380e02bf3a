#include "paths/PathForms.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/Handles.h"
#include "common/TextLists.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"

namespace vexlo {
namespace {

template <typename Char>
bool isRelative(std::basic_string_view<Char> path) {
    if (path.size() < 3) return true;
    if (path[0] == Char('"')) {
        if (path.size() < 4) return true;
        path.remove_prefix(1);
    }
    if (path[1] == Char(':') && path[2] == Char('\\')) return false;
    if (path[0] == Char('\\') && path[1] == Char('\\')) return false;
    return true;
}


// The directory part of a base file as GetFullPathName gives it, trailing backslash included.
std::string directoryOfAnsi(std::string_view baseFile) {
    std::string base(baseFile);
    std::vector<char> buffer(kPathCapacity);
    char* filePart = nullptr;
    DWORD n = GetFullPathNameA(base.c_str(), kPathCapacity, buffer.data(), &filePart);
    if (fitsBuffer(n)) return std::string(buffer.data(), filePart ? static_cast<size_t>(filePart - buffer.data()) : n);
    size_t cut = base.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : base.substr(0, cut + 1);
}

std::wstring directoryOfWide(std::wstring_view baseFile) {
    std::wstring base(baseFile);
    std::vector<wchar_t> buffer(kPathCapacity);
    wchar_t* filePart = nullptr;
    DWORD n = GetFullPathNameW(base.c_str(), kPathCapacity, buffer.data(), &filePart);
    if (fitsBuffer(n)) return std::wstring(buffer.data(), filePart ? static_cast<size_t>(filePart - buffer.data()) : n);
    size_t cut = base.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : base.substr(0, cut + 1);
}

template <typename Char>
bool isDriveRoot(std::basic_string_view<Char> path) {
    if (path.size() <= 1) return false;
    std::basic_string_view<Char> rest = path.substr(1);
    static constexpr Char root[] = {':', '\\', 0};
    static constexpr Char rootDot[] = {':', '\\', '.', 0};
    static constexpr Char rootDotDot[] = {':', '\\', '.', '\\', '.', 0};
    return rest == root || rest == rootDot || rest == rootDotDot;
}

unsigned long long fileTimeValue(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

bool isRelativePath(std::string_view path) { return isRelative(path); }
bool isRelativePath(std::wstring_view path) { return isRelative(path); }



void lowerCasePathWide(std::wstring& path) {
    for (wchar_t& c : path) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
}

void lowerCasePathAnsi(std::string& path) {
    std::wstring wide;
    if (!ansiToWide(path, wide)) return;
    lowerCasePathWide(wide);
    bool substituted = false;
    std::string back = wideToAnsi(wide, &substituted);
    if (!substituted) path = std::move(back);
}

void appendResolvedPath(std::string& target, std::string_view path, std::string_view baseFile) {
    size_t mark = target.size();
    if (isRelativePath(path)) target += baseFile.empty() ? exeDirAnsi() : directoryOfAnsi(baseFile);
    target += path;
    collapseBackslashesAnsi(target, mark);
}

void appendResolvedPathWide(std::wstring& target, std::wstring_view path, bool useAnsiDir,
                            std::wstring_view baseFile) {
    size_t mark = target.size();
    if (isRelativePath(path)) {
        if (!baseFile.empty()) {
            target += directoryOfWide(baseFile);
        } else {
            target += useAnsiDir ? exeDirAnsiWide() : exeDirLong();
        }
    }
    target += path;
    collapseBackslashes(target, mark);
}

std::string resolvePath(std::string_view path, std::string_view baseFile) {
    std::string target;
    appendResolvedPath(target, path, baseFile);
    return target;
}

std::wstring resolvePathWide(std::wstring_view path, bool useAnsiDir, std::wstring_view baseFile) {
    std::wstring target;
    appendResolvedPathWide(target, path, useAnsiDir, baseFile);
    return target;
}

std::string canonicalPathAnsi(std::string_view path, bool keepCase) {
    std::string resolved = resolvePath(path);
    std::vector<char> buffer(kPathCapacity);
    DWORD n = GetFullPathNameA(resolved.c_str(), kPathCapacity, buffer.data(), nullptr);
    if (!fitsBuffer(n)) {
        logError(L"could not get canonical path for %S.", std::string(path).c_str());
        return resolved;
    }
    std::string canonical(buffer.data(), n);
    if (!keepCase) lowerCasePathAnsi(canonical);
    collapseBackslashesAnsi(canonical, 0);
    return canonical;
}

std::wstring canonicalPathWide(std::wstring_view path, bool useAnsiDir, bool keepCase) {
    std::wstring resolved = resolvePathWide(path, useAnsiDir);
    std::vector<wchar_t> buffer(kPathCapacity);
    DWORD n = GetFullPathNameW(resolved.c_str(), kPathCapacity, buffer.data(), nullptr);
    if (!fitsBuffer(n)) {
        logError(L"could not get canonical path for %s.", std::wstring(path).c_str());
        return resolved;
    }
    std::wstring canonical(buffer.data(), n);
    if (!keepCase) lowerCasePathWide(canonical);
    collapseBackslashes(canonical, 0);
    return canonical;
}

void resolvePathList(std::string& target, std::string_view list,
                     const std::function<void(const std::string&)>& callback) {
    bool first = true;
    for (const std::string& entry : splitList(list)) {
        if (!first) target += ';';
        first = false;
        std::string resolved = resolvePath(entry);
        target += resolved;
        if (callback) callback(resolved);
    }
}

bool findFile(std::string_view path, unsigned long long* lastWriteTime) {
    if (isDriveRoot(path)) return true;
    WIN32_FIND_DATAA data;
    unique_find find(FindFirstFileA(std::string(path).c_str(), &data));
    if (!find) return false;
    if (lastWriteTime) *lastWriteTime = fileTimeValue(data.ftLastWriteTime);
    return true;
}

bool findFileWide(std::wstring_view path, unsigned long long* lastWriteTime) {
    if (isDriveRoot(path)) return true;
    WIN32_FIND_DATAW data;
    unique_find find(FindFirstFileW(std::wstring(path).c_str(), &data));
    if (!find) return false;
    if (lastWriteTime) *lastWriteTime = fileTimeValue(data.ftLastWriteTime);
    return true;
}

bool pathExists(std::string_view path) { return findFile(path, nullptr); }
bool pathExistsWide(std::wstring_view path) { return findFileWide(path, nullptr); }


int listFilesByExtension(std::string_view directory, std::string_view extension, std::vector<std::string>& names) {
    names.clear();
    std::string pattern(directory);
    pattern += "\\*";
    if (extension.empty() || extension[0] != '.') pattern += '.';
    pattern += extension;
    WIN32_FIND_DATAA data;
    unique_find find(FindFirstFileA(pattern.c_str(), &data));
    if (!find) return 0;
    do {
        names.emplace_back(data.cFileName);
    } while (FindNextFileA(find.get(), &data));
    return static_cast<int>(names.size());
}

}  // namespace vexlo
