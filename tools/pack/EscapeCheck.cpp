#include "EscapeCheck.h"

#include <toml++/toml.h>

#include "InputLimits.h"

namespace vexlo::pack {
namespace {

// Message texts may hold line breaks on purpose, and [raw] values are taken as they are.
bool isMessageText(const std::string& path) {
    return path.rfind("messages.", 0) == 0 || path.rfind("languages.", 0) == 0 || path.rfind("raw.", 0) == 0 ||
           path == "service.description";
}

// The escapes that produce the characters back, as the user typed them.
std::string asTyped(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out += c;
        }
    }
    return out;
}

const char* controlName(const std::string& value) {
    for (char c : value) {
        if (c == '\t') return "a TAB";
        if (c == '\b') return "a backspace";
        if (c == '\f') return "a form feed";
        if (c == '\r') return "a carriage return";
        if (c == '\n') return "a line feed";
    }
    return nullptr;
}

void walk(const toml::node& node, const std::string& path, const std::string& file, std::vector<std::string>* out) {
    if (const auto* t = node.as_table()) {
        for (const auto& [k, v] : *t)
            walk(v, path.empty() ? std::string(k.str()) : path + "." + std::string(k.str()), file, out);
    } else if (const auto* a = node.as_array()) {
        for (size_t i = 0; i < a->size(); ++i) walk(*a->get(i), path + "[" + std::to_string(i) + "]", file, out);
    } else if (const auto* s = node.as_string()) {
        const std::string& value = s->get();
        const char* what = controlName(value);
        if (!what || isMessageText(path)) return;
        const auto& at = node.source().begin;
        out->push_back(file + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": warning: " + path +
                       ": holds " + what +
                       ", which only an escape in a double-quoted string writes; did you mean a "
                       "single-quoted string '" +
                       asTyped(value) + "'?");
    }
}

}  // namespace

std::vector<std::string> escapeWarnings(std::string_view tomlText, const std::string& displayName) {
    std::vector<std::string> out;
    // A file past the limits would exhaust the parser's stack; its error is reported elsewhere.
    if (inputLimitProblem(tomlText, displayName)) return out;
    try {
        toml::table doc = toml::parse(tomlText, displayName);
        walk(doc, "", displayName, &out);
    } catch (const toml::parse_error&) {
        // The error itself is reported by the reader of the file.
    }
    return out;
}

std::string escapeHint(std::string_view tomlText, const Diagnostic& error) {
    if (error.message.find("escape sequence") == std::string::npos || error.line < 1) return {};
    size_t start = 0;
    for (int l = 1; l < error.line && start != std::string_view::npos; ++l) {
        start = tomlText.find('\n', start);
        if (start != std::string_view::npos) ++start;
    }
    if (start == std::string_view::npos) return {};
    const std::string_view line = tomlText.substr(start, tomlText.find('\n', start) - start);
    const size_t col = std::min(line.size(), static_cast<size_t>(error.column > 0 ? error.column - 1 : 0));
    const size_t open = line.rfind('"', col > 0 ? col - 1 : 0);
    std::string typed = "C:\\...";
    if (open != std::string_view::npos) {
        size_t close = open + 1;
        while (close < line.size() && line[close] != '"') close += line[close] == '\\' ? size_t{2} : size_t{1};
        if (close <= line.size()) typed = std::string(line.substr(open + 1, close - open - 1));
    }
    return "; a backslash in a double-quoted string starts an escape: did you mean a single-quoted string '" + typed +
           "'?";
}

}  // namespace vexlo::pack
