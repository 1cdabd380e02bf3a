// Turns the values of the configuration file into configuration entries, messages and included files, with
// an error (file, line, column) for every value that does not fit its key.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <toml++/toml.h>

#include "KeyTable.h"
#include "PackConfig.h"

namespace vexlo::pack {

// "a string", "an array", ...: what a node is, for error messages.
std::string typeName(const toml::node& node);

struct Encoder {
    explicit Encoder(const PackOptions& packOptions) : options(packOptions) {}
    const PackOptions& options;
    std::vector<Diagnostic> errors;
    std::vector<std::pair<int32_t, std::string>> config;
    std::vector<Message> messages;
    std::vector<std::string> fileNames;
    std::vector<std::string> fileData;

    void error(const toml::source_region& at, std::string text);
    void error(const toml::node& at, std::string text) { error(at.source(), std::move(text)); }
    void errorAtStart(std::string text);  // for what no place in the file stands for
    void put(int id, std::string value) { config.emplace_back(id, std::move(value)); }

    // The node as a string or an array of strings; nothing (after an error) when it is not one. `forbidden`
    // characters may not occur in an entry, which may then not be empty either.
    const toml::value<std::string>* string(const toml::node& node, const std::string& what);
    std::optional<std::vector<std::string>> strings(const toml::node& node, const std::string& what,
                                                    const char* forbidden);

    // The value of one key, `what` naming it in errors ("section.name").
    void encode(const Key& key, const toml::node& node, const std::string& what);

    // Reads an included file (relative to the configuration file when `at`, the place naming it, is given).
    void include(const toml::node* at, const std::filesystem::path& source, const std::string& name);

private:
    void encodeVersion(const Key& key, const toml::node& node, const std::string& what);
    void encodeFlag(const Key& key, const toml::node& node, const std::string& what);
    void encodeChoice(const Key& key, const toml::node& node, const std::string& what);
    void encodeSize(const Key& key, const toml::node& node, const std::string& what);
    void encodeCount(const Key& key, const toml::node& node, const std::string& what);
    void encodeJoined(const Key& key, const toml::node& node, const std::string& what);
    using EntryEncoder = std::optional<std::string> (Encoder::*)(const toml::node& item, const std::string& what);
    void encodeList(const Key& key, const toml::node& node, const std::string& what, const char* expected,
                    EntryEncoder encodeEntry);
    std::optional<std::string> searchEntry(const toml::node& item, const std::string& what);
    std::optional<std::string> pathEntry(const toml::node& item, const std::string& what);
    void encodeVersionRules(const Key& key, const toml::node& node, const std::string& what);
    std::optional<std::pair<std::string, std::string>> versionRule(const toml::node& item, const std::string& what);
    std::optional<long long> duration(const toml::node& node, const std::string& what);
    void encodeRecovery(const Key& key, const toml::node& node, const std::string& what);
    std::optional<std::string> recoveryActions(const toml::node& node, const std::string& what);
    void encodeEnvironment(const Key& key, const toml::node& node, const std::string& what);
};

}  // namespace vexlo::pack
