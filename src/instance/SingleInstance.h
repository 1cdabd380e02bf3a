// The single-instance guard: the named semaphore that identifies a running application.
#pragma once

#include <string>

namespace vexlo {

// The semaphore name this instance holds (8-bit); empty until the guard has run.
extern std::string instanceSemaphoreName;

}  // namespace vexlo
