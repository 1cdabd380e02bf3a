// The executable's own path in its long wide and best-expressible 8-bit forms, its directory, and the
// conversion of wide text to the file-API code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/Buffers.h"

namespace vexlo {

// CP_ACP when the file APIs are in ANSI mode, otherwise CP_OEMCP.
unsigned fileApiCodePage();

// 8-bit text in the file-API code page, without best-fit mapping; `substituted` reports a "?" stand-in
// (or a failed conversion, which yields an empty string). A code page that takes no flags converts plainly
// and reports no substitution.
std::string wideToAnsi(std::wstring_view text, bool* substituted = nullptr);

// The cached executable paths, computed together on the first call of either: the long wide form and the
// best 8-bit form (long name, short name, the command interpreter, the 8-bit module name shortened).
const std::string& executablePathAnsi();
const std::wstring& executablePathLong();

// The executable's directory (trailing backslash included): 8-bit, the 8-bit form widened byte by byte,
// and the long wide form. Each accessor fills the cache on first use.
const std::string& exeDirAnsi();
const std::wstring& exeDirAnsiWide();
const std::wstring& exeDirLong();

// The directory part (trailing backslash included) of the path made full by the system; none when the
// full path does not fit the launcher's buffers.
std::optional<std::string> fullPathDirectory(const std::string& path);
std::optional<std::wstring> fullPathDirectory(const std::wstring& path);

// 8-bit text in the file-API code page to wide; false when the system cannot convert it.
bool ansiToWide(std::string_view text, std::wstring& wide);

// Drops every backslash that follows a kept backslash, from `start` on; the characters at `start` and
// `start + 1` are always kept, so a network path's leading pair survives.
void collapseBackslashes(std::wstring& text, size_t start = 0);
// The same done on the wide form; the string stays unchanged when converting back would substitute.
void collapseBackslashesAnsi(std::string& text, size_t start = 0);

// Steps of the operations above, declared for their tests.
namespace detail {
// The same conversion in a given code page.
std::string wideToAnsiInCodePage(unsigned codePage, std::wstring_view text, bool* substituted = nullptr);
// Asks the command interpreter for the short form of a long path; none when it cannot give one.
std::optional<std::string> shortPathViaShell(const std::wstring& longPath);
// Ends in ".exe" (any case) and is at least 5 characters long.
bool hasExeSuffix(std::string_view path);
}  // namespace detail

}  // namespace vexlo
