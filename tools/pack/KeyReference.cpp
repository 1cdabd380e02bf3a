// The `keys` text: every key of the table as a Markdown list, the README's key reference.
#include <string>

#include "KeyTable.h"
#include "PackConfig.h"

namespace vexlo::pack {
namespace {

std::string idsOf(const Key& key) {
    switch (key.kind) {
        case Kind::RuntimeJar: return "included file";
        case Kind::Files: return "ids " + std::to_string(key.id) + ", " + std::to_string(key.id2) + " and the data";
        case Kind::VersionRules: return "ids 10200, 10201 + 2i, 10202 + 2i";
        case Kind::Message: return "message " + std::to_string(key.id);
        default: return "id " + std::to_string(key.id) + (key.id2 ? " and " + std::to_string(key.id2) : "");
    }
}

std::string typeOf(const Key& key) {
    switch (key.kind) {
        case Kind::Flag: return "boolean";
        case Kind::Count: return "integer";
        case Kind::Joined:
        case Kind::Args:
        case Kind::Search: return "array of strings";
        case Kind::PathEntries:
        case Kind::VersionRules: return "array of tables";
        case Kind::Files: return "tables";
        case Kind::Recovery:
        case Kind::Environment: return "table";
        default: return "string";
    }
}

std::string sectionHeading(const std::string& section) {
    return section == kFilesSection ? "`[[files]]`" : "`[" + section + "]`";
}

}  // namespace

std::string keyReference() {
    std::string out;
    std::string currentSection;
    for (const auto& key : keys()) {
        if (currentSection != key.section) {
            currentSection = key.section;
            out += std::string(out.empty() ? "" : "\n") + sectionHeading(currentSection) + "\n\n";
        }
        out += "- `" + std::string(key.kind == Kind::Files ? "source`, `name" : key.name) + "` (" + typeOf(key) + ", " +
               idsOf(key) + ")";
        if (*key.help) out += ": " + std::string(key.help);
        if (key.defaultToml) out += ". Default: `" + std::string(key.defaultToml) + "`";
        out += "\n";
    }
    out +=
        "\n`[languages.PREFIX]`\n\n- message names of `[messages]`, or message ids: texts for locales that begin with "
        "PREFIX (such as \"de\" or \"de_DE\"); later prefixes in name order win\n";
    out +=
        "\n`[raw]`\n\n- `ID = \"value\"`: any configuration id by number; `[messages]` also takes message ids by number\n";
    return out;
}

}  // namespace vexlo::pack
