#include "Encoder.h"

#include <regex>

#include "ConfigIds.h"
#include "TextForms.h"

namespace vexlo::pack {

std::string typeName(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "an integer";
        case toml::node_type::floating_point: return "a number";
        case toml::node_type::boolean: return "a boolean";
        case toml::node_type::array: return "an array";
        case toml::node_type::table: return "a table";
        default: return "a date or time";
    }
}

void Encoder::error(const toml::source_region& at, std::string text) {
    errors.push_back(
        {options.displayName, static_cast<int>(at.begin.line), static_cast<int>(at.begin.column), std::move(text)});
}

void Encoder::errorAtStart(std::string text) { errors.push_back({options.displayName, 1, 1, std::move(text)}); }

const toml::value<std::string>* Encoder::string(const toml::node& node, const std::string& what) {
    if (const auto* text = node.as_string()) return text;
    error(node, what + ": expected a string, found " + typeName(node));
    return nullptr;
}

std::optional<std::vector<std::string>> Encoder::strings(const toml::node& node, const std::string& what,
                                                         const char* forbidden) {
    const auto* array = node.as_array();
    if (!array) {
        error(node, what + ": expected an array of strings, found " + typeName(node));
        return std::nullopt;
    }
    std::vector<std::string> out;
    bool ok = true;
    for (const auto& item : *array) {
        const auto* text = string(item, what + " entry");
        if (!text) {
            ok = false;
            continue;
        }
        if (forbidden && (text->get().empty() || text->get().find_first_of(forbidden) != std::string::npos)) {
            error(item, what + ": expected a non-empty entry without \"" + forbidden + "\"");
            ok = false;
        }
        out.push_back(text->get());
    }
    if (!ok) return std::nullopt;
    return out;
}

void Encoder::encode(const Key& key, const toml::node& node, const std::string& what) {
    switch (key.kind) {
        case Kind::Text:
            if (const auto* text = string(node, what)) put(key.id, text->get());
            break;
        case Kind::Version: encodeVersion(key, node, what); break;
        case Kind::Flag: encodeFlag(key, node, what); break;
        case Kind::Choice: encodeChoice(key, node, what); break;
        case Kind::Size: encodeSize(key, node, what); break;
        case Kind::Count: encodeCount(key, node, what); break;
        case Kind::Joined: encodeJoined(key, node, what); break;
        case Kind::Args:
            if (auto list = strings(node, what, nullptr); list && !list->empty()) put(key.id, joinArguments(*list));
            break;
        case Kind::Search: encodeList(key, node, what, "strings such as \"dir:jre\"", &Encoder::searchEntry); break;
        case Kind::PathEntries:
            encodeList(key, node, what, "entries such as { jar = \"lib\\\\app.jar\" }", &Encoder::pathEntry);
            break;
        case Kind::Redirect:
            if (const auto* path = string(node, what); path && !path->get().empty()) {
                put(key.id, "1");
                put(key.id2, path->get());
            }
            break;
        case Kind::VersionRules: encodeVersionRules(key, node, what); break;
        case Kind::Message:
            if (const auto* text = string(node, what)) messages.push_back({key.id, utf8ToUtf16(text->get())});
            break;
        case Kind::RuntimeJar:
            if (const auto* path = string(node, what); path && !path->get().empty())
                include(&node, localPath(path->get()), kRuntimeJarName);
            break;
        case Kind::Files: break;  // an array of tables at the top: the caller reads it
        case Kind::Duration:
            if (auto milliseconds = duration(node, what)) put(key.id, std::to_string(*milliseconds));
            break;
        case Kind::Recovery: encodeRecovery(key, node, what); break;
        case Kind::Environment: encodeEnvironment(key, node, what); break;
    }
}

std::optional<long long> Encoder::duration(const toml::node& node, const std::string& what) {
    const auto* text = string(node, what);
    if (!text) return std::nullopt;
    auto milliseconds = parseDuration(text->get());
    if (!milliseconds)
        error(node, what +
                        ": expected a duration such as \"500ms\", \"10s\", \"5m\", \"1h\" or \"1d\" (at most 24d), "
                        "found \"" +
                        text->get() + "\"");
    return milliseconds;
}

void Encoder::encodeRecovery(const Key& key, const toml::node& node, const std::string& what) {
    const auto* table = node.as_table();
    if (!table) {
        error(node, what + ": expected a table [service.recovery], found " + typeName(node));
        return;
    }
    for (const auto& [name, value] : *table)
        if (name.str() != "on_failure" && name.str() != "reset_after")
            error(name.source(),
                  what + ": unknown key \"" + std::string(name.str()) + "\"; expected on_failure or reset_after");
    if (const auto* actions = table->get("on_failure")) {
        if (auto list = recoveryActions(*actions, what + ".on_failure")) put(key.id, *list);
    }
    if (const auto* reset = table->get("reset_after")) {
        if (auto milliseconds = duration(*reset, what + ".reset_after")) put(key.id2, std::to_string(*milliseconds));
    }
}

// "restart:<ms>" and "none", comma-separated; "off" for no action at all.
std::optional<std::string> Encoder::recoveryActions(const toml::node& node, const std::string& what) {
    const auto* array = node.as_array();
    if (!array) {
        error(node, what + ": expected an array of strings, found " + typeName(node));
        return std::nullopt;
    }
    bool ok = array->size() <= 3;
    if (!ok) error(node, what + ": at most three actions");
    std::string list;
    for (const auto& item : *array) {
        const auto* text = string(item, what + " entry");
        std::string entry;
        if (!text) {
        } else if (text->get() == "none") {
            entry = "none";
        } else if (text->get().rfind("reboot", 0) == 0) {
            // Restarting the machine is not the application's decision.
            error(item, what + ": a reboot is not the application's decision; use \"restart DURATION\" or \"none\"");
        } else if (text->get().rfind("restart ", 0) == 0) {
            if (auto milliseconds = parseDuration(text->get().substr(8)))
                entry = "restart:" + std::to_string(*milliseconds);
            else
                error(item,
                      what + ": expected a duration after \"restart \" such as \"10s\", found \"" + text->get() + "\"");
        } else {
            error(item, what + ": expected \"restart DURATION\" or \"none\", found \"" + text->get() + "\"");
        }
        if (entry.empty()) ok = false;
        list += (list.empty() ? "" : ",") + entry;
    }
    if (!ok) return std::nullopt;
    return list.empty() ? "off" : list;
}

void Encoder::encodeEnvironment(const Key& key, const toml::node& node, const std::string& what) {
    const auto* table = node.as_table();
    if (!table) {
        error(node, what + ": expected a table [service.environment], found " + typeName(node));
        return;
    }
    std::string lines;
    for (const auto& [name, value] : *table) {
        std::string variable(name.str());
        if (variable.empty() || variable.find_first_of("=\n") != std::string::npos) {
            error(name.source(), what + ": expected a variable name without \"=\", found \"" + variable + "\"");
            continue;
        }
        const auto* text = string(value, what + "." + variable);
        if (!text) continue;
        if (text->get().find('\n') != std::string::npos) {
            error(value, what + "." + variable + ": a value may not hold a line break");
            continue;
        }
        lines += (lines.empty() ? "" : "\n") + variable + "=" + text->get();
    }
    if (!lines.empty()) put(key.id, lines);
}

void Encoder::encodeVersion(const Key& key, const toml::node& node, const std::string& what) {
    const auto* version = string(node, what);
    if (!version) return;
    if (!isJavaVersion(version->get()))
        error(node, what + ": expected a Java version such as \"11\", \"1.8.0_202\" or \"17.0.2+8\", found \"" +
                        version->get() + "\"");
    else put(key.id, version->get());
}

void Encoder::encodeFlag(const Key& key, const toml::node& node, const std::string& what) {
    if (const auto* flag = node.as_boolean()) {
        if (flag->get()) put(key.id, "1");
    } else {
        error(node, what + ": expected true or false, found " + typeName(node));
    }
}

void Encoder::encodeSize(const Key& key, const toml::node& node, const std::string& what) {
    const auto* size = string(node, what);
    if (!size) return;
    if (std::optional<long long> bytes = parseSize(size->get())) put(key.id, std::to_string(*bytes));
    else
        error(node, what + ": expected a size such as \"10MB\", \"512KB\" or \"1GB\" (1 byte to 1024GB), found \"" +
                        size->get() + "\"");
}

void Encoder::encodeCount(const Key& key, const toml::node& node, const std::string& what) {
    const auto* count = node.as_integer();
    if (!count || count->get() < 0 || count->get() > 100000)
        error(node, what + ": expected a whole number from 0 to 100000, found " +
                        (count ? std::to_string(count->get()) : typeName(node)));
    else put(key.id, std::to_string(count->get()));
}

void Encoder::encodeChoice(const Key& key, const toml::node& node, const std::string& what) {
    const auto* word = string(node, what);
    if (!word) return;
    std::string expected;
    for (const auto& choice : key.choices) {
        if (word->get() == choice.word) {
            if (choice.value) put(key.id, choice.value);
            if (choice.value2) put(key.id2, choice.value2);
            return;
        }
        expected += std::string(expected.empty() ? "" : " or ") + "\"" + choice.word + "\"";
    }
    error(node, what + ": expected " + expected + ", found \"" + word->get() + "\"");
}

void Encoder::encodeJoined(const Key& key, const toml::node& node, const std::string& what) {
    auto list = strings(node, what, key.separator);
    if (!list || list->empty()) return;
    std::string joined;
    for (const auto& entry : *list) joined += (joined.empty() ? "" : key.separator) + entry;
    put(key.id, joined);
}

// An array whose entries each give one piece of the launcher's ";"-separated list.
void Encoder::encodeList(const Key& key, const toml::node& node, const std::string& what, const char* expected,
                         EntryEncoder encodeEntry) {
    const auto* array = node.as_array();
    if (!array) {
        error(node, what + ": expected an array of " + expected + ", found " + typeName(node));
        return;
    }
    std::string list;
    for (const auto& item : *array)
        if (auto piece = (this->*encodeEntry)(item, what)) list += (list.empty() ? "" : ";") + *piece;
    if (!list.empty()) put(key.id, list);
}

// "dir:jre" as the launcher's "Ajre".
std::optional<std::string> Encoder::searchEntry(const toml::node& item, const std::string& what) {
    const auto* entryText = string(item, what + " entry");
    if (!entryText) return std::nullopt;
    const std::string& entry = entryText->get();
    size_t colon = entry.find(':');
    std::string word = entry.substr(0, colon), text = colon == std::string::npos ? "" : entry.substr(colon + 1);
    const SearchKind* kind = nullptr;
    for (const auto& candidate : kSearchKinds)
        if (word == candidate.word) kind = &candidate;
    if (!kind) {
        error(item, what + ": unknown kind \"" + word +
                        "\"; expected dir:, dir-fallback:, env:, registry, installations or path");
    } else if (kind->takesText && text.empty()) {
        error(item, what + ": \"" + word + ":\" needs a " + (kind->letter == 'E' ? "variable name" : "folder"));
    } else if (!kind->takesText && colon != std::string::npos) {
        error(item, what + ": \"" + word + "\" takes no text after it");
    } else if (text.find(';') != std::string::npos) {
        error(item, what + ": an entry may not contain \";\"");
    } else {
        return std::string(1, kind->letter) + text;
    }
    return std::nullopt;
}

// { jar = "a.jar", mandatory = true } as the launcher's "A1a.jar".
std::optional<std::string> Encoder::pathEntry(const toml::node& item, const std::string& what) {
    const auto* table = item.as_table();
    if (!table) {
        error(item, what + ": expected an entry such as { jar = \"app.jar\" }, found " + typeName(item));
        return std::nullopt;
    }
    const EntryKind* kind = nullptr;
    std::string path;
    bool mandatory = false, ok = true;
    for (const auto& [name, value] : *table) {
        if (name.str() == "mandatory") {
            if (const auto* flag = value.as_boolean()) mandatory = flag->get();
            else error(value, what + ".mandatory: expected true or false, found " + typeName(value)), ok = false;
            continue;
        }
        const EntryKind* found = nullptr;
        for (const auto& candidate : kEntryKinds)
            if (name.str() == candidate.word) found = &candidate;
        if (!found) {
            error(name.source(), what + ": unknown kind \"" + std::string(name.str()) +
                                     "\"; expected jar, dir, scan or env (and mandatory)");
            ok = false;
        } else if (kind) {
            error(name.source(), what + ": an entry has one kind; found " + kind->word + " and " + found->word);
            ok = false;
        } else if (const auto* text = string(value, what + "." + found->word)) {
            kind = found;
            path = text->get();
            if (path.empty() || path.find(';') != std::string::npos) {
                error(value, what + "." + found->word + ": expected a non-empty path without \";\"");
                ok = false;
            }
        } else {
            ok = false;
        }
    }
    if (!kind && ok) {
        error(item, what + ": entry without a kind; expected jar, dir, scan or env");
        ok = false;
    }
    if (!ok) return std::nullopt;
    return std::string(1, kind->letter) + (mandatory ? "1" : "0") + path;
}

void Encoder::encodeVersionRules(const Key& key, const toml::node& node, const std::string& what) {
    const auto* array = node.as_array();
    if (!array) {
        error(node, what + ": expected an array of rules such as { versions = \"11-17\", options = [...] }, found " +
                        typeName(node));
        return;
    }
    std::vector<std::pair<std::string, std::string>> rules;
    for (const auto& item : *array)
        if (auto rule = versionRule(item, what)) rules.push_back(std::move(*rule));
    if (rules.empty()) return;
    put(key.id, std::to_string(rules.size()));
    for (size_t i = 0; i < rules.size(); ++i) {
        put(ids::kVersionRuleKeyBase + 2 * static_cast<int>(i), rules[i].first);
        put(ids::kVersionRuleOptionsBase + 2 * static_cast<int>(i), rules[i].second);
    }
}

// { versions = "11-17", options = [...] } as the launcher's key ("11-17", or "*" and a pattern) and options.
std::optional<std::pair<std::string, std::string>> Encoder::versionRule(const toml::node& item,
                                                                        const std::string& what) {
    static const std::regex range("[0-9]*-[0-9]*");
    const auto* table = item.as_table();
    if (!table) {
        error(item,
              what + ": expected a rule such as { versions = \"11-17\", options = [...] }, found " + typeName(item));
        return std::nullopt;
    }
    std::optional<std::string> ruleKey;
    std::optional<std::vector<std::string>> ruleOptions;
    bool ok = true;
    for (const auto& [name, value] : *table) {
        std::string where = what + "." + std::string(name.str());
        if (name.str() == "versions" || name.str() == "pattern") {
            const auto* text = string(value, where);
            if (!text || ruleKey) {
                if (text) error(name.source(), what + ": a rule has either versions or pattern");
                ok = false;
            } else if (name.str() == "versions" && !std::regex_match(text->get(), range)) {
                error(value,
                      where + ": expected a range of feature versions such as \"11-17\", \"-8\" or \"21-\", found \"" +
                          text->get() + "\"");
                ok = false;
            } else {
                ruleKey = (name.str() == "pattern" ? "*" : "") + text->get();
            }
        } else if (name.str() == "options") {
            ruleOptions = strings(value, where, nullptr);
            if (!ruleOptions) ok = false;
        } else {
            error(name.source(),
                  what + ": unknown key \"" + std::string(name.str()) + "\"; expected versions, pattern or options");
            ok = false;
        }
    }
    if (ok && (!ruleKey || !ruleOptions)) {
        error(item, what + ": a rule needs " + (ruleKey ? "options" : "versions or pattern"));
        ok = false;
    }
    if (!ok) return std::nullopt;
    return std::pair(*ruleKey, joinArguments(*ruleOptions));
}

// Paths in the file are relative to the file; the runtime jar of the command line is taken as given.
void Encoder::include(const toml::node* at, const std::filesystem::path& source, const std::string& name) {
    std::filesystem::path path = source;
    if (at && path.is_relative()) path = options.baseDir / path;
    std::string data;
    if (!options.load(path, &data)) {
        std::u8string shown = path.u8string();
        std::string text = "included file \"" + std::string(shown.begin(), shown.end()) +
                           "\" does not exist or cannot be read";
        if (at) error(*at, text);
        else errorAtStart(text + " (the runtime jar; give --runtime-jar or set application.runtime_jar)");
        return;
    }
    fileNames.push_back(name);
    fileData.push_back(std::move(data));
}

}  // namespace vexlo::pack
