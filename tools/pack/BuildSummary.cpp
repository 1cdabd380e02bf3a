#include "BuildSummary.h"

#include <sstream>

#include "BlockReader.h"
#include "ConfigIds.h"

namespace vexlo::pack {
namespace {

std::string sizeText(uint64_t bytes) {
    std::ostringstream s;
    if (bytes < 10 * 1024) s << bytes << " bytes";
    else if (bytes < 10ull * 1024 * 1024) s << (bytes + 512) / 1024 << " KiB";
    else s << (bytes + 512 * 1024) / (1024 * 1024) << " MiB";
    return s.str();
}

// The search line as inspect would write it; the launcher's default when the block leaves it out.
std::string searchText(const Block& block) {
    std::istringstream toml(blockToConfig(block, "files").toml);
    std::string line, section;
    while (std::getline(toml, line)) {
        if (!line.empty() && line[0] == '[') section = line;
        else if (section == "[runtime]" && line.rfind("search = ", 0) == 0) return line.substr(9);
    }
    return R"(["dir:jre", "env:JAVA_HOME", "registry", "path"] (the default))";
}

}  // namespace

std::string buildSummary(const std::string& outputShown, uint64_t outputSize, const PackResult& result) {
    const Block& b = result.block;
    std::string names;
    for (const auto& [id, value] : b.config)
        if (id == ids::kIncludedFilePaths) names = value;
    std::string s = "wrote " + outputShown + " (" + sizeText(outputSize) + ")\n";
    s += "  service name:   " +
         (result.serviceName.empty() ? std::string("(none: not a service)") : result.serviceName) + "\n";
    s += "  runtime search: " + searchText(b) + "\n";
    const std::vector<std::string> files = splitIncludedNames(names);
    if (b.includedFiles.empty()) s += "  included files: none\n";
    for (size_t i = 0; i < b.includedFiles.size(); ++i)
        s += std::string(i == 0 ? "  included files: " : "                  ") + (i < files.size() ? files[i] : "?") +
             " (" + sizeText(b.includedFiles[i].size()) + ")\n";
    return s;
}

}  // namespace vexlo::pack
