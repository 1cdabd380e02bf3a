#include "BlockWriter.h"

#include <fstream>
#include <iterator>

#include "config/BlockFormat.h"

namespace vexlo::pack {
namespace {

void putU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putU64(std::vector<uint8_t>& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putBytes(std::vector<uint8_t>& out, std::string_view bytes) {
    putU32(out, static_cast<uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void putMessage(std::vector<uint8_t>& out, const Message& m) {
    putU32(out, static_cast<uint32_t>(m.id));
    putU32(out, static_cast<uint32_t>(m.text.size() * 2));
    for (char16_t c : m.text) putU16(out, static_cast<uint16_t>(c));
}

std::string shown(const std::filesystem::path& path) {
    std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

bool readFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + shown(path);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

uint32_t getU32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t getU16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

bool offsetIn(const std::vector<uint8_t>& image, uint64_t* offset, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    using namespace blockformat;
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return fail("not an MZ executable");
    uint64_t peHeader = getU32(image, kPeHeaderPointer);
    if (peHeader + 24 > image.size() || getU32(image, static_cast<size_t>(peHeader)) != 0x00004550u)
        return fail("no PE signature");
    uint16_t sections = getU16(image, static_cast<size_t>(peHeader + kSectionCountField));
    uint16_t optionalSize = getU16(image, static_cast<size_t>(peHeader + kOptionalHeaderSizeField));
    if (sections == 0) return fail("no sections");
    uint64_t last = static_cast<uint64_t>(lastSectionEntry(static_cast<long long>(peHeader), optionalSize, sections));
    if (last + 40 > image.size()) return fail("section table runs past the end of the file");
    // Every field the computation reads lies inside the checked headers.
    uint64_t end = static_cast<uint64_t>(blockformat::blockOffset([&](long long position, int size) -> long long {
        auto at = static_cast<size_t>(position);
        return size == 2 ? getU16(image, at) : getU32(image, at);
    }));
    if (end < last + 40 || end > image.size()) return fail("last section's raw data lies outside the file");
    *offset = end;
    return true;
}

}  // namespace

Block& Block::set(int32_t id, std::string value) {
    config.emplace_back(id, std::move(value));
    return *this;
}

Block& Block::message(int32_t id, std::u16string text) {
    messages.push_back({id, std::move(text)});
    return *this;
}

Block& Block::message(int32_t id, std::string_view utf8) { return message(id, utf8ToUtf16(utf8)); }

Block& Block::group(std::string prefix, std::vector<Message> groupMessages) {
    groups.push_back({std::move(prefix), std::move(groupMessages)});
    return *this;
}

Block& Block::include(std::string bytes) {
    includedFiles.push_back(std::move(bytes));
    return *this;
}

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    size_t i = 0;
    while (i < s.size()) {
        auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
        unsigned char c = byte(i);
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c, len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1Fu, len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0Fu, len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07u, len = 4;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        bool ok = i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (byte(i + k) & 0x3Fu);
        }
        if (!ok || cp > 0x10FFFF) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::vector<uint8_t> serializeBlock(const Block& block) {
    std::vector<uint8_t> out;
    putU32(out, blockformat::kMagic);
    putU32(out, block.header1);
    putU32(out, block.header2);
    putU64(out, block.header3);
    putU32(out, static_cast<uint32_t>(block.config.size()));
    for (const auto& [id, value] : block.config) {
        putU32(out, static_cast<uint32_t>(id));
        putBytes(out, value);
    }
    putU32(out, static_cast<uint32_t>(block.messages.size()));
    for (const auto& m : block.messages) putMessage(out, m);
    putU32(out, static_cast<uint32_t>(block.groups.size()));
    for (const auto& g : block.groups) {
        putBytes(out, g.prefix);
        putU32(out, static_cast<uint32_t>(g.messages.size()));
        for (const auto& m : g.messages) putMessage(out, m);
    }
    for (const auto& file : block.includedFiles) {
        putU64(out, file.size());
        for (char c : file)
            out.push_back(static_cast<uint8_t>(static_cast<uint8_t>(c) ^ blockformat::kIncludedFileMask));
    }
    return out;
}

bool blockOffset(const std::filesystem::path& exe, uint64_t* offset, std::string* error) {
    std::vector<uint8_t> image;
    return readFile(exe, image, error) && offsetIn(image, offset, error);
}

bool appendBlockAt(const std::filesystem::path& sourceExe, const std::filesystem::path& targetExe,
                   const std::vector<uint8_t>& bytes, std::string* error) {
    std::vector<uint8_t> image;
    uint64_t end = 0;
    if (!readFile(sourceExe, image, error) || !offsetIn(image, &end, error)) return false;
    std::ofstream out(targetExe, std::ios::binary | std::ios::trunc);
    if (!out) {
        if (error) *error = "cannot create " + shown(targetExe);
        return false;
    }
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(end));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        if (error) *error = "cannot write " + shown(targetExe);
        return false;
    }
    return true;
}

bool writeLauncher(const std::filesystem::path& sourceExe, const std::filesystem::path& targetExe, const Block& block,
                   std::string* error) {
    return appendBlockAt(sourceExe, targetExe, serializeBlock(block), error);
}

}  // namespace vexlo::pack
