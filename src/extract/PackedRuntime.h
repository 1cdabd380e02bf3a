// Runtimes shipped with packed class archives: before a runtime home is examined, every "<name>.jar.pack"
// in its lib and lib\ext directories whose archive is missing is restored with the runtime's own
// bin\unpack200.exe, and the packed file is removed.
#pragma once

#include <string>
#include <string_view>

namespace vexlo {

// Unpacks lib, then lib\ext, of the home (canonical, no trailing backslash); announces the work once.
void preparePackedRuntime(std::string_view home);

// Steps of the operations above, declared for their tests.
namespace detail {
// Runs the unpacking tool for one packed file and deletes it; ends the launcher when the tool cannot start.
void unpackArchive(std::string_view home, const std::string& packedPath);
}  // namespace detail

}  // namespace vexlo
