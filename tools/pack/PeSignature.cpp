#include "PeSignature.h"

#include <cstddef>

namespace vexlo::pack {
namespace {

uint64_t le(const std::vector<uint8_t>& b, uint64_t at, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i)
        v |= static_cast<uint64_t>(b[static_cast<size_t>(at) + static_cast<size_t>(i)]) << (8 * i);
    return v;
}

}  // namespace

uint64_t certificateTableOffset(const std::vector<uint8_t>& image) {
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return 0;
    const uint64_t pe = le(image, 0x3C, 4);
    if (pe + 26 > image.size() || le(image, pe, 4) != 0x00004550u) return 0;
    const uint64_t optional = pe + 24;
    const uint64_t magic = le(image, optional, 2);
    // The data directories follow the fixed part of the optional header; the security entry is the fifth.
    const uint64_t directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
    if (directories == optional) return 0;
    const uint64_t entry = directories + 4 * 8;
    if (entry + 8 > image.size()) return 0;
    const uint64_t offset = le(image, entry, 4);
    const uint64_t size = le(image, entry + 4, 4);
    if (offset == 0 || size == 0 || offset + size > image.size()) return 0;
    return offset;
}

}  // namespace vexlo::pack
