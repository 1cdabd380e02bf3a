// Writer of the launcher configuration block and of launcher copies that carry one.
// Standard C++ only, so the packaging tool can be built for any host.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vexlo::pack {

struct Message {
    int32_t id = 0;
    std::u16string text;
};

struct LanguageGroup {
    std::string prefix;  // locale prefix, 8-bit text
    std::vector<Message> messages;
};

struct Block {
    std::vector<std::pair<int32_t, std::string>> config;  // written in this order; duplicates are kept
    std::vector<Message> messages;
    std::vector<LanguageGroup> groups;
    std::vector<std::string> includedFiles;  // the files' bytes, in the order of their list
    uint32_t header1 = 0, header2 = 0;
    uint64_t header3 = 0;

    Block& set(int32_t id, std::string value);
    Block& message(int32_t id, std::u16string text);
    Block& message(int32_t id, std::string_view utf8);
    Block& message(int32_t id, const char* utf8) { return message(id, std::string_view(utf8)); }
    Block& group(std::string prefix, std::vector<Message> messages);
    Block& include(std::string bytes);
};

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view utf8);

std::vector<uint8_t> serializeBlock(const Block& block);

// Where a block starts in a PE32+ file: right after the raw data of the last section-table entry.
// Returns false with a reason when the file is no PE image or its headers run past its end.
bool blockOffset(const std::filesystem::path& exe, uint64_t* offset, std::string* error);

// Copies the executable up to the block offset (dropping any block it carried) and appends the bytes.
bool appendBlockAt(const std::filesystem::path& sourceExe, const std::filesystem::path& targetExe,
                   const std::vector<uint8_t>& bytes, std::string* error);

bool writeLauncher(const std::filesystem::path& sourceExe, const std::filesystem::path& targetExe, const Block& block,
                   std::string* error);

}  // namespace vexlo::pack
