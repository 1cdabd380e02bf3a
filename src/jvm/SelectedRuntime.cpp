#include "jvm/SelectedRuntime.h"

namespace vexlo {

namespace {
std::string javaHome;
std::string javaVersion;
std::string binDirectory;
bool previousInstallation = false;
}  // namespace

const std::string& selectedJavaHome() { return javaHome; }
const std::string& selectedJavaVersion() { return javaVersion; }
const std::string& runtimeBinDirectory() { return binDirectory; }

void setSelectedJavaHome(const std::string& home) { javaHome = home; }
void setSelectedJavaVersion(const std::string& version) { javaVersion = version; }
void setRuntimeBinDirectory(const std::string& directory) { binDirectory = directory; }

bool previousInstallationFlag() { return previousInstallation; }
void setPreviousInstallationFlag(bool value) { previousInstallation = value; }

}  // namespace vexlo
