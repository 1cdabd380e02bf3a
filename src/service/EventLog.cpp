#include "service/EventLog.h"

#include "common/Handles.h"
#include "common/Utf8.h"
#include "service/ServiceLog.h"

namespace vexlo {

namespace {

const wchar_t* kindName(EventKind kind) {
    switch (kind) {
        case EventKind::information: return L"information";
        case EventKind::warning: return L"warning";
        case EventKind::error: return L"error";
    }
    return L"event";
}

// The service log keeps one line per event: line ends inside the text become " | ".
std::wstring oneLine(const std::wstring& text) {
    std::wstring line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') continue;
        if (text[i] == L'\n') {
            if (i + 1 < text.size()) line += L" | ";
        } else {
            line += text[i];
        }
    }
    return line;
}

void appendEventCopy(const std::wstring& serviceName, EventKind kind, const std::wstring& text) {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventCopyKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    wchar_t path[MAX_PATH * 4];
    DWORD size = sizeof path - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), serviceName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return;
    path[size / sizeof(wchar_t)] = L'\0';
    unique_file file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    std::wstring line = std::wstring(kindName(kind)) + L"|" + oneLine(text) + L"\n";
    std::string bytes = toUtf8(line);
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

LONG registerEventSource(const std::wstring& serviceName, const std::wstring& messageFile) {
    if (serviceName.empty()) return ERROR_INVALID_NAME;
    std::wstring keyPath = kEventSourceKeyBase + serviceName;
    unique_hkey key;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                  nullptr);
    if (result != ERROR_SUCCESS) return result;
    result = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(messageFile.c_str()),
                            static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t)));
    if (result != ERROR_SUCCESS) return result;
    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    return RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                          sizeof types);
}

LONG removeEventSource(const std::wstring& serviceName) {
    if (serviceName.empty()) return ERROR_INVALID_NAME;
    std::wstring keyPath = kEventSourceKeyBase + serviceName;
    return RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str());
}

bool reportServiceEvent(const std::wstring& serviceName, EventKind kind, const std::wstring& text) {
    unique_event_source source(RegisterEventSourceW(nullptr, serviceName.c_str()));
    if (!source) {
        serviceLog(L"event log: could not open the source '%s' (error %d)", serviceName.c_str(),
                   static_cast<int>(GetLastError()));
        return false;
    }
    const wchar_t* strings[] = {text.c_str()};
    if (!ReportEventW(source.get(), static_cast<WORD>(kind), 0, kEventMessageId, nullptr, 1, 0, strings, nullptr)) {
        serviceLog(L"event log: could not report the %s event (error %d)", kindName(kind),
                   static_cast<int>(GetLastError()));
        return false;
    }
    serviceLog(L"event log: %s reported: %s", kindName(kind), oneLine(text).c_str());
    appendEventCopy(serviceName, kind, text);
    return true;
}

}  // namespace vexlo
