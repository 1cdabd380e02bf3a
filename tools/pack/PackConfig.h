// The readable configuration file of vexlo-pack and its mapping onto configuration ids, both ways.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "BlockWriter.h"

namespace vexlo::pack {

struct Diagnostic {
    std::string file;
    int line = 0, column = 0;
    std::string message;
    std::string text() const;  // "file:line:column: error: message"
};

// Reads a file that the configuration names (an included file); false when it cannot be read.
using FileLoader = std::function<bool(const std::filesystem::path& path, std::string* bytes)>;
bool loadFromDisk(const std::filesystem::path& path, std::string* bytes);

struct PackOptions {
    std::string displayName = "vexlo.toml";  // the file name errors carry
    std::filesystem::path baseDir;           // relative paths in the file are taken from here
    std::filesystem::path runtimeJar;        // embedded when the file leaves application.runtime_jar out
    FileLoader load = loadFromDisk;
};

struct PackResult {
    Block block;
    std::string serviceName;
    std::vector<Diagnostic> errors;  // nothing may be written unless this is empty
};

PackResult configToBlock(std::string_view tomlText, const PackOptions& options);

// The name under which the runtime jar is embedded and extracted.
inline constexpr const char* kRuntimeJarName = "vexlo-runtime.jar";

struct Inspection {
    std::string toml;
    // The included files as the TOML names them (files directory + name), with their data.
    std::vector<std::pair<std::filesystem::path, std::string>> files;
    std::vector<std::string> notes;  // what a build of `toml` would not reproduce
};

// The block as a configuration file in the same vocabulary. Included files are referred to below
// filesDir; entries the vocabulary cannot express exactly appear under [raw].
Inspection blockToConfig(const Block& block, const std::filesystem::path& filesDir);

// Every key of the file as a Markdown list (the README's reference section).
std::string keyReference();

// The same keys as a JSON Schema, for editors and validators of TOML.
std::string configSchema();

// Joins arguments so that the launcher's command-line splitting gives them back, and that splitting.
std::string joinArguments(const std::vector<std::string>& args);
std::vector<std::string> splitArguments(std::string_view text);

}  // namespace vexlo::pack
