// The console diagnosis (/check): the launch as the service's child would run it, stopped before the
// virtual machine is created, with what each step found.
#pragma once

#include <string>
#include <vector>

namespace vexlo {

// `arguments`: the program path and the arguments after the command word. Returns 0 when the launch would
// reach the creation of the virtual machine, else 1 with the reason on the last line printed.
int runCheck(const std::vector<std::wstring>& arguments);

}  // namespace vexlo
