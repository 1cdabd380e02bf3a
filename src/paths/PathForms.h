// Path rules: relative or absolute, resolution against the executable's directory (never the working
// directory), canonical forms, backslash collapsing, existence checks and directory listings.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "paths/ExecutablePath.h"

namespace vexlo {

// Appends `path` to `target`, prefixed by the directory of `baseFile` (when given) or the executable's
// directory when it is relative; backslash runs in the appended part are collapsed.
void appendResolvedPath(std::string& target, std::string_view path, std::string_view baseFile = {});
// The wide form into an empty string; `useAnsiDir` picks exeDirAnsiWide (true) or exeDirLong (false) as
// the default base.
std::wstring resolvePathWide(std::wstring_view path, bool useAnsiDir, std::wstring_view baseFile = {});

// Resolved, "." and ".." removed, lower-cased (A-Z only) unless `keepCase`. When the system cannot make it
// canonical the resolved path is returned (and the failure logged).
std::string canonicalPathAnsi(std::string_view path, bool keepCase);
std::wstring canonicalPathWide(std::wstring_view path, bool useAnsiDir, bool keepCase);

// Appends to `target` each non-empty entry of the ";"-separated list, resolved, joined with ";"; the
// callback sees each resolved entry after it was appended.
void resolvePathList(std::string& target, std::string_view list,
                     const std::function<void(const std::string&)>& callback = {});

// True for an existing file or directory, or a drive root ("X:\", "X:\.", "X:\.\.") without any search.
bool pathExists(std::string_view path);
bool pathExistsWide(std::wstring_view path);

// As pathExists; also gives the entry's last-write time (FILETIME as 64-bit, 100 ns since 1601) when found.
bool findFile(std::string_view path, unsigned long long* lastWriteTime = nullptr);

// Names (without directory) of the entries matching dir\*.ext in enumeration order; returns their count.
int listFilesByExtension(std::string_view directory, std::string_view extension, std::vector<std::string>& names);

// Steps of the operations above, declared for their tests.
namespace detail {
// Absolute means "X:\..." or "\\..." (after an optional leading double quote); everything else is relative.
bool isRelativePath(std::string_view path);
bool isRelativePath(std::wstring_view path);
// `useAnsiDir` picks exeDirAnsiWide (true) or exeDirLong (false) as the default base.
void appendResolvedPathWide(std::wstring& target, std::wstring_view path, bool useAnsiDir,
                            std::wstring_view baseFile = {});
// appendResolvedPath into an empty string.
std::string resolvePath(std::string_view path, std::string_view baseFile = {});
// Lower-cases A-Z only; the 8-bit form stays unchanged when converting back would substitute.
void lowerCasePathAnsi(std::string& path);
void lowerCasePathWide(std::wstring& path);
// The wide form of findFile.
bool findFileWide(std::wstring_view path, unsigned long long* lastWriteTime = nullptr);
}  // namespace detail

}  // namespace vexlo
