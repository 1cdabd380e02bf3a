// Placeholders in configured strings: the executable and temporary directories, the chosen runtime and the
// environment, replaced in place before a string is used.
#pragma once

#include <string>
#include <string_view>

#include "common/Buffers.h"

namespace vexlo {

// What the fixed placeholders stand for, in the character type of the text they are replaced in.
template <typename Char>
struct LauncherVariableValues {
    std::basic_string<Char> exeDir;
    std::basic_string<Char> launcherTempDir;
    std::basic_string<Char> jvmHome;
    std::basic_string<Char> tempDir;
};

// The values now, for strings handed to 8-bit interfaces (class path, library directories, search
// locations); jvmHome is the chosen runtime's home, empty before one is chosen. Reading the temporary
// directory ends a launch on a machine without a usable one, placeholders or not.
LauncherVariableValues<char> launcherVariableValues(const std::string& jvmHome);
// useAnsiForms: the directories in their 8-bit-expressible forms (widened) rather than the long Unicode forms.
LauncherVariableValues<wchar_t> launcherVariableValuesWide(const std::string& jvmHome, bool useAnsiForms);

// Replaces the fixed placeholders by the values, then the environment's "${NAME}" placeholders.
void expandLauncherVariables(std::string& text, const LauncherVariableValues<char>& values);
void expandLauncherVariables(std::wstring& text, const LauncherVariableValues<wchar_t>& values);

// "${", name and "}" with its terminator must fit this many units; longer names are skipped.
inline constexpr size_t kPlaceholderCapacity = kPathCapacity;

// Steps of the operations above, declared for their tests.
namespace detail {
// Replaces every occurrence, logging each one; the search goes on behind the inserted value, so a value that
// holds its own placeholder is inserted once. Returns the number of replacements.
int replaceAll(std::string& text, std::string_view placeholder, std::string_view value);
int replaceAll(std::wstring& text, std::wstring_view placeholder, std::wstring_view value);
// The environment step of the two expansions, given the environment block (entries "name=value", ended by an
// empty entry), so that a block of any content can be checked. A null block does nothing.
void expandEnvironmentPlaceholders(std::string& text, const char* block);
void expandEnvironmentPlaceholders(std::wstring& text, const wchar_t* block);
}  // namespace detail

}  // namespace vexlo
