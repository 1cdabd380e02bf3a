#include "TextForms.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>
#include <regex>
#include <utility>

#include "BlockWriter.h"
#include "extract/IncludedFileName.h"

namespace vexlo::pack {

std::string utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::optional<long long> parseSize(std::string_view text) {
    static const std::regex pattern("([0-9]{1,13})([kKmMgG][bB])?");
    std::match_results<std::string_view::const_iterator> m;
    if (!std::regex_match(text.begin(), text.end(), m, pattern)) return std::nullopt;
    long long bytes = std::stoll(m[1].str());
    if (m[2].matched) bytes <<= 10 * (std::string_view("kmg").find(static_cast<char>(std::tolower(*m[2].first))) + 1);
    if (bytes < 1 || bytes > (1LL << 40)) return std::nullopt;
    return bytes;
}

std::string formatSize(long long bytes) {
    for (const auto& [shift, unit] : {std::pair{30, "GB"}, std::pair{20, "MB"}, std::pair{10, "KB"}})
        if (bytes % (1LL << shift) == 0) return std::to_string(bytes >> shift) + unit;
    return std::to_string(bytes);
}

bool isJavaVersion(const std::string& version) {
    static const std::regex pattern("[0-9]+([._+-][0-9A-Za-z]+)*");
    return std::regex_match(version, pattern);
}

std::optional<int32_t> parseId(std::string_view text) {
    int32_t id = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return id;
}

std::filesystem::path localPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::optional<std::string> badFileName(const std::string& name) {
    if (const char* problem = includedFileNameProblem(name)) return std::string(problem);
    return std::nullopt;
}

std::string quoted(const std::string& text) {
    bool literal = text.find('\\') != std::string::npos && text.find('\'') == std::string::npos;
    for (char ch : text)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) literal = false;
    if (literal) return "'" + text + "'";
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') out += '\\', out += ch;
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

bool validUtf8(const std::string& bytes) { return utf16ToUtf8(utf8ToUtf16(bytes)) == bytes; }

std::optional<long long> parseDuration(const std::string& text) {
    static const std::regex form("([0-9]{1,10})(ms|s|m|h|d)");
    std::smatch match;
    if (!std::regex_match(text, match, form)) return std::nullopt;
    static const std::map<std::string, long long> unit = {
        {"ms", 1}, {"s", 1000}, {"m", 60000}, {"h", 3600000}, {"d", 86400000}};
    long long milliseconds = std::stoll(match[1].str()) * unit.at(match[2].str());
    if (milliseconds > 0x7FFFFFFF) return std::nullopt;
    return milliseconds;
}

std::string formatDuration(long long milliseconds) {
    const std::pair<long long, const char*> units[] = {{86400000, "d"}, {3600000, "h"}, {60000, "m"}, {1000, "s"}};
    for (const auto& [size, name] : units)
        if (milliseconds != 0 && milliseconds % size == 0) return std::to_string(milliseconds / size) + name;
    return std::to_string(milliseconds) + "ms";
}

}  // namespace vexlo::pack
