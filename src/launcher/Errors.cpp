#include "launcher/Errors.h"

#include <windows.h>

#include <cstdio>

#include "common/Format.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "launcher/Launcher.h"
#include "log/Log.h"

namespace vexlo {
namespace {

constexpr size_t kMessageLimit = 5999;

std::wstring withLogPath(const std::wstring& text) {
    std::wstring logPath = getLogPath();
    if (logPath.empty()) return text;
    wchar_t longPath[6000];
    DWORD n = GetLongPathNameW(logPath.c_str(), longPath, 6000);
    std::wstring shown = (n > 0 && n < 6000) ? std::wstring(longPath, n) : logPath;
    std::wstring composed = formatWide(L"%s\n\nLog: %s", text.c_str(), shown.c_str());
    if (composed.size() > kMessageLimit) composed.resize(kMessageLimit);
    return composed;
}

}  // namespace

void showErrorMessage(const std::wstring& text) {
    std::wstring composed = withLogPath(text);
    if (errorDisplayIsMessageBox()) {
        std::wstring title = getMessageText(ids::kMsgErrorTitle);
        MessageBoxW(nullptr, composed.c_str(), title.c_str(), MB_ICONERROR | MB_OK);
        return;
    }
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_CHAR) {
        DWORD written = 0;
        if (WriteConsoleW(out, composed.c_str(), static_cast<DWORD>(composed.size()), &written, nullptr)) {
            FlushFileBuffers(out);
            return;
        }
    }
    // Not a console: 8-bit text on the standard error stream.
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
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
    DWORD written = 0;
    WriteFile(err, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    FlushFileBuffers(err);
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
    if (wide.size() > 6000) wide.resize(6000);
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
