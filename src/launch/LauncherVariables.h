// Placeholders in configured strings: the executable and temporary directories, the chosen runtime and the
// environment, replaced in place before a string is used.
#pragma once

#include <string>
#include <string_view>

namespace vexlo {

// Replaces every occurrence, logging each one; the search goes on behind the inserted value, so a value that
// holds its own placeholder is inserted once. Returns the number of replacements.
int replaceAll(std::string& text, std::string_view placeholder, std::string_view value);
int replaceAll(std::wstring& text, std::wstring_view placeholder, std::wstring_view value);

// For strings handed to 8-bit interfaces (class path, library directories, search locations).
void expandLauncherVariables(std::string& text);
// useAnsiForms: the directories in their 8-bit-expressible forms (widened) rather than the long Unicode forms.
void expandLauncherVariablesWide(std::wstring& text, bool useAnsiForms);

// The environment step of the two expansions, given the environment block (entries "name=value", ended by an
// empty entry), so that a block of any content can be checked. A null block does nothing.
void expandEnvironmentPlaceholders(std::string& text, const char* block);
void expandEnvironmentPlaceholders(std::wstring& text, const wchar_t* block);

// "${", name and "}" with its terminator must fit this many units; longer names are skipped.
inline constexpr size_t kPlaceholderCapacity = 6000;

}  // namespace vexlo
