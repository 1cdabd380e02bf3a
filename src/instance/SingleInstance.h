// The single-instance guard: the named semaphore that identifies a running application.
#pragma once

#include <windows.h>

#include <string>

namespace vexlo {

// The semaphore name this instance holds (8-bit); empty until the guard has run.
extern std::string instanceSemaphoreName;

// Where every first instance stores its process id, under HKEY_CURRENT_USER; the value is named after the
// executable's canonical lower-case path.
inline constexpr char kInstancePidsKey[] = "SOFTWARE\\tarnwick\\vexlo\\pids\\";
// Numbered mode tries the suffixes 0 to this one.
inline constexpr int kLastInstanceNumber = 100000;

// Creates this instance's semaphore. A second instance in single-instance mode ends the process with exit
// code 0 (after bringing the first instance's windows to the front when configured); otherwise it returns.
void checkSingleInstance();

// Steps of the operations above, declared for their tests.
namespace detail {
// The name without a number: the scope's prefix and the executable's canonical lower-case path with "_"
// for every backslash and blank. `openToEveryone` tells whether the semaphore gets a null access list.
std::string instanceSemaphoreBase(bool& openToEveryone);
// The process id stored for this executable, 0 when there is none.
DWORD lookupInstancePid();
// Stores the current process id for this executable; failures are ignored.
void registerInstancePid();
}  // namespace detail

}  // namespace vexlo
