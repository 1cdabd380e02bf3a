// The launcher's one rule for splitting argument text; backslashes never escape anything.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexlo {

void splitCommandLine(std::wstring_view text, std::vector<std::wstring>& arguments);

// Reads one argument starting at position; returns where the next one starts, or none at the end.
std::optional<size_t> nextArgument(std::wstring_view text, size_t position, std::wstring& argument);

}  // namespace vexlo
