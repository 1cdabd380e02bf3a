#include "paths/PathForms.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "common/CharApi.h"
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
template <typename Char>
std::basic_string<Char> directoryOf(std::basic_string_view<Char> baseFile) {
    std::basic_string<Char> base(baseFile);
    if (std::optional<std::basic_string<Char>> directory = fullPathDirectory(base)) return *directory;
    static constexpr Char kSeparators[] = {Char('\\'), Char('/'), Char(0)};
    size_t cut = base.find_last_of(kSeparators);
    return cut == std::basic_string<Char>::npos ? std::basic_string<Char>() : base.substr(0, cut + 1);
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

void lowerCasePath(std::string& path) { detail::lowerCasePathAnsi(path); }
void lowerCasePath(std::wstring& path) { detail::lowerCasePathWide(path); }
void collapsePathBackslashes(std::string& text, size_t start) { collapseBackslashesAnsi(text, start); }
void collapsePathBackslashes(std::wstring& text, size_t start) { collapseBackslashes(text, start); }
void logNoCanonicalPath(std::string_view path) {
    logError(L"could not get canonical path for %S.", std::string(path).c_str());
}
void logNoCanonicalPath(std::wstring_view path) {
    logError(L"could not get canonical path for %s.", std::wstring(path).c_str());
}

// `defaultBase` gives the directory a relative path is resolved against when there is no base file.
template <typename Char, typename DefaultBase>
void appendResolved(std::basic_string<Char>& target, std::basic_string_view<Char> path,
                    std::basic_string_view<Char> baseFile, DefaultBase defaultBase) {
    size_t mark = target.size();
    if (isRelative(path)) target += baseFile.empty() ? std::basic_string<Char>(defaultBase()) : directoryOf(baseFile);
    target += path;
    collapsePathBackslashes(target, mark);
}

template <typename Char>
std::basic_string<Char> canonicalOf(std::basic_string<Char> resolved, std::basic_string_view<Char> path,
                                    bool keepCase) {
    std::vector<Char> buffer(kPathCapacity);
    DWORD n = charapi::getFullPathName(resolved.c_str(), kPathCapacity, buffer.data(), nullptr);
    if (!fitsBuffer(n)) {
        logNoCanonicalPath(path);
        return resolved;
    }
    std::basic_string<Char> canonical(buffer.data(), n);
    if (!keepCase) lowerCasePath(canonical);
    collapsePathBackslashes(canonical, 0);
    return canonical;
}

template <typename Char>
bool findFileOf(std::basic_string_view<Char> path, unsigned long long* lastWriteTime) {
    if (isDriveRoot(path)) return true;
    charapi::FindData<Char> data;
    unique_find find(charapi::findFirstFile(std::basic_string<Char>(path).c_str(), &data));
    if (!find) return false;
    if (lastWriteTime) *lastWriteTime = fileTimeValue(data.ftLastWriteTime);
    return true;
}

}  // namespace

bool detail::isRelativePath(std::string_view path) { return isRelative(path); }
bool detail::isRelativePath(std::wstring_view path) { return isRelative(path); }

void detail::lowerCasePathWide(std::wstring& path) {
    for (wchar_t& c : path) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
}

void detail::lowerCasePathAnsi(std::string& path) {
    std::wstring wide;
    if (!ansiToWide(path, wide)) return;
    detail::lowerCasePathWide(wide);
    bool substituted = false;
    std::string back = wideToAnsi(wide, &substituted);
    if (!substituted) path = std::move(back);
}

void appendResolvedPath(std::string& target, std::string_view path, std::string_view baseFile) {
    appendResolved(target, path, baseFile, [] { return exeDirAnsi(); });
}

void detail::appendResolvedPathWide(std::wstring& target, std::wstring_view path, bool useAnsiDir,
                                    std::wstring_view baseFile) {
    appendResolved(target, path, baseFile, [useAnsiDir] { return useAnsiDir ? exeDirAnsiWide() : exeDirLong(); });
}

std::string detail::resolvePath(std::string_view path, std::string_view baseFile) {
    std::string target;
    appendResolvedPath(target, path, baseFile);
    return target;
}

std::wstring resolvePathWide(std::wstring_view path, bool useAnsiDir, std::wstring_view baseFile) {
    std::wstring target;
    detail::appendResolvedPathWide(target, path, useAnsiDir, baseFile);
    return target;
}

std::string canonicalPathAnsi(std::string_view path, bool keepCase) {
    return canonicalOf(detail::resolvePath(path), path, keepCase);
}

std::wstring canonicalPathWide(std::wstring_view path, bool useAnsiDir, bool keepCase) {
    return canonicalOf(resolvePathWide(path, useAnsiDir), path, keepCase);
}

void resolvePathList(std::string& target, std::string_view list,
                     const std::function<void(const std::string&)>& callback) {
    bool first = true;
    for (const std::string& entry : splitList(list)) {
        if (!first) target += ';';
        first = false;
        std::string resolved = detail::resolvePath(entry);
        target += resolved;
        if (callback) callback(resolved);
    }
}

bool findFile(std::string_view path, unsigned long long* lastWriteTime) { return findFileOf(path, lastWriteTime); }
bool detail::findFileWide(std::wstring_view path, unsigned long long* lastWriteTime) {
    return findFileOf(path, lastWriteTime);
}

bool pathExists(std::string_view path) { return findFile(path, nullptr); }
bool pathExistsWide(std::wstring_view path) { return detail::findFileWide(path, nullptr); }

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
