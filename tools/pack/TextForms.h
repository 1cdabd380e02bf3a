// Text conversions and checks shared by the encoding and the inspection of configuration files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vexlo::pack {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(const std::u16string& text);
// True when the bytes survive the way through UTF-16 unchanged.
bool validUtf8(const std::string& bytes);

bool isJavaVersion(const std::string& version);

// A size of 1 byte to 1024 GB: digits and an optional unit KB, MB or GB (powers of 1024, any letter case).
std::optional<long long> parseSize(std::string_view text);
// The shortest text parseSize reads back as the same number of bytes.
std::string formatSize(long long bytes);

// A decimal configuration or message id, the whole text and nothing else.
std::optional<int32_t> parseId(std::string_view text);

// A path of the file (UTF-8) as a local path.
std::filesystem::path localPath(const std::string& utf8);

// Why a name cannot be an included file's name, or nothing when it can: the launcher's own rule, so that it
// never refuses a file this tool accepted.
std::optional<std::string> badFileName(const std::string& name);

// Milliseconds of "500ms", "10s", "5m", "1h" or "1d"; nothing for anything else or for more than a signed
// 32-bit count holds. formatDuration writes the largest unit that divides the count.
std::optional<long long> parseDuration(const std::string& text);
std::string formatDuration(long long milliseconds);

// A TOML string: literal ('...') where that spares escaping backslashes, basic ("...") otherwise.
std::string quoted(const std::string& text);

}  // namespace vexlo::pack
