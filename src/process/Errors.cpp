#include "process/Errors.h"

#include <windows.h>

#include "common/Buffers.h"
#include "common/ConsoleOutput.h"
#include "common/Format.h"
#include "common/WindowLibrary.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "log/Log.h"
#include "process/LauncherState.h"

namespace vexlo {
namespace {

constexpr size_t kMessageLimit = kPathCapacity - 1;

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

}  // namespace

void showErrorMessage(const std::wstring& text) {
    std::wstring composed = withLogPath(text);
    if (errorDisplayIsMessageBox()) {
        // Without the window library the text still reaches the standard streams below.
        if (const WindowFunctions* window = windowFunctions()) {
            std::wstring title = getMessageText(ids::kMsgErrorTitle);
            window->messageBox(nullptr, composed.c_str(), title.c_str(), MB_ICONERROR | MB_OK);
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

std::wstring composeMessage(int messageId, const std::wstring* detail) {
    std::wstring text = getMessageText(messageId);
    if (detail) {
        size_t at = text.find(L"{0}");
        if (at != std::wstring::npos) text.replace(at, 3, *detail);
    }
    if (text.size() > kMessageLimit) text.resize(kMessageLimit);
    return text;
}

void showMessageError(int messageId) { showErrorMessage(composeMessage(messageId, nullptr)); }

void showMessageError(int messageId, const std::wstring& detail) {
    showErrorMessage(composeMessage(messageId, &detail));
}

void showMessageError(int messageId, const std::string& detail) {
    std::wstring wide = widenBytes(detail);
    if (wide.size() > kPathCapacity) wide.resize(kPathCapacity);
    showErrorMessage(composeMessage(messageId, &wide));
}

void fatalMessageError(int messageId) {
    showMessageError(messageId);
    exitLauncher(1);
}

void fatalMessageError(int messageId, const std::wstring& detail) {
    showMessageError(messageId, detail);
    exitLauncher(1);
}

void fatalMessageError(int messageId, const std::string& detail) {
    showMessageError(messageId, detail);
    exitLauncher(1);
}

}  // namespace vexlo
