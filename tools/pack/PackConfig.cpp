// The configuration file's diagnostics and files, and the command-line form of argument lists.
#include "PackConfig.h"

#include <fstream>
#include <iterator>

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
    std::string out;
    for (const auto& a : args) {
        if (!out.empty()) out += ' ';
        if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) {
            out += a;
            continue;
        }
        // Inside quotes a doubled quote stands for one; backslashes are never special.
        out += '"';
        for (char c : a) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        out += '"';
    }
    return out;
}

std::vector<std::string> splitArguments(std::string_view text) {
    std::vector<std::string> args;
    if (text.empty()) return args;
    size_t i = 0;
    while (true) {
        std::string arg;
        bool inQuotes = false, separated = false, prevQuote = false, more = false;
        for (; i < text.size(); ++i) {
            char c = text[i];
            if (c == ' ' || c == '\t') {
                if (inQuotes) arg += c;
                else separated = true;
            } else if (separated) {
                more = true;
                break;
            } else if (c == '"') {
                if (prevQuote && !inQuotes) {
                    arg += '"';
                    inQuotes = true;
                } else {
                    inQuotes = !inQuotes;
                }
            } else {
                arg += c;
            }
            prevQuote = c == '"';
        }
        args.push_back(arg);
        if (!more) break;
    }
    return args;
}

}  // namespace vexlo::pack
