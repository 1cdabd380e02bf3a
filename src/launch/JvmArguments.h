// Assembly of the virtual machine's options, and the Java option variables it keeps out.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace vexlo {

// The launcher's own system properties ("-D" options), in their fixed order.
std::vector<std::string> buildSystemProperties();

// The whole option vector as the initialisation record for JNI_CreateJavaVM. The record and its
// strings live until the process ends.
JavaVMInitArgs* assembleJvmArguments(const std::vector<std::string>& systemProperties,
                                     const std::vector<std::wstring>& arguments);

// Removes _JAVA_OPTIONS, JDK_JAVA_OPTIONS and JAVA_TOOL_OPTIONS from every view of the environment.
void removeJavaOptionVariables();

}  // namespace vexlo
