#include "paths/ExecutablePath.h"

#include <windows.h>

namespace vexlo {

std::string wideToAnsi(std::wstring_view text, bool* substituted) {
    if (substituted) *substituted = false;
    UINT cp = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    std::wstring input(text);
    BOOL usedDefault = FALSE;
    int size = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, input.c_str(), -1, nullptr, 0, "?", &usedDefault);
    if (size <= 0) {
        if (substituted) *substituted = true;
        return std::string();
    }
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, input.c_str(), -1, out.data(), size, "?", &usedDefault);
    out.resize(static_cast<size_t>(size) - 1);
    if (substituted) *substituted = usedDefault != FALSE;
    return out;
}

const std::wstring& executablePathLong() {
    static const std::wstring path = [] {
        wchar_t module[6000];
        DWORD n = GetModuleFileNameW(nullptr, module, 6000);
        if (n == 0 || n >= 6000) return std::wstring();
        wchar_t longPath[6000];
        DWORD m = GetLongPathNameW(module, longPath, 6000);
        if (m == 0 || m >= 6000) return std::wstring(module, n);
        return std::wstring(longPath, m);
    }();
    return path;
}

const std::string& executablePathAnsi() {
    static const std::string path = wideToAnsi(executablePathLong());
    return path;
}

}  // namespace vexlo
