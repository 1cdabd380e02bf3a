// Files carried in the configuration block, written into the launcher temporary directory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vexlo {

// The executable's file position after the last included file that was read; 0 when none were.
extern std::int32_t unextractedPosition;

// The deepest directory level that extraction created below the launcher temporary directory (0 for none),
// so that the removal on a failed launch reaches every extracted file.
extern int includedDirectoryDepth;

// Results of the extraction operations.
inline constexpr int kExtractOk = 0;
inline constexpr int kExtractReadFailed = 1;
inline constexpr int kExtractWriteFailed = 2;
// A listed name that could lead out of the launcher temporary directory (or there is no such directory).
inline constexpr int kExtractUnsafeName = 3;

// Size of the one buffer through which file data is copied.
inline constexpr std::int64_t kCopyBufferSize = 6000;

// Writes every listed file into the launcher temporary directory, creating that directory first when asked
// and there are files. Returns 0, or the non-zero result of the entry that failed.
int extractIncludedFiles(bool createTempDirectory);

// Steps of the operations above, declared for their tests.
namespace detail {
// Reads one record (64-bit length, masked bytes) from `executable` into a new file at `targetPath`. A target
// that cannot be created ends the launcher with message 1009 "11".
int extractOneFile(HANDLE executable, const std::string& targetPath);
// Copies `count` bytes from `source` to `target` through the copy buffer, removing the mask when asked.
int copyMaskedData(HANDLE source, HANDLE target, std::int64_t count, bool removeMask);
}  // namespace detail

}  // namespace vexlo
