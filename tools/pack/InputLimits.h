// Limits a configuration file must keep before it is parsed: the TOML parser recurses once per part of a
// dotted key, so a key of a few hundred thousand parts would exhaust the stack instead of being an error.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "PackConfig.h"

namespace vexlo::pack {

// No key of ours has more than a few parts; this leaves room for [raw] and messages tables.
inline constexpr size_t kMaxKeyParts = 16;
// A configuration file is a few kilobytes; included files are read from their own paths.
inline constexpr size_t kMaxConfigFileBytes = 1024 * 1024;

// The first place where the text passes a limit (file, line, column and what), or nothing.
std::optional<Diagnostic> inputLimitProblem(std::string_view text, const std::string& displayName);

}  // namespace vexlo::pack
