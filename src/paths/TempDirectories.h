// The temporary area, the launcher's private temporary directory and its removal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/Handles.h"

namespace vexlo {

// The launcher temporary directory (8-bit path), empty while none was created.
extern std::string launcherTempDir;

// The chosen temporary directory (searched once on first use). The 8-bit form ends the launcher with
// message 1015 when nothing is usable; the wide form does so only when `required`, otherwise it gives "".
std::string getTempDirectory();
std::wstring getTempDirectoryWide(bool required);

void removeLauncherTempNameFile(const std::string& directory);

// Creates the private launcher temporary directory and sets launcherTempDir; ends the launcher after ten
// failed attempts.
void createLauncherTempDirectory();

// The access list given to the launcher temporary directory, as SDDL: protected, full access inherited by
// files and subdirectories for administrators, the owner and the local system only.
inline constexpr char kLauncherTempDirSddl[] = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)(A;OICI;FA;;;SY)";

// Deletes the files of `directory` and removes its subdirectories, emptying those first while `depth` > 0.
// A relative path (beginning with ".") or an empty one is never touched. Names that could not be removed
// are appended to the lists when given.
void removeDirectoryContents(const std::string& directory, std::vector<std::string>* filesLeft,
                             std::vector<std::string>* directoriesLeft, int depth);

// Tests only: forgets the chosen temporary directory so that the next request searches again.
void resetTempDirectoryForTests();

// Steps of the operations above, declared for their tests.
namespace detail {
// A path has a bang when it contains "!\" or ends in "!"; such a directory is never used.
bool hasBang(std::string_view path);
bool hasBang(std::wstring_view path);
// Candidate tests. The 8-bit test may replace `path` by its long form when `preferLong`.
bool tempDirUsableAnsi(std::string& path, bool create, bool requireLong, bool preferLong, bool& bang);
bool tempDirUsableWide(const std::wstring& path, bool create, bool checkLong, bool& bang);
// A new unique file name in the temporary directory (the file is created when the system can do so).
std::string createTempFileName();
// The name file that reserved a launcher temporary directory's name ("vxlN.tmp" of "vxlN.tmp_dirT"); empty when
// the name has none (the fallback name made without a file). Removed with its directory.
std::string launcherTempNameFile(const std::string& directory);
// The security descriptor built from it for the directory's creation; empty when the system cannot build it.
local_ptr<void> buildLauncherTempDirDescriptor();
}  // namespace detail

}  // namespace vexlo
