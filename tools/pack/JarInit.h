#pragma once
// vexlo-pack init: a first vexlo.toml from what an application's jar says about itself.
#include <cstdint>
#include <string>
#include <vector>

namespace vexlo::pack {

struct JarFacts {
    std::string mainClass;               // Main-Class of the manifest, "" when absent
    std::vector<std::string> classPath;  // Class-Path of the manifest, as written (relative URLs)
    std::string moduleName;              // from module-info.class, else Automatic-Module-Name, else ""
    bool explicitModule = false;         // the jar holds a module-info.class
};

// Reads the manifest and the module descriptor; false with a reason for an archive that cannot be read.
bool readJarFacts(const std::vector<uint8_t>& jar, JarFacts* facts, std::string* error);

// The jar's file name made a service name: letters, digits, '-', '_' and '.', without the ".jar".
std::string serviceNameFor(const std::string& jarFileName);

// The commented file; notes (things the user has to look at) are appended to *notes.
std::string initToml(const std::string& jarFileName, const JarFacts& facts, std::vector<std::string>* notes);

// The command: reads the jar, writes the file (not over an existing one unless force), prints what it did.
// 0 written (notes on standard error), 1 unreadable or damaged jar or an unwritable file.
int initCommand(const std::string& jarPath, const std::string& outPath, bool force);

}  // namespace vexlo::pack
