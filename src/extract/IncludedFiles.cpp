#include "extract/IncludedFiles.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "common/Handles.h"
#include "config/BlockFormat.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "config/MessageErrors.h"
#include "extract/IncludedFileName.h"
#include "process/LauncherState.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/TempDirectories.h"
#include "paths/TempDirectoryOwners.h"

namespace vexlo {

std::int32_t unextractedPosition = 0;
int includedDirectoryDepth = 0;

namespace {

std::string fullPath(const std::string& path) {
    DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return {};
    std::string full(size, '\0');
    DWORD n = GetFullPathNameA(path.c_str(), size, full.data(), nullptr);
    if (n == 0 || n >= size) return {};
    full.resize(n);
    return full;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The system's own reading of the target must lie strictly inside the directory, whatever the name held.
bool staysBelow(const std::string& directory, const std::string& target) {
    std::string base = fullPath(directory);
    std::string full = fullPath(target);
    if (base.empty() || full.empty()) return false;
    if (base.back() != '\\') base += '\\';
    return full.size() > base.size() && equalsIgnoringCase(std::string_view(full).substr(0, base.size()), base);
}

// Replaces the temporary directory's own clean-up on a failed launch: deep enough for every level created here.
void removeExtractedTree() {
    if (launcherTempDir.empty()) return;
    releaseLauncherTempDirectoryMarker(true);
    removeDirectoryContents(launcherTempDir, nullptr, nullptr, std::max(1, includedDirectoryDepth));
    if (RemoveDirectoryA(launcherTempDir.c_str())) removeLauncherTempNameFile(launcherTempDir);
}

// Marks the new directory as this run's and drops its name file: the directory itself now keeps the name
// unique (a colliding creation fails and picks another), and a directory that stays after a normal end must
// not leave the file behind.
void claimLauncherTempDirectory() {
    markLauncherTempDirectory(launcherTempDir, executablePathLong());
    removeLauncherTempNameFile(launcherTempDir);
    setExitCleanup(removeExtractedTree);
}

// Creates every directory level of the entry, outermost first; a level that exists already is fine.
void createEntryDirectories(const std::string& entry) {
    setExitCleanup(removeExtractedTree);
    int level = 0;
    for (size_t at = entry.find('\\'); at != std::string::npos; at = entry.find('\\', at + 1)) {
        const std::string directory = launcherTempDir + "\\" + entry.substr(0, at);
        includedDirectoryDepth = std::max(includedDirectoryDepth, ++level);
        logMessage(L"creating directory %S", directory.c_str());
        if (!CreateDirectoryA(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            logError(L"failed to create directory %S", directory.c_str());
    }
}

bool seekTo(HANDLE file, DWORD position) {
    LARGE_INTEGER to;
    to.QuadPart = position;
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

std::int32_t currentPosition(HANDLE file) {
    LARGE_INTEGER zero, at;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(file, zero, &at, FILE_CURRENT)) return 0;
    return static_cast<std::int32_t>(at.QuadPart);
}

}  // namespace

int extractIncludedFiles(bool createTempDirectory) {
    logMessage(L"extracting files");
    const int count = getConfigInt(ids::kIncludedFileCount);
    logMessage(L"Included files: %d", count);
    if (count <= 0) {
        if (createTempDirectory) launcherTempDir.clear();
        return kExtractOk;
    }
    if (createTempDirectory) {
        // Earlier runs that ended normally left their directories; their owners cannot remove them any more.
        removeAbandonedLauncherTempDirectories(getTempDirectory(), executablePathLong());
        createLauncherTempDirectory();
        claimLauncherTempDirectory();
    }
    if (launcherTempDir.empty()) {
        logError(L"no launcher temporary directory for the included files");
        return kExtractUnsafeName;
    }

    unique_file executable(openOwnExecutable());
    if (!seekTo(executable.get(), includedFilesOffset())) {
        logError(L"could not seek to the included files %d", static_cast<int>(GetLastError()));
        return kExtractReadFailed;
    }
    const std::string list = copyConfigString(ids::kIncludedFilePaths);
    // Runs of separators count as one, so no entry is empty; entries beyond the count are ignored.
    int handled = 0;
    size_t at = list.find_first_not_of(';');
    while (at != std::string::npos && handled < count) {
        const size_t end = std::min(list.find(';', at), list.size());
        const std::string entry = list.substr(at, end - at);
        at = list.find_first_not_of(';', end);
        ++handled;
        const std::string target = launcherTempDir + "\\" + entry;
        // The packing tool refuses the same names; a block made otherwise still writes nowhere else.
        if (const char* problem = includedFileNameProblem(entry)) {
            logError(L"refusing included file %S: %S", entry.c_str(), problem);
            return kExtractUnsafeName;
        }
        if (!staysBelow(launcherTempDir, target)) {
            logError(L"refusing included file %S: it would lie outside the launcher temporary directory",
                     entry.c_str());
            return kExtractUnsafeName;
        }
        createEntryDirectories(entry);
        const int result = detail::extractOneFile(executable.get(), target);
        if (result != kExtractOk) {
            logError(L"Failed to extract %S", target.c_str());
            return result;
        }
    }
    unextractedPosition = currentPosition(executable.get());
    executable.reset();
    logMessage(L"extracting files done");
    return kExtractOk;
}

int detail::extractOneFile(HANDLE executable, const std::string& targetPath) {
    const long long length = readLong(executable);
    logMessage(L"extracting %S (size: %I64d)", targetPath.c_str(), length);
    if (length <= 0) return kExtractOk;
    unique_file target(
        CreateFileA(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) fatalMessageError(ids::kMsgLaunchFailed, std::string("11"));
    return detail::copyMaskedData(executable, target.get(), length, true);
}

int detail::copyMaskedData(HANDLE source, HANDLE target, std::int64_t count, bool removeMask) {
    std::array<unsigned char, static_cast<size_t>(kCopyBufferSize)> buffer;
    std::int64_t copied = 0;
    while (copied < count) {
        const auto wanted = static_cast<DWORD>(std::min(count - copied, kCopyBufferSize));
        DWORD got = 0;
        // A read that succeeds with no bytes (the end of the file) then reports 0, not an older error.
        SetLastError(ERROR_SUCCESS);
        if (!ReadFile(source, buffer.data(), wanted, &got, nullptr) || got == 0) {
            const auto error = static_cast<int>(GetLastError());
            logError(L"ReadFile failed %d %d %I64d", static_cast<int>(got), error, static_cast<long long>(copied));
            return kExtractReadFailed;
        }
        if (removeMask) {
            for (DWORD i = 0; i < got; ++i) buffer[i] ^= blockformat::kIncludedFileMask;
        }
        for (DWORD done = 0; done < got;) {
            DWORD written = 0;
            // A write that takes nothing would repeat for ever; it counts as failed.
            if (!WriteFile(target, buffer.data() + done, got - done, &written, nullptr) || written == 0) {
                const auto error = static_cast<int>(GetLastError());
                logError(L"WriteFile failed %d %d", static_cast<int>(got - done), error);
                return kExtractWriteFailed;
            }
            done += written;
        }
        copied += got;
    }
    return kExtractOk;
}

}  // namespace vexlo
