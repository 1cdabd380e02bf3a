// Reads a configuration block back into the form BlockWriter writes, for inspecting launcher copies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "BlockWriter.h"

namespace vexlo::pack {

struct ReadBlock {
    Block block;
    uint64_t trailingBytes = 0;  // bytes after the last included file that no record accounts for
};

// Parses block bytes. The included files are taken as the launcher extracts them: as many records as the
// count (last entry of its id, read like a decimal integer) and the name list both allow.
bool parseBlock(const std::vector<uint8_t>& bytes, ReadBlock* out, std::string* error);

// The block appended to an executable; fails when there is none.
bool readLauncherBlock(const std::filesystem::path& exe, ReadBlock* out, std::string* error);

// The ";"-separated list split the way the launcher splits it: empty pieces are skipped.
std::vector<std::string> splitIncludedNames(const std::string& list);

}  // namespace vexlo::pack
