// Assembly of the virtual machine's options, and the Java option variables it keeps out.
#pragma once

namespace vexlo {

// Removes _JAVA_OPTIONS, JDK_JAVA_OPTIONS and JAVA_TOOL_OPTIONS from every view of the environment.
void removeJavaOptionVariables();

}  // namespace vexlo
