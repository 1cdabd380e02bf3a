#pragma once
// Where a signing tool put its certificate table: after the configuration block, at the end of the file.
#include <cstdint>
#include <vector>

namespace vexlo::pack {

// The file offset of the image's certificate table (the security data directory), or 0 when the image has
// none or the entry does not lie inside the file.
uint64_t certificateTableOffset(const std::vector<uint8_t>& image);

}  // namespace vexlo::pack
