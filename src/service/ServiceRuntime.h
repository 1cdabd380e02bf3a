// The service's own runtime, entered through the service control dispatcher.
#pragma once

#include <windows.h>

namespace vexlo {

void WINAPI serviceMain(DWORD argc, LPWSTR* argv);

}  // namespace vexlo
