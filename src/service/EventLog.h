// The service's source in the Windows event log (Application): registered by /install, removed by
// /uninstall, and the reports the service process makes. The executable's message table holds one message,
// "%1", so that the event viewer shows each report's text as it is.
#pragma once

#include <windows.h>

#include <string>

namespace vexlo {

inline constexpr DWORD kEventMessageId = 1;
inline constexpr wchar_t kEventSourceKeyBase[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// Each returns 0 or the registry's error.
LONG registerEventSource(const std::wstring& serviceName, const std::wstring& messageFile);
LONG removeEventSource(const std::wstring& serviceName);

enum class EventKind : WORD {
    information = EVENTLOG_INFORMATION_TYPE,
    warning = EVENTLOG_WARNING_TYPE,
    error = EVENTLOG_ERROR_TYPE,
};

// Where no event viewer exists (Wine only traces reports), a copy of each report can be asked for: a string
// value named by the service under this key names a file that every report is appended to ("type|text" lines).
inline constexpr wchar_t kEventCopyKey[] = L"SOFTWARE\\tarnwick\\vexlo\\eventcopy";

// Reports under the service's source. Every report, and any failure to make one, also goes to the service
// log: that is where it can be read back on a system without an event viewer.
bool reportServiceEvent(const std::wstring& serviceName, EventKind kind, const std::wstring& text);

}  // namespace vexlo
