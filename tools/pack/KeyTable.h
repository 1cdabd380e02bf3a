// The mapping table of vexlo-pack: every key of the configuration file, the ids it writes and what it means.
// Encoding, inspecting (the reverse mapping) and the `keys` reference are all driven by it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexlo::pack {

enum class Kind {
    Text,          // string, written as it is
    Version,       // string that must be a Java version
    Flag,          // boolean: true writes "1", false writes nothing
    Choice,        // one of a few words, each standing for a value (or for no entry)
    Joined,        // array of strings joined by a separator
    Args,          // array of arguments joined into one command-line text
    Search,        // runtime search sequence in readable entries
    PathEntries,   // class path or module path entries
    Redirect,      // output file: id gets "1", id2 the path
    VersionRules,  // version-specific VM options: a count and key/options pairs
    Message,       // UTF-16 entry of the message table
    RuntimeJar,    // the runtime jar, embedded as the first included file
    Files,         // included files: count, names and data
    Duration,      // "500ms", "10s", "5m", "1h" or "1d", written as milliseconds
    Recovery,      // table: on_failure actions (id) and reset_after (id2)
    Environment,   // table of variable = value, written as "NAME=value" lines
    Size,          // string of bytes with an optional unit ("512KB", "10MB", "1GB"), written in bytes
    Count,         // integer of 0 or more, written in decimal
};

struct Choice {
    const char* word;
    const char* value;             // nullptr: no entry
    const char* value2 = nullptr;  // for the key's id2; nullptr: no entry
};

struct Key {
    const char* section;  // table of the file
    const char* name;
    Kind kind;
    int id = 0;
    int id2 = 0;
    const char* defaultToml = nullptr;  // used when the key is absent
    const char* help = "";
    const char* separator = nullptr;
    std::vector<Choice> choices = {};
};

// In file order: the order of this table is the order of `keys`, of the README and of inspected files.
const std::vector<Key>& keys();

struct SearchKind {
    const char* word;
    char letter;
    bool takesText;
};
extern const std::vector<SearchKind> kSearchKinds;

struct EntryKind {
    const char* word;
    char letter;
};
extern const std::vector<EntryKind> kEntryKinds;

// Sections of the file besides those of the table.
inline constexpr const char* kLanguagesSection = "languages";
inline constexpr const char* kRawSection = "raw";
inline constexpr const char* kMessagesSection = "messages";
inline constexpr const char* kFilesSection = "files";

const Key* findKey(std::string_view section, std::string_view name);
std::string keyList(std::string_view section);  // "a, b, c": the section's keys, for error messages
std::vector<std::string> sectionNames();        // table sections in order, then languages and raw

}  // namespace vexlo::pack
