#include "ZipReader.h"

#include <zlib.h>

#include <algorithm>

namespace vexlo::pack {
namespace {

constexpr uint32_t kEndOfDirectory = 0x06054B50;
constexpr uint32_t kDirectoryEntry = 0x02014B50;
constexpr uint32_t kLocalHeader = 0x04034B50;

bool fits(const std::vector<uint8_t>& b, uint64_t at, uint64_t n) { return at <= b.size() && n <= b.size() - at; }

uint32_t le(const std::vector<uint8_t>& b, uint64_t at, int width) {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i)
        v |= static_cast<uint32_t>(b[static_cast<size_t>(at) + static_cast<size_t>(i)]) << (8 * i);
    return v;
}

bool fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return false;
}

}  // namespace

bool readZipDirectory(const std::vector<uint8_t>& zip, std::vector<ZipEntry>* entries, std::string* error) {
    entries->clear();
    // The end record is the last 22 bytes unless an archive comment (at most 65535 bytes) follows it.
    if (zip.size() < 22) return fail(error, "not a zip archive (too short)");
    uint64_t end = 0;
    bool found = false;
    const uint64_t lowest = zip.size() > 22 + 65535 ? zip.size() - 22 - 65535 : 0;
    for (uint64_t at = zip.size() - 22 + 1; at-- > lowest;) {
        if (le(zip, at, 4) == kEndOfDirectory && at + 22 + le(zip, at + 20, 2) == zip.size()) {
            end = at;
            found = true;
            break;
        }
    }
    if (!found) return fail(error, "not a zip archive (no end of central directory)");
    const uint32_t count = le(zip, end + 10, 2);
    const uint32_t dirSize = le(zip, end + 12, 4);
    const uint32_t dirOffset = le(zip, end + 16, 4);
    if (count == 0xFFFF || dirOffset == 0xFFFFFFFFu) return fail(error, "zip64 archives are not supported");
    if (!fits(zip, dirOffset, dirSize) || dirOffset + uint64_t{dirSize} > end)
        return fail(error, "the central directory lies outside the archive");
    uint64_t at = dirOffset;
    for (uint32_t i = 0; i < count; ++i) {
        if (!fits(zip, at, 46) || le(zip, at, 4) != kDirectoryEntry)
            return fail(error, "central directory entry " + std::to_string(i) + " is damaged");
        ZipEntry e;
        e.method = static_cast<uint16_t>(le(zip, at + 10, 2));
        e.crc = le(zip, at + 16, 4);
        e.compressedSize = le(zip, at + 20, 4);
        e.size = le(zip, at + 24, 4);
        const uint32_t nameLength = le(zip, at + 28, 2);
        const uint64_t rest = uint64_t{nameLength} + le(zip, at + 30, 2) + le(zip, at + 32, 2);
        e.localHeader = le(zip, at + 42, 4);
        if (!fits(zip, at + 46, rest))
            return fail(error, "central directory entry " + std::to_string(i) + " runs past the archive");
        e.name.assign(zip.begin() + static_cast<std::ptrdiff_t>(at + 46),
                      zip.begin() + static_cast<std::ptrdiff_t>(at + 46 + nameLength));
        entries->push_back(std::move(e));
        at += 46 + rest;
    }
    return true;
}

bool readZipEntry(const std::vector<uint8_t>& zip, const ZipEntry& entry, uint64_t maxSize, std::string* data,
                  std::string* error) {
    data->clear();
    const std::string what = "entry " + entry.name + ": ";
    if (entry.size > maxSize) return fail(error, what + "larger than " + std::to_string(maxSize) + " bytes");
    if (!fits(zip, entry.localHeader, 30) || le(zip, entry.localHeader, 4) != kLocalHeader)
        return fail(error, what + "the local header is damaged");
    const uint64_t start = entry.localHeader + 30 + le(zip, entry.localHeader + 26, 2) +
                           le(zip, entry.localHeader + 28, 2);
    if (!fits(zip, start, entry.compressedSize)) return fail(error, what + "the data runs past the archive");
    const uint8_t* in = zip.data() + start;
    if (entry.method == 0) {
        if (entry.compressedSize != entry.size) return fail(error, what + "stored sizes disagree");
        data->assign(reinterpret_cast<const char*>(in), static_cast<size_t>(entry.size));
    } else if (entry.method == 8) {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return fail(error, what + "cannot start inflating");
        data->resize(static_cast<size_t>(entry.size));
        z.next_in = const_cast<Bytef*>(in);
        z.avail_in = static_cast<uInt>(entry.compressedSize);
        z.next_out = reinterpret_cast<Bytef*>(data->data());
        z.avail_out = static_cast<uInt>(data->size());
        int rc = inflate(&z, Z_FINISH);
        const uint64_t produced = z.total_out;
        inflateEnd(&z);
        // Z_BUF_ERROR with no output room left means the data inflates to more than its declared size.
        if (rc != Z_STREAM_END) return fail(error, what + "the compressed data is damaged");
        if (produced != entry.size) return fail(error, what + "inflates to a size other than declared");
    } else {
        return fail(error, what + "compression method " + std::to_string(entry.method) + " is not supported");
    }
    const auto crc = crc32(0L, reinterpret_cast<const Bytef*>(data->data()), static_cast<uInt>(data->size()));
    if (crc != entry.crc) return fail(error, what + "checksum mismatch");
    return true;
}

}  // namespace vexlo::pack
