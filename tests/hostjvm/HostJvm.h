// Where the build put the host runtime (bin\hostjvm) and small helpers for reading what the probe
// applications print.
#pragma once

#include <string>
#include <vector>

#include "TestSupport.h"

namespace vexlo::test {

std::wstring hostJvmDir();
std::wstring hostJvmHome();                         // home\bin\java.exe, home\bin\server\jvm.dll
std::wstring hostJvmApp(const std::wstring& name);  // apps\<name>.jar

// hostjvm_run.exe with jvm.dll of the home, the options, the main class (with "/") and the arguments.
RunResult runHostJvm(const std::vector<std::wstring>& options, const std::wstring& mainClass,
                     const std::vector<std::wstring>& args, const std::string& stdinData = {}, bool jniChecks = false);

// The Unix form Java should see for a path on C: or Z:, worked out from the prefix's layout rather than
// with Wine's own mapping, which the bridge uses.
std::string unixFormOf(const std::wstring& windowsPath);
std::string unixBinDir();

bool hasLine(const std::string& output, const std::string& line);
// The rest of the first line that starts with the prefix; empty when there is none.
std::string lineValue(const std::string& output, const std::string& prefix);
// Shows the probe's "timing:" line in the test output.
void reportTiming(const std::string& output);

}  // namespace vexlo::test
