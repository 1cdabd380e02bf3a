// The executable's own path in its long wide and best-expressible 8-bit forms, and path helpers.
#pragma once

#include <string>
#include <string_view>

namespace vexlo {

// 8-bit text in the file-API code page, without best-fit mapping; `substituted` reports a "?" stand-in.
std::string wideToAnsi(std::wstring_view text, bool* substituted = nullptr);

const std::string& executablePathAnsi();
const std::wstring& executablePathLong();

}  // namespace vexlo
