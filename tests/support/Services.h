// Services in Wine's real service control manager: opening, querying, waiting for a state, cleaning up.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <winsvc.h>

#include <string>

#include "common/Handles.h"

namespace vexlo::test {

unique_sc_handle openManager();
unique_sc_handle openService(const std::wstring& name, DWORD access);
// The status with the process id; a current state of 0 when the service cannot be queried.
SERVICE_STATUS_PROCESS queryStatus(const std::wstring& name);
// Polls until the service is in `state`; the failure says where it stayed.
::testing::AssertionResult waitForState(const std::wstring& name, DWORD state, DWORD timeoutMs = 15000);

// Stops and deletes the service when the test ends, whatever state the test left it in.
struct ServiceGuard {
    std::wstring name;
    std::wstring releaseFile;  // written first: lets a held stand-in service finish its stop
    ~ServiceGuard();
};

}  // namespace vexlo::test
