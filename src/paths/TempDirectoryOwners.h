// Who owns a launcher temporary directory, and the removal of those whose owner has ended.
#pragma once

#include <string>

namespace vexlo {

// The owner marker inside every launcher temporary directory: it names the executable that created the
// directory and is held open by the creating process for its whole life without delete sharing, so that
// another process can open it exclusively only after the owner has ended.
inline constexpr char kOwnerMarkerName[] = "vexlo.owner";

// Creates the marker in `directory` for `executable` and keeps it open until release; false when it cannot.
bool markLauncherTempDirectory(const std::string& directory, const std::wstring& executable);
// Closes the held marker, deleting it when asked, so that this process can remove its own directory.
void releaseLauncherTempDirectoryMarker(bool remove);

// Removes, from `tempDirectory`, the launcher temporary directories that `executable` created in runs that
// have ended, with their name files. A directory without a marker, of another executable, of a running
// owner, or holding a file in use stays (the last kind keeps its marker and is retried next time).
// Returns the number of directories removed.
int removeAbandonedLauncherTempDirectories(const std::string& tempDirectory, const std::wstring& executable);

}  // namespace vexlo
