#include "process/Errors.h"

#include <windows.h>

#include "common/Buffers.h"
#include "common/ConsoleOutput.h"
#include "common/Format.h"
#include "common/Utf8.h"
#include "common/WindowLibrary.h"
#include "log/Log.h"
#include "process/LauncherState.h"

namespace vexlo {
namespace {

constexpr size_t kMessageLimit = kPathCapacity - 1;

ErrorDisplay (*displaySource)() = nullptr;

std::wstring withLogPath(const std::wstring& text) {
    std::wstring logPath = getLogPath();
    if (logPath.empty()) return text;
    wchar_t longPath[kPathCapacity];
    DWORD n = GetLongPathNameW(logPath.c_str(), longPath, kPathCapacity);
    std::wstring shown = fitsBuffer(n) ? std::wstring(longPath, n) : logPath;
    std::wstring composed = formatWide(L"%s\n\nLog: %s", text.c_str(), shown.c_str());
    if (composed.size() > kMessageLimit) composed.resize(kMessageLimit);
    return composed;
}

// A service's child has no desktop: a message box would wait where nobody sees it. Its standard error is
// drained into the service log, which keeps the whole text as UTF-8.
void writeErrorUtf8(const std::wstring& text) {
    std::string bytes = toUtf8(text) + '\n';
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (writeBytes(err, bytes)) FlushFileBuffers(err);
}

}  // namespace

void setErrorDisplaySource(ErrorDisplay (*source)()) { displaySource = source; }

void showErrorMessage(const std::wstring& text) {
    std::wstring composed = withLogPath(text);
    if (noMessageBoxFlag) {
        writeErrorUtf8(composed);
        return;
    }
    const ErrorDisplay display = displaySource ? displaySource() : ErrorDisplay{};
    if (display.messageBox) {
        // Without the window library the text still reaches the standard streams below.
        if (const WindowFunctions* window = windowFunctions()) {
            window->messageBox(nullptr, composed.c_str(), display.title.c_str(), MB_ICONERROR | MB_OK);
            return;
        }
        logMessage(L"window library not loaded %d", static_cast<int>(GetLastError()));
    }
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (writeToConsole(out, composed)) {
        FlushFileBuffers(out);
        return;
    }
    // Not a console: 8-bit text on the standard error stream.
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    // The ANSI code page stands in for characters it lacks, rather than cutting the text short.
    std::string bytes;
    {
        int size = WideCharToMultiByte(CP_ACP, 0, composed.c_str(), static_cast<int>(composed.size()), nullptr, 0,
                                       nullptr, nullptr);
        bytes.resize(size > 0 ? static_cast<size_t>(size) : 0);
        if (size > 0)
            WideCharToMultiByte(CP_ACP, 0, composed.c_str(), static_cast<int>(composed.size()), bytes.data(), size,
                                nullptr, nullptr);
        bytes += '\n';
    }
    if (writeBytes(err, bytes)) FlushFileBuffers(err);
}

void fatalError(const std::wstring& text) {
    showErrorMessage(text);
    exitLauncher(1);
}

}  // namespace vexlo
