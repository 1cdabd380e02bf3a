// Stand-in service for the service control tests.
//
//   standin_service.exe [--record FILE] [--stuck] [--stuck-hint MS] [--slow-stop MS]
//
// On start it writes the arguments the service control manager handed to its service main to FILE
// (UTF-8, one per line; the first is the service name) and reports running. On a stop request:
//   default      stop pending briefly, then stopped;
//   --slow-stop  stop pending for MS milliseconds with a 1000 ms wait hint, advancing the check point;
//   --stuck, or a file FILE.stuck present at stop time: stop pending with the wait hint of --stuck-hint
//                (default 1500 ms) and a check point that never moves, until FILE.release appears
//                (or 60 s pass); then stopped.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring recordPath;
bool stuck = false;
DWORD stuckHint = 1500;
DWORD slowStopMs = 0;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopEvent = nullptr;

void report(DWORD state, DWORD checkPoint, DWORD waitHint) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    SetServiceStatus(statusHandle, &status);
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string toUtf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

void recordArguments(DWORD argc, LPWSTR* argv) {
    if (recordPath.empty()) return;
    std::string text;
    for (DWORD i = 0; i < argc; ++i) text += toUtf8(argv[i]) + "\n";
    HANDLE file = CreateFileW(recordPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

DWORD WINAPI handler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        // Stop pending is reported before the handler returns, so whoever asked sees it at once.
        bool holdStop = stuck || (!recordPath.empty() && fileExists(recordPath + L".stuck"));
        report(SERVICE_STOP_PENDING, 1, holdStop ? stuckHint : slowStopMs > 0 ? 1000 : 2000);
        SetEvent(stopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
    statusHandle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", handler, nullptr);
    if (!statusHandle) return;
    recordArguments(argc, argv);
    report(SERVICE_RUNNING, 0, 0);
    WaitForSingleObject(stopEvent, INFINITE);

    if (stuck || (!recordPath.empty() && fileExists(recordPath + L".stuck"))) {
        for (int i = 0; i < 600 && !(!recordPath.empty() && fileExists(recordPath + L".release")); ++i) Sleep(100);
    } else if (slowStopMs > 0) {
        DWORD checkPoint = 2;
        ULONGLONG begin = GetTickCount64();
        while (GetTickCount64() - begin < slowStopMs) {
            report(SERVICE_STOP_PENDING, checkPoint++, 1000);
            Sleep(300);
        }
    } else {
        Sleep(100);
    }
    report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--record" && i + 1 < argc) {
            recordPath = argv[++i];
        } else if (arg == L"--stuck") {
            stuck = true;
        } else if (arg == L"--stuck-hint" && i + 1 < argc) {
            stuckHint = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
        } else if (arg == L"--slow-stop" && i + 1 < argc) {
            slowStopMs = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
        }
    }
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t name[] = L"standin_service";  // ignored for a service that owns its process
    SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
