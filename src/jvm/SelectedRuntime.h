// What the launch knows about the chosen Java runtime: set once when its library is loaded, read by later steps.
#pragma once

#include <string>

namespace vexlo {

// The Java executable's directory followed by "\..", empty until a runtime has been chosen.
const std::string& selectedJavaHome();
// The chosen runtime's version text, empty until a runtime has been chosen.
const std::string& selectedJavaVersion();
// The bin directory the JVM library was loaded from (no trailing backslash), empty until one has loaded.
const std::string& runtimeBinDirectory();

void setSelectedJavaHome(const std::string& home);
void setSelectedJavaVersion(const std::string& version);
void setRuntimeBinDirectory(const std::string& directory);

// Set when the loaded runtime came from an earlier installation of the application.
bool previousInstallationFlag();
void setPreviousInstallationFlag(bool value);

}  // namespace vexlo
