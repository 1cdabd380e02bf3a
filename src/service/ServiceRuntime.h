// The service's own runtime, entered through the service control dispatcher: it runs the application in a
// child copy of the launcher, reports the service's state and forwards stop requests to the child.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace vexlo {

inline constexpr DWORD kServiceWaitHintMs = 50000;
// Service-specific exit codes reported with ERROR_SERVICE_SPECIFIC_ERROR.
inline constexpr DWORD kChildNotStartedCode = 5000;
inline constexpr DWORD kChildPipesFailedCode = 5001;
// The child outlived the stop time and the grace period; its job was ended.
inline constexpr DWORD kChildKilledCode = 5002;

void WINAPI serviceMain(DWORD argc, LPWSTR* argv);
void WINAPI serviceControlHandler(DWORD control);
// Writes the shut-down line ("<code>\n") to the child's standard input and closes it.
void sendShutdown(unsigned char code);
DWORD WINAPI consumeChildOutput(LPVOID outputPipe);
// The priority class the child is created with.
DWORD readServicePriority();

// How the child's part of the service main ended.
enum class ChildRun {
    ended,               // the child ran and has exited
    stoppedBeforeStart,  // a stop request came before the child existed
    pipesFailed,         // reported stopped with kChildPipesFailedCode
    notStarted,          // reported stopped with kChildNotStartedCode
};

// The service main after the control handler is registered: starts the child, waits for it, makes the final
// report. The caller ends the process.
ChildRun runServiceChild(const std::vector<std::wstring>& serviceArguments);

// The child's command line: executable, service name, the service process's further arguments, the service
// arguments after the first, the restart marker.
std::wstring buildChildCommandLine(std::wstring_view processCommandLine, const std::wstring& name,
                                   const std::vector<std::wstring>& serviceArguments);

// A copy of the status record as last set; for diagnostics and tests.
SERVICE_STATUS currentServiceStatus();
// Back to the record the service main starts from (running, nothing requested).
void resetServiceStatus();

}  // namespace vexlo
