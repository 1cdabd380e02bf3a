#pragma once
// A small reader of zip archives (jar files): the central directory and single entries, stored or deflated.
// Every length is checked against the archive, so a damaged archive gives an error, never a read outside it.
#include <cstdint>
#include <string>
#include <vector>

namespace vexlo::pack {

struct ZipEntry {
    std::string name;
    uint16_t method = 0;  // 0 stored, 8 deflated
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localHeader = 0;
};

bool readZipDirectory(const std::vector<uint8_t>& zip, std::vector<ZipEntry>* entries, std::string* error);

// The entry's data; refuses entries larger than maxSize (declared or inflated) and a wrong checksum.
bool readZipEntry(const std::vector<uint8_t>& zip, const ZipEntry& entry, uint64_t maxSize, std::string* data,
                  std::string* error);

}  // namespace vexlo::pack
