// The configuration file's diagnostics and files, and the command-line form of argument lists.
#include "PackConfig.h"

#include <fstream>
#include <iterator>

#include "common/CommandLine.h"

namespace vexlo::pack {

std::string Diagnostic::text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": error: " + message;
}

bool loadFromDisk(const std::filesystem::path& path, std::string* bytes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string joinArguments(const std::vector<std::string>& args) {
    std::string line;
    for (const auto& argument : args) appendArgument(line, argument);
    return line;
}

std::vector<std::string> splitArguments(std::string_view text) {
    std::vector<std::string> args;
    splitCommandLine(text, args);
    return args;
}

}  // namespace vexlo::pack
