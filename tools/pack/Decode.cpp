// From the block to the configuration file (vexlo-pack inspect). Every key is decoded, encoded again and
// kept only when that gives back the very entries: what the vocabulary cannot express goes to [raw].
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>

#include "BlockReader.h"
#include "ConfigIds.h"
#include "Encoder.h"
#include "TextForms.h"

namespace vexlo::pack {
namespace {

// Values of the printed file: enough of TOML for what the mapping produces, printed in a fixed order.
struct Value {
    enum class Type { String, Boolean, Integer, Array, Table } type = Type::String;
    std::string text;
    bool flag = false;
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> fields;

    static Value string(std::string text) {
        Value v;
        v.text = std::move(text);
        return v;
    }
    static Value boolean(bool flag) {
        Value v;
        v.type = Type::Boolean;
        v.flag = flag;
        return v;
    }
    static Value integer(std::string digits) {
        Value v;
        v.type = Type::Integer;
        v.text = std::move(digits);
        return v;
    }
    static Value array() {
        Value v;
        v.type = Type::Array;
        return v;
    }
    static Value table(std::vector<std::pair<std::string, Value>> fields) {
        Value v;
        v.type = Type::Table;
        v.fields = std::move(fields);
        return v;
    }

    std::string print() const {
        switch (type) {
            case Type::String: return quoted(text);
            case Type::Boolean: return flag ? "true" : "false";
            case Type::Integer: return text;
            case Type::Array: {
                std::string out = "[";
                for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i].print();
                return out + "]";
            }
            case Type::Table: {
                std::string out = "{ ";
                for (size_t i = 0; i < fields.size(); ++i)
                    out += (i ? ", " : "") + fields[i].first + " = " + fields[i].second.print();
                return out + " }";
            }
        }
        return {};
    }
};

using Fields = std::vector<std::pair<std::string, Value>>;  // one section's keys and values
using Tables = std::map<std::string, Fields>;               // by section
using Config = std::map<int32_t, std::string>;              // the block's entries, the last value of each id
using Entries = std::vector<std::pair<int32_t, std::string>>;

std::optional<std::string> take(const Config& config, int id) {
    auto it = config.find(id);
    if (it == config.end()) return std::nullopt;
    return it->second;
}

Value strings(const std::vector<std::string>& list) {
    Value array = Value::array();
    for (const auto& text : list) array.items.push_back(Value::string(text));
    return array;
}

std::vector<std::string> splitOn(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return pieces;
        start = end + 1;
    }
}

std::optional<Value> decodeSearch(const std::optional<std::string>& sequence) {
    if (!sequence) return Value::array();  // the default would otherwise come back
    Value array = Value::array();
    for (const auto& entry : splitOn(*sequence, ';')) {
        if (entry.empty()) return std::nullopt;
        const SearchKind* kind = nullptr;
        for (const auto& candidate : kSearchKinds)
            if (entry[0] == candidate.letter) kind = &candidate;
        if (!kind) return std::nullopt;
        array.items.push_back(
            Value::string(kind->takesText ? std::string(kind->word) + ":" + entry.substr(1) : kind->word));
    }
    return array;
}

std::optional<Value> decodePathEntries(const std::string& list) {
    Value array = Value::array();
    for (const auto& entry : splitOn(list, ';')) {
        const EntryKind* kind = nullptr;
        for (const auto& candidate : kEntryKinds)
            if (!entry.empty() && entry[0] == candidate.letter) kind = &candidate;
        if (!kind || entry.size() < 3 || (entry[1] != '0' && entry[1] != '1')) return std::nullopt;
        Fields fields{{kind->word, Value::string(entry.substr(2))}};
        if (entry[1] == '1') fields.emplace_back("mandatory", Value::boolean(true));
        array.items.push_back(Value::table(std::move(fields)));
    }
    return array;
}

// The flag id says "redirect", id2 holds the path: both or neither.
std::optional<Value> decodeRedirect(const Key& key, const Config& config, const std::optional<std::string>& flag,
                                    std::vector<int>* usedIds) {
    auto path = take(config, key.id2);
    if (path) usedIds->push_back(key.id2);
    if (!flag && !path) return Value::string("");
    if (!flag || !path) return std::nullopt;
    return Value::string(*path);
}

std::optional<Value> decodeVersionRules(const std::string& count, const Config& config, std::vector<int>* usedIds) {
    int ruleCount = std::atoi(count.c_str());
    Value array = Value::array();
    for (int i = 0; i < ruleCount; ++i) {
        int keyId = ids::kVersionRuleKeyBase + 2 * i, optionsId = ids::kVersionRuleOptionsBase + 2 * i;
        auto ruleKey = take(config, keyId), options = take(config, optionsId);
        if (!ruleKey || !options) return std::nullopt;
        usedIds->push_back(keyId);
        usedIds->push_back(optionsId);
        bool pattern = !ruleKey->empty() && (*ruleKey)[0] == '*';
        array.items.push_back(
            Value::table({{pattern ? "pattern" : "versions", Value::string(pattern ? ruleKey->substr(1) : *ruleKey)},
                          {"options", strings(splitArguments(*options))}}));
    }
    return array;
}

bool isMilliseconds(const std::string& text) {
    return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
}

std::optional<Value> decodeRecovery(const Key& key, const Config& config, const std::optional<std::string>& actions,
                                    std::vector<int>* usedIds) {
    auto reset = take(config, key.id2);
    if (reset) usedIds->push_back(key.id2);
    if (!actions && !reset) return std::nullopt;
    Fields fields;
    if (actions) {
        Value list = Value::array();
        for (const auto& entry : *actions == "off" ? std::vector<std::string>() : splitOn(*actions, ',')) {
            if (entry == "none") list.items.push_back(Value::string("none"));
            else if (entry.rfind("restart:", 0) == 0 && isMilliseconds(entry.substr(8)))
                list.items.push_back(Value::string("restart " + formatDuration(std::stoll(entry.substr(8)))));
            else return std::nullopt;
        }
        fields.emplace_back("on_failure", list);
    }
    if (reset) {
        if (!isMilliseconds(*reset)) return std::nullopt;
        fields.emplace_back("reset_after", Value::string(formatDuration(std::stoll(*reset))));
    }
    return Value::table(std::move(fields));
}

std::optional<Value> decodeEnvironment(const std::string& lines) {
    Fields fields;
    for (const auto& line : splitOn(lines, '\n')) {
        size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) return std::nullopt;
        std::string name = line.substr(0, equals);
        bool bare = std::all_of(name.begin(), name.end(),
                                [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '-'; });
        fields.emplace_back(bare ? name : "\"" + name + "\"", Value::string(line.substr(equals + 1)));
    }
    return Value::table(std::move(fields));
}

// The value of one key and the ids it stands for, or nothing when the vocabulary cannot express them.
// Whether the guess is exact is checked afterwards by encoding it again.
std::optional<Value> decode(const Key& key, const Config& config, std::vector<int>* usedIds) {
    auto value = take(config, key.id);
    if (value) usedIds->push_back(key.id);
    switch (key.kind) {
        case Kind::Search: return decodeSearch(value);
        case Kind::Redirect: return decodeRedirect(key, config, value, usedIds);
        case Kind::Recovery: return decodeRecovery(key, config, value, usedIds);
        case Kind::Flag:
            if (!value) return key.defaultToml ? std::optional<Value>(Value::boolean(false)) : std::nullopt;
            return Value::boolean(true);
        default: break;
    }
    if (!value) return std::nullopt;
    switch (key.kind) {
        case Kind::Text:
        case Kind::Version: return Value::string(*value);
        case Kind::Choice: {
            auto value2 = key.id2 ? take(config, key.id2) : std::nullopt;
            if (value2) usedIds->push_back(key.id2);
            for (const auto& choice : key.choices)
                if (choice.value && *value == choice.value && (choice.value2 ? value2 == choice.value2 : !value2))
                    return Value::string(choice.word);
            return std::nullopt;
        }
        case Kind::Duration:
            if (!isMilliseconds(*value)) return std::nullopt;
            return Value::string(formatDuration(std::stoll(*value)));
        case Kind::Environment: return decodeEnvironment(*value);
        case Kind::Size:
            if (auto bytes = parseSize(*value); bytes && std::to_string(*bytes) == *value)
                return Value::string(formatSize(*bytes));
            return std::nullopt;
        case Kind::Count:
            if (value->empty() || value->size() > 6 || value->find_first_not_of("0123456789") != std::string::npos)
                return std::nullopt;
            return Value::integer(*value);
        case Kind::Joined: return strings(splitOn(*value, key.separator[0]));
        case Kind::Args: return strings(splitArguments(*value));
        case Kind::PathEntries: return decodePathEntries(*value);
        case Kind::VersionRules: return decodeVersionRules(*value, config, usedIds);
        default: return std::nullopt;
    }
}

// Encodes a printed value again through the same path the build takes.
Entries reencode(const Key& key, const Value& value) {
    std::string text = "[" + std::string(key.section) + "]\n" + key.name + " = " + value.print() + "\n";
    toml::table doc = toml::parse(text);
    PackOptions options;
    Encoder enc(options);
    enc.encode(key, *doc[key.section][key.name].node(), key.name);
    if (!enc.errors.empty()) return {{-1, "error"}};
    return enc.config;
}

Config readConfig(const Block& block, std::vector<std::string>& notes) {
    Config config;
    for (const auto& [id, value] : block.config) {
        if (config.count(id))
            notes.push_back("id " + std::to_string(id) + " occurs more than once; only its last value is shown");
        config[id] = value;
    }
    return config;
}

// Included files as [[files]] (name, source below filesDir), their data into `out`; their ids leave the
// config when the list is one that [[files]] writes.
std::vector<std::pair<std::string, std::string>> takeIncludedFiles(const Block& block, Config& config,
                                                                   const std::filesystem::path& filesDir,
                                                                   Inspection& out) {
    std::vector<std::pair<std::string, std::string>> files;
    auto count = take(config, ids::kIncludedFileCount), list = take(config, ids::kIncludedFilePaths);
    std::vector<std::string> names = list ? splitIncludedNames(*list) : std::vector<std::string>();
    std::string joined;
    for (const auto& name : names) joined += (joined.empty() ? "" : ";") + name;
    bool exact = count && list && *list == joined && *count == std::to_string(names.size()) &&
                 block.includedFiles.size() == names.size() &&
                 std::all_of(names.begin(), names.end(), [](auto& name) { return !badFileName(name); }) &&
                 std::set<std::string>(names.begin(), names.end()).size() == names.size();
    if (!exact) {
        if (count || list)
            out.notes.push_back(
                "the included files are listed in a way [[files]] cannot express; shown under [raw], data not shown");
        return files;
    }
    config.erase(ids::kIncludedFileCount);
    config.erase(ids::kIncludedFilePaths);
    for (size_t i = 0; i < names.size(); ++i) {
        std::string relative = names[i];
        std::replace(relative.begin(), relative.end(), '\\', '/');
        std::filesystem::path local = filesDir / localPath(relative);
        std::u8string shown = local.generic_u8string();
        files.emplace_back(names[i], std::string(shown.begin(), shown.end()));
        out.files.emplace_back(local, block.includedFiles[i]);
    }
    return files;
}

// One key into its section, or (when not expressible) its ids left for [raw].
void decodeKey(const Key& key, Config& config, Tables& tables) {
    std::vector<int> usedIds;
    auto value = decode(key, config, &usedIds);
    Entries original;
    for (int id : usedIds) original.emplace_back(id, config[id]);
    bool textOk = true;
    for (auto& [id, text] : original) textOk = textOk && validUtf8(text);
    if (!value && usedIds.empty()) return;  // absent, and no default to speak against
    if (!value || !textOk || reencode(key, *value) != original) {
        // A key with a default must still say "none", or the build would write the default beside [raw].
        if (key.defaultToml) {
            if (key.kind == Kind::Flag) tables[key.section].emplace_back(key.name, Value::boolean(false));
            else if (key.kind == Kind::Search) tables[key.section].emplace_back(key.name, Value::array());
            else if (key.kind == Kind::Redirect) tables[key.section].emplace_back(key.name, Value::string(""));
        }
        return;
    }
    for (int id : usedIds) config.erase(id);
    tables[key.section].emplace_back(key.name, *value);
}

void decodeKeys(Config& config, std::vector<std::pair<std::string, std::string>>& files, Tables& tables) {
    bool hasRuntimeJar = !files.empty() && files.front().first == kRuntimeJarName;
    for (const auto& key : keys()) {
        if (key.kind == Kind::Message || key.kind == Kind::Files) continue;
        if (key.kind == Kind::RuntimeJar) {
            tables[key.section].emplace_back(key.name, Value::string(hasRuntimeJar ? files.front().second : ""));
            if (hasRuntimeJar) files.erase(files.begin());
            continue;
        }
        decodeKey(key, config, tables);
    }
}

// Messages: named ones by name, then the others by number. `service` (for the block's own table) takes
// the description.
Fields messageFields(const std::vector<Message>& list, Fields* service) {
    std::map<int32_t, std::u16string> byId;
    for (const auto& message : list) byId[message.id] = message.text;
    Fields named;
    for (const auto& key : keys())
        if (key.kind == Kind::Message && std::string_view(key.section) == kMessagesSection && byId.count(key.id)) {
            named.emplace_back(key.name, Value::string(utf16ToUtf8(byId[key.id])));
            byId.erase(key.id);
        }
    if (service && byId.count(ids::kServiceDescription)) {
        service->emplace_back("description", Value::string(utf16ToUtf8(byId[ids::kServiceDescription])));
        byId.erase(ids::kServiceDescription);
    }
    for (const auto& [id, text] : byId) named.emplace_back(std::to_string(id), Value::string(utf16ToUtf8(text)));
    return named;
}

void decodeMessages(const Block& block, Tables& tables, std::vector<std::string>& notes) {
    std::map<int32_t, std::u16string> byId;
    for (const auto& message : block.messages) {
        if (byId.count(message.id))
            notes.push_back("message " + std::to_string(message.id) +
                            " occurs more than once; only its last text is shown");
        byId[message.id] = message.text;
    }
    std::vector<Message> lastTexts;
    for (const auto& [id, text] : byId) lastTexts.push_back({id, text});
    tables[kMessagesSection] = messageFields(lastTexts, &tables["service"]);
}

// The sections of the table in table order, each with its keys in table order.
std::string printSections(Tables& tables) {
    auto position = [](const std::string& section, const std::string& name) {
        for (size_t i = 0; i < keys().size(); ++i)
            if (section == keys()[i].section && name == keys()[i].name) return i;
        return keys().size();
    };
    std::string toml;
    for (const auto& section : sectionNames()) {
        if (section == kLanguagesSection || section == kRawSection || section == kFilesSection) continue;
        auto& fields = tables[section];
        if (fields.empty()) continue;
        std::stable_sort(fields.begin(), fields.end(),
                         [&](auto& a, auto& b) { return position(section, a.first) < position(section, b.first); });
        toml += "\n[" + section + "]\n";
        for (const auto& [name, value] : fields) toml += name + " = " + value.print() + "\n";
    }
    return toml;
}

std::string printLanguages(const Block& block, std::vector<std::string>& notes) {
    std::string toml;
    std::set<std::string> prefixes;
    for (const auto& group : block.groups) {
        if (!prefixes.insert(group.prefix).second)
            notes.push_back("language group \"" + group.prefix + "\" occurs more than once");
        bool bare = !group.prefix.empty() && std::all_of(group.prefix.begin(), group.prefix.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '_' || c == '-';
        });
        toml += "\n[" + std::string(kLanguagesSection) + "." + (bare ? group.prefix : quoted(group.prefix)) + "]\n";
        for (const auto& [name, value] : messageFields(group.messages, nullptr))
            toml += name + " = " + value.print() + "\n";
    }
    if (!std::is_sorted(block.groups.begin(), block.groups.end(), [](auto& a, auto& b) { return a.prefix < b.prefix; }))
        notes.push_back("language groups are not in name order; a build writes them in name order");
    return toml;
}

std::string printFiles(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string toml;
    for (const auto& [name, source] : files) {
        toml += "\n[[files]]\nsource = " + quoted(source) + "\n";
        std::string relative = name;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        if (localPath(relative).filename().string() != name) toml += "name = " + quoted(name) + "\n";
    }
    return toml;
}

std::string printRaw(const Config& config, std::vector<std::string>& notes) {
    if (config.empty()) return {};
    std::string toml = "\n[" + std::string(kRawSection) + "]\n";
    for (const auto& [id, value] : config) {
        if (!validUtf8(value)) notes.push_back("id " + std::to_string(id) + " holds bytes that are not UTF-8");
        toml += std::to_string(id) + " = " + quoted(utf16ToUtf8(utf8ToUtf16(value))) + "\n";
    }
    return toml;
}

}  // namespace

Inspection blockToConfig(const Block& block, const std::filesystem::path& filesDir) {
    Inspection out;
    Config config = readConfig(block, out.notes);
    auto files = takeIncludedFiles(block, config, filesDir, out);  // the runtime jar first when present
    Tables tables;
    decodeKeys(config, files, tables);
    decodeMessages(block, tables, out.notes);
    out.toml = "# Read back from a launcher by vexlo-pack inspect.\n";
    out.toml += printSections(tables);
    out.toml += printLanguages(block, out.notes);
    out.toml += printFiles(files);
    out.toml += printRaw(config, out.notes);
    return out;
}

}  // namespace vexlo::pack
