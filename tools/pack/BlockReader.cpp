#include "BlockReader.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "ConfigIds.h"
#include "config/BlockFormat.h"
#include "PeSignature.h"

namespace vexlo::pack {
namespace {

struct Cursor {
    explicit Cursor(const std::vector<uint8_t>& b) : bytes(b) {}
    const std::vector<uint8_t>& bytes;
    size_t at = 0;
    std::string error;

    bool take(size_t n, const char* what) {
        if (bytes.size() - at < n) {
            if (error.empty()) error = std::string("block ends inside ") + what + " at byte " + std::to_string(at);
            return false;
        }
        return true;
    }
    uint64_t number(int width, const char* what) {
        if (!take(static_cast<size_t>(width), what)) return 0;
        uint64_t v = 0;
        for (int i = 0; i < width; ++i) v |= static_cast<uint64_t>(bytes[at + static_cast<size_t>(i)]) << (8 * i);
        at += static_cast<size_t>(width);
        return v;
    }
    uint32_t u32(const char* what) { return static_cast<uint32_t>(number(4, what)); }
    std::string text(const char* what) {
        uint32_t n = u32(what);
        if (!error.empty() || !take(n, what)) return {};
        std::string s(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
        return s;
    }
    Message message() {
        Message m;
        m.id = static_cast<int32_t>(u32("a message id"));
        uint32_t n = u32("a message length");
        if (!error.empty() || !take(n, "a message text")) return m;
        for (uint32_t i = 0; i + 1 < n; i += 2)
            m.text.push_back(static_cast<char16_t>(bytes[at + i] | bytes[at + i + 1] << 8));
        at += n;
        return m;
    }
};

// Counts below zero read nothing, as in the launcher.
uint32_t count(Cursor& c, const char* what) {
    int32_t n = static_cast<int32_t>(c.u32(what));
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

}  // namespace

std::vector<std::string> splitIncludedNames(const std::string& list) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

bool parseBlock(const std::vector<uint8_t>& bytes, ReadBlock* out, std::string* error) {
    Cursor c(bytes);
    Block& b = out->block;
    b = Block();
    if (c.u32("the magic number") != blockformat::kMagic) {
        if (error) *error = c.error.empty() ? "no configuration block (wrong magic number)" : c.error;
        return false;
    }
    b.header1 = c.u32("the header");
    b.header2 = c.u32("the header");
    b.header3 = c.number(8, "the header");
    for (uint32_t i = 0, n = count(c, "the entry count"); i < n && c.error.empty(); ++i) {
        int32_t id = static_cast<int32_t>(c.u32("an entry id"));
        std::string value = c.text("an entry value");
        b.config.emplace_back(id, std::move(value));
    }
    for (uint32_t i = 0, n = count(c, "the message count"); i < n && c.error.empty(); ++i)
        b.messages.push_back(c.message());
    for (uint32_t i = 0, n = count(c, "the language group count"); i < n && c.error.empty(); ++i) {
        LanguageGroup g;
        g.prefix = c.text("a locale prefix");
        for (uint32_t k = 0, m = count(c, "a group's message count"); k < m && c.error.empty(); ++k)
            g.messages.push_back(c.message());
        b.groups.push_back(std::move(g));
    }
    std::string countText, names;
    for (const auto& [id, value] : b.config) {
        if (id == ids::kIncludedFileCount) countText = value;
        if (id == ids::kIncludedFilePaths) names = value;
    }
    long files = std::strtol(countText.c_str(), nullptr, 10);
    size_t listed = splitIncludedNames(names).size();
    for (long i = 0; i < files && static_cast<size_t>(i) < listed && c.error.empty(); ++i) {
        uint64_t n = c.number(8, "an included file's length");
        if (!c.error.empty() || !c.take(n, "an included file's data")) break;
        std::string data(static_cast<size_t>(n), '\0');
        for (uint64_t k = 0; k < n; ++k) data[k] = static_cast<char>(bytes[c.at + k] ^ blockformat::kIncludedFileMask);
        c.at += n;
        b.includedFiles.push_back(std::move(data));
    }
    if (!c.error.empty()) {
        if (error) *error = c.error;
        return false;
    }
    out->trailingBytes = bytes.size() - c.at;
    return true;
}

bool readLauncherBlock(const std::filesystem::path& exe, ReadBlock* out, std::string* error) {
    uint64_t offset = 0;
    if (!blockOffset(exe, &offset, error)) return false;
    std::ifstream in(exe, std::ios::binary);
    std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (offset >= all.size()) {
        if (error) *error = "no configuration block appended";
        return false;
    }
    // A signature appended after the block (with its alignment padding) is not part of the block.
    uint64_t end = all.size();
    if (uint64_t table = certificateTableOffset(all); table > offset) end = table;
    std::vector<uint8_t> block(all.begin() + static_cast<std::ptrdiff_t>(offset),
                               all.begin() + static_cast<std::ptrdiff_t>(end));
    if (!parseBlock(block, out, error)) return false;
    if (end < all.size() && out->trailingBytes < 8 &&
        std::all_of(block.end() - static_cast<std::ptrdiff_t>(out->trailingBytes), block.end(),
                    [](uint8_t b) { return b == 0; }))
        out->trailingBytes = 0;
    return true;
}

}  // namespace vexlo::pack
