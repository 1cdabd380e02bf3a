// From the configuration file to the block: checks the file's shape, then encodes key by key.
#include <algorithm>

#include "ConfigIds.h"
#include "Encoder.h"
#include "InputLimits.h"
#include "TextForms.h"

namespace vexlo::pack {
namespace {

// [[files]] tables may hold only source and name.
void checkFilesTables(Encoder& enc, const toml::node& node) {
    const auto* array = node.as_array();
    if (!array || !array->is_array_of_tables()) {
        enc.error(node, "files: expected [[files]] tables, found " + typeName(node));
        return;
    }
    for (const auto& file : *array)
        for (const auto& [name, value] : *file.as_table())
            if (name.str() != "source" && name.str() != "name")
                enc.error(name.source(),
                          "[[files]]: unknown key \"" + std::string(name.str()) + "\"; expected source or name");
}

// Unknown sections and keys first, so that a misspelt key is never silently ignored.
void checkSectionsAndKeys(Encoder& enc, const toml::table& doc) {
    std::vector<std::string> known = sectionNames();
    for (const auto& [name, node] : doc) {
        std::string section(name.str());
        if (std::find(known.begin(), known.end(), section) == known.end()) {
            std::string list;
            for (const auto& knownSection : known) list += (list.empty() ? "" : ", ") + knownSection;
            enc.error(name.source(), "unknown section \"" + section + "\"; expected one of: " + list);
            continue;
        }
        if (section == kFilesSection) {
            checkFilesTables(enc, node);
            continue;
        }
        const auto* table = node.as_table();
        if (!table) {
            enc.error(node, section + ": expected a table [" + section + "], found " + typeName(node));
            continue;
        }
        // Their keys are ids or message names, checked as they are encoded.
        if (section == kRawSection || section == kLanguagesSection || section == kMessagesSection) continue;
        for (const auto& [keyName, value] : *table)
            if (!findKey(section, keyName.str()))
                enc.error(keyName.source(), "unknown key \"" + std::string(keyName.str()) + "\" in [" + section +
                                                "]; expected one of: " + keyList(section));
    }
}

// One [[files]] table: its source is read and included under its name.
void includeFile(Encoder& enc, const toml::node& fileNode) {
    const auto& file = *fileNode.as_table();
    const auto* source = file.get("source");
    if (!source) {
        enc.error(fileNode, "[[files]]: expected a source");
        return;
    }
    const auto* sourcePath = enc.string(*source, "files.source");
    if (!sourcePath) return;
    std::string name = localPath(sourcePath->get()).filename().string();
    const toml::node* nameAt = source;
    if (const auto* nameNode = file.get("name")) {
        const auto* givenName = enc.string(*nameNode, "files.name");
        if (!givenName) return;
        name = givenName->get(), nameAt = nameNode;
    }
    if (auto bad = badFileName(name)) {
        enc.error(*nameAt, "files.name: refused \"" + name + "\": " + *bad);
        return;
    }
    if (std::find(enc.fileNames.begin(), enc.fileNames.end(), name) != enc.fileNames.end()) {
        enc.error(*nameAt, "files.name: \"" + name + "\" is included twice");
        return;
    }
    enc.include(source, localPath(sourcePath->get()), name);
}

// After the runtime jar (which the table lists first): the [[files]], then their count and names.
void encodeIncludedFiles(Encoder& enc, const toml::table& doc, const Key& key) {
    if (const auto* array = doc.get_as<toml::array>(kFilesSection); array && array->is_array_of_tables())
        for (const auto& file : *array) includeFile(enc, file);
    if (enc.fileNames.empty()) return;
    std::string list;
    for (const auto& name : enc.fileNames) list += (list.empty() ? "" : ";") + name;
    enc.put(key.id, std::to_string(enc.fileNames.size()));
    enc.put(key.id2, list);
}

void encodeDefaultRuntimeJar(Encoder& enc) {
    if (enc.options.runtimeJar.empty())
        enc.errorAtStart("no runtime jar: give --runtime-jar or set application.runtime_jar (\"\" for none)");
    else enc.include(nullptr, enc.options.runtimeJar, kRuntimeJarName);
}

// Every key of the table in table order (messages apart); returns the main class's node, if any.
const toml::node* encodeKeys(Encoder& enc, const toml::table& doc) {
    const toml::node* mainClass = nullptr;
    for (const auto& key : keys()) {
        if (key.kind == Kind::Files) {
            encodeIncludedFiles(enc, doc, key);
            continue;
        }
        if (std::string_view(key.section) == kMessagesSection) continue;  // with the numbered ones
        const toml::table* section = doc.get_as<toml::table>(key.section);
        const toml::node* node = section ? section->get(key.name) : nullptr;
        if (key.kind == Kind::RuntimeJar && !node) {
            encodeDefaultRuntimeJar(enc);
            continue;
        }
        if (key.id == ids::kMainClass) mainClass = node;
        std::string what = std::string(key.section) + "." + key.name;
        if (node) {
            enc.encode(key, *node, what);
        } else if (key.defaultToml) {
            toml::table defaultDoc = toml::parse(std::string("v = ") + key.defaultToml);
            enc.encode(key, *defaultDoc.get("v"), what);
        }
    }
    return mainClass;
}

void checkMainClass(Encoder& enc, const toml::table& doc, const toml::node* mainClass) {
    if (!mainClass) {
        const toml::table* application = doc.get_as<toml::table>("application");
        enc.error(application ? application->source() : toml::source_region{{1, 1}, {1, 1}, nullptr},
                  "application.main_class: expected the main class, e.g. main_class = \"com.example.Main\"");
    } else if (const auto* name = mainClass->as_string(); name && name->get().empty()) {
        enc.error(*mainClass, "application.main_class: expected a class name, found an empty string");
    }
}

// A table of messages: names of the [messages] section (in table order), then message ids by number.
void encodeMessageTable(Encoder& enc, const toml::table& table, const std::string& where, std::vector<Message>& out) {
    std::vector<std::pair<int32_t, const toml::node*>> numbered;
    for (const auto& [name, value] : table) {
        if (findKey(kMessagesSection, name.str())) continue;
        auto id = parseId(name.str());
        if (!id) {
            enc.error(name.source(), where + ": unknown key \"" + std::string(name.str()) +
                                         "\"; expected a message id or one of: " + keyList(kMessagesSection));
            continue;
        }
        for (const auto& key : keys())
            if (key.kind == Kind::Message && key.id == *id && where == "[messages]")
                enc.error(name.source(),
                          where + ": message " + std::to_string(*id) + " has the name " + key.section + "." + key.name);
        numbered.emplace_back(*id, &value);
    }
    for (const auto& key : keys()) {
        if (std::string_view(key.section) != kMessagesSection) continue;
        if (const toml::node* node = table.get(key.name))
            if (const auto* text = enc.string(*node, where + "." + key.name))
                out.push_back({key.id, utf8ToUtf16(text->get())});
    }
    std::sort(numbered.begin(), numbered.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (const auto& [id, node] : numbered)
        if (const auto* text = enc.string(*node, where + "." + std::to_string(id)))
            out.push_back({id, utf8ToUtf16(text->get())});
}

void encodeLanguages(Encoder& enc, const toml::table& languages, std::vector<LanguageGroup>& groups) {
    for (const auto& [prefix, node] : languages) {
        const auto* table = node.as_table();
        if (!table) {
            enc.error(node, "languages." + std::string(prefix.str()) + ": expected a table of messages, found " +
                                typeName(node));
            continue;
        }
        LanguageGroup group{std::string(prefix.str()), {}};
        encodeMessageTable(enc, *table, "[languages." + group.prefix + "]", group.messages);
        groups.push_back(std::move(group));
    }
}

// [raw] entries, by id, after all named keys; an id a named key writes may not be written again.
void encodeRaw(Encoder& enc, const toml::table& raw) {
    std::vector<std::pair<int32_t, std::string>> entries;
    for (const auto& [name, value] : raw) {
        auto id = parseId(name.str());
        if (!id) {
            enc.error(name.source(),
                      "[raw]: expected a configuration id as key, found \"" + std::string(name.str()) + "\"");
            continue;
        }
        if (const auto* text = value.as_string()) entries.emplace_back(*id, text->get());
        else if (const auto* number = value.as_integer()) entries.emplace_back(*id, std::to_string(number->get()));
        else
            enc.error(value,
                      "raw." + std::to_string(*id) + ": expected a string or an integer, found " + typeName(value));
        for (const auto& [mappedId, mappedValue] : enc.config)
            if (mappedId == *id)
                enc.error(name.source(),
                          "raw." + std::to_string(*id) + ": id " + std::to_string(*id) +
                              " is already written by a named key (set that key instead, or to its empty form)");
    }
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (auto& entry : entries) enc.config.push_back(std::move(entry));
}

// The errors in file order; the block only when there are none.
void finish(Encoder& enc, PackResult& result) {
    result.errors = std::move(enc.errors);
    std::stable_sort(result.errors.begin(), result.errors.end(), [](const Diagnostic& a, const Diagnostic& b) {
        return std::tie(a.line, a.column) < std::tie(b.line, b.column);
    });
    if (!result.errors.empty()) return;
    for (const auto& [id, value] : enc.config) {
        result.block.set(id, value);
        if (id == ids::kServiceName) result.serviceName = value;
    }
    result.block.messages = std::move(enc.messages);
    for (auto& data : enc.fileData) result.block.include(std::move(data));
}

}  // namespace

PackResult configToBlock(std::string_view tomlText, const PackOptions& options) {
    PackResult result;
    Encoder enc(options);
    if (auto problem = inputLimitProblem(tomlText, options.displayName)) {
        result.errors.push_back(*problem);
        return result;
    }
    toml::table doc;
    try {
        doc = toml::parse(tomlText, options.displayName);
    } catch (const toml::parse_error& e) {
        enc.error(e.source(), std::string(e.description()));
        result.errors = enc.errors;
        return result;
    }
    checkSectionsAndKeys(enc, doc);
    checkMainClass(enc, doc, encodeKeys(enc, doc));
    if (const auto* messages = doc.get_as<toml::table>(kMessagesSection))
        encodeMessageTable(enc, *messages, "[messages]", enc.messages);
    if (const auto* languages = doc.get_as<toml::table>(kLanguagesSection))
        encodeLanguages(enc, *languages, result.block.groups);
    if (const auto* raw = doc.get_as<toml::table>(kRawSection)) encodeRaw(enc, *raw);
    finish(enc, result);
    return result;
}

}  // namespace vexlo::pack
