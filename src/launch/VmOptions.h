// The virtual machine options that come from the configuration, the user-editable VM options files beside
// the executable (and the files they include) and "-J" arguments: one line grammar for all of them.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Handles.h"

namespace vexlo {

// Ordered 8-bit options for JNI_CreateJavaVM (file-API code page).
using OptionVector = std::vector<std::string>;

// Class path changes made by option lines; the last line of each kind wins.
struct ClassPathOverrides {
    std::optional<std::string> classPathReplacement;  // "-classpath "
    std::optional<std::string> classPathPrefix;       // "-classpath/p "
    std::optional<std::string> classPathSuffix;       // "-classpath/a "
};

// Includes nested deeper than this are not followed.
inline constexpr int kMaxIncludeDepth = 16;
// Option lines read from one file and everything it includes; the rest is ignored, so that files including
// each other several times end in a bounded time.
inline constexpr int kMaxOptionLines = 4096;

// Every line of the file (nothing when it did not open); comments and blank lines are skipped. A file that is
// not a regular disk file, or that is already being read further out on the include chain, is not read.
void readVmOptionsFile(std::wstring_view baseFile, std::FILE* file, OptionVector& options,
                       ClassPathOverrides& overrides);
// The VM options file named after the executable: app.vmoptions, then app.exe.vmoptions.
unique_cfile openDefaultVmOptionsFile();
// The configured options, the first version-specific rule that matches the chosen runtime, and the locale
// options found in the argument list.
void addConfiguredVmOptions(const std::vector<std::wstring>& arguments, OptionVector& options,
                            ClassPathOverrides& overrides);
// The "-J" arguments, without those two characters.
void addCommandLineVmOptions(const std::vector<std::wstring>& arguments, OptionVector& options,
                             ClassPathOverrides& overrides);

// Steps of the operations above, declared for their tests.
namespace detail {
// Tokens of a split argument string; "-include-options" takes the token after it as its path.
void addVmOptionTokens(const std::vector<std::wstring>& tokens, OptionVector& options, ClassPathOverrides& overrides);
// Whole-text match, case-sensitive: "?" one character, "*" any run of characters.
bool matchesWildcard(std::string_view pattern, std::string_view text);
// The number a version-specific rule compares: the first component, or the second for the old 1.x
// numbering; -1 without components.
int versionRuleNumber(std::string_view version);
}  // namespace detail

}  // namespace vexlo
