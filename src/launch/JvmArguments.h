// Assembly of the virtual machine's options, and the Java option variables it keeps out.
#pragma once

#include <jni.h>

#include <string>
#include <string_view>
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

// Steps of the operations above, declared for their tests.
namespace detail {
// Appends the entries of a class path or module path list (configuration id 121 or 132), each followed by
// ";". A mandatory entry that is missing ends the launcher.
void appendClassPathEntries(int id, std::string& target);
// Joins a module option given as two options ("--add-modules", "java.sql") into one ("--add-modules=java.sql").
void joinModuleOptions(std::vector<std::string>& options);
}  // namespace detail

}  // namespace vexlo
