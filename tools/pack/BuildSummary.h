#pragma once
// What vexlo-pack build prints after writing a launcher: a short block a release log can keep.
#include <cstdint>
#include <string>

#include "PackConfig.h"

namespace vexlo::pack {

std::string buildSummary(const std::string& outputShown, uint64_t outputSize, const PackResult& result);

}  // namespace vexlo::pack
