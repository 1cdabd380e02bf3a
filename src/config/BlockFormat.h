// The layout facts of the configuration block that the launcher reads and vexlo-pack writes. Portable C++
// (vexlo-pack is built for Linux too): no Windows headers here.
#pragma once

#include <cstdint>

namespace vexlo::blockformat {

// The block's first four bytes (little-endian).
inline constexpr uint32_t kMagic = 0xE8E413D5u;

// Every byte of an included file is stored XORed with this mask.
inline constexpr uint8_t kIncludedFileMask = 0x5A;

// Where the PE header's own position is stored in the MZ header, and its fields the block position needs.
inline constexpr long long kPeHeaderPointer = 0x3C;
inline constexpr long long kSectionCountField = 6;         // from the PE header, 2 bytes
inline constexpr long long kOptionalHeaderSizeField = 20;  // from the PE header, 2 bytes

// The last section-table entry: after the signature (4), the file header (20), the optional header and the
// entries before it (40 bytes each).
constexpr long long lastSectionEntry(long long peHeader, long long optionalHeaderSize, long long sectionCount) {
    return peHeader + 24 + optionalHeaderSize + 40 * (sectionCount - 1);
}
inline constexpr long long kRawSizeField = 16;    // in a section-table entry, 4 bytes
inline constexpr long long kRawOffsetField = 20;  // in a section-table entry, 4 bytes

// The block starts right after the raw data of the last section-table entry. `read(position, size)` gives
// the little-endian field of 2 or 4 bytes at that file position, in the reader's own signedness; what a
// reader does with a position outside the file is its own affair.
template <class ReadField>
long long blockOffset(ReadField read) {
    long long peHeader = read(kPeHeaderPointer, 4);
    long long sectionCount = read(peHeader + kSectionCountField, 2);
    long long optionalHeaderSize = read(peHeader + kOptionalHeaderSizeField, 2);
    long long entry = lastSectionEntry(peHeader, optionalHeaderSize, sectionCount);
    long long rawSize = read(entry + kRawSizeField, 4);
    long long rawOffset = read(entry + kRawOffsetField, 4);
    return rawOffset + rawSize;
}

}  // namespace vexlo::blockformat
