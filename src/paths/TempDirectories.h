// The temporary area, the launcher's private temporary directory and its removal.
#pragma once

#include <string>
#include <vector>

namespace vexlo {

// The launcher temporary directory (8-bit path), empty while none was created.
extern std::string launcherTempDir;

std::string getTempDirectory();
std::wstring getTempDirectoryWide(bool required);

void removeDirectoryContents(const std::string& directory, std::vector<std::string>* filesLeft,
                             std::vector<std::string>* directoriesLeft, int depth);

}  // namespace vexlo
