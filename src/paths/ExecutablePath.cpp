#include "paths/ExecutablePath.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/CharApi.h"
#include "common/ChildProcess.h"
#include "common/Format.h"
#include "common/ModuleFileName.h"
#include "log/Log.h"

namespace vexlo {
namespace {

struct ExecutablePaths {
    bool computed = false;
    std::wstring longPath;
    std::string ansiPath;
};

struct ExecutableDirectories {
    bool computed = false;
    std::string ansi;
    std::wstring ansiWide;
    std::wstring longDir;
};

ExecutablePaths& paths() {
    static ExecutablePaths p;
    return p;
}

ExecutableDirectories& directories() {
    static ExecutableDirectories d;
    return d;
}

// Code pages that accept no conversion flags are remembered so that later conversions skip the first try.
std::vector<unsigned>& plainCodePages() {
    static std::vector<unsigned> pages;
    return pages;
}

std::wstring longPathOf(const std::wstring& path) {
    std::vector<wchar_t> buffer(kPathCapacity);
    DWORD n = GetLongPathNameW(path.c_str(), buffer.data(), kPathCapacity);
    if (!fitsBuffer(n)) return path;
    return std::wstring(buffer.data(), n);
}

std::optional<std::string> shortPathViaApi(const std::wstring& path) {
    std::vector<wchar_t> buffer(kPathCapacity);
    DWORD n = GetShortPathNameW(path.c_str(), buffer.data(), kPathCapacity);
    if (!fitsBuffer(n)) return std::nullopt;
    bool substituted = false;
    std::string ansi = wideToAnsi(std::wstring_view(buffer.data(), n), &substituted);
    if (substituted) return std::nullopt;
    return ansi;
}

// Last resort: the 8-bit module name (which may hold "?" stand-ins) shortened by the 8-bit call.
std::string shortModuleNameAnsi() {
    std::vector<char> module(kPathCapacity);
    DWORD n = GetModuleFileNameA(nullptr, module.data(), kPathCapacity);
    if (!fitsBuffer(n)) return std::string();
    std::vector<char> shortName(kPathCapacity);
    DWORD m = GetShortPathNameA(module.data(), shortName.data(), kPathCapacity);
    if (!fitsBuffer(m)) return std::string();
    return std::string(shortName.data(), m);
}

void computeExecutablePaths() {
    ExecutablePaths& p = paths();
    if (p.computed) return;
    p.longPath = longPathOf(moduleFileName());

    std::optional<std::string> ansi;
    bool substituted = false;
    std::string direct = wideToAnsi(p.longPath, &substituted);
    if (!substituted && detail::hasExeSuffix(direct)) ansi = direct;
    if (!ansi) {
        std::optional<std::string> viaApi = shortPathViaApi(p.longPath);
        if (viaApi && detail::hasExeSuffix(*viaApi)) ansi = viaApi;
    }
    if (!ansi) {
        std::optional<std::string> viaShell = detail::shortPathViaShell(p.longPath);
        if (viaShell && detail::hasExeSuffix(*viaShell)) ansi = viaShell;
    }
    if (!ansi) ansi = shortModuleNameAnsi();

    collapseBackslashes(p.longPath, 0);
    collapseBackslashesAnsi(*ansi, 0);
    p.ansiPath = std::move(*ansi);
    p.computed = true;
}

template <typename Char>
std::optional<std::basic_string<Char>> directoryPart(const std::basic_string<Char>& path) {
    std::vector<Char> buffer(kPathCapacity);
    Char* filePart = nullptr;
    DWORD n = charapi::getFullPathName(path.c_str(), kPathCapacity, buffer.data(), &filePart);
    if (!fitsBuffer(n)) return std::nullopt;
    return std::basic_string<Char>(buffer.data(), filePart ? static_cast<size_t>(filePart - buffer.data()) : n);
}

}  // namespace

std::optional<std::string> fullPathDirectory(const std::string& path) { return directoryPart(path); }
std::optional<std::wstring> fullPathDirectory(const std::wstring& path) { return directoryPart(path); }

unsigned fileApiCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

std::string detail::wideToAnsiInCodePage(unsigned codePage, std::wstring_view text, bool* substituted) {
    if (substituted) *substituted = false;
    std::wstring input(text);
    std::vector<unsigned>& plainPages = plainCodePages();
    bool plain = std::find(plainPages.begin(), plainPages.end(), codePage) != plainPages.end();
    int size = 0;
    if (!plain) {
        size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, input.c_str(), -1, nullptr, 0, "?", nullptr);
        if (size <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {
            plain = true;
            plainPages.push_back(codePage);
        }
    }
    if (plain) size = WideCharToMultiByte(codePage, 0, input.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        if (substituted) *substituted = true;
        return std::string();
    }
    std::string out(static_cast<size_t>(size), '\0');
    int written;
    if (plain) {
        written = WideCharToMultiByte(codePage, 0, input.c_str(), -1, out.data(), size, nullptr, nullptr);
    } else {
        BOOL usedDefault = FALSE;
        written = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, input.c_str(), -1, out.data(), size, "?",
                                      &usedDefault);
        if (substituted && usedDefault) *substituted = true;
    }
    if (written <= 0) {
        if (substituted) *substituted = true;
        return std::string();
    }
    out.resize(static_cast<size_t>(written) - 1);  // the terminator was converted too
    return out;
}

std::string wideToAnsi(std::wstring_view text, bool* substituted) {
    return detail::wideToAnsiInCodePage(fileApiCodePage(), text, substituted);
}

const std::string& executablePathAnsi() {
    computeExecutablePaths();
    return paths().ansiPath;
}

const std::wstring& executablePathLong() {
    computeExecutablePaths();
    return paths().longPath;
}

namespace {

void initExecutableDirectories() {
    ExecutableDirectories& d = directories();
    if (d.computed) return;
    const std::string& ansi = executablePathAnsi();
    const std::wstring& wide = executablePathLong();

    if (auto directory = fullPathDirectory(ansi)) d.ansi = std::move(*directory);
    d.ansiWide = widenBytes(d.ansi);
    if (auto directory = fullPathDirectory(wide)) d.longDir = std::move(*directory);
    d.computed = true;
}

}  // namespace

const std::string& exeDirAnsi() {
    initExecutableDirectories();
    return directories().ansi;
}

const std::wstring& exeDirAnsiWide() {
    initExecutableDirectories();
    return directories().ansiWide;
}

const std::wstring& exeDirLong() {
    initExecutableDirectories();
    return directories().longDir;
}

std::optional<std::string> detail::shortPathViaShell(const std::wstring& longPath) {
    std::vector<wchar_t> windowsDir(kPathCapacity);
    UINT w = GetWindowsDirectoryW(windowsDir.data(), kPathCapacity);
    if (!fitsBuffer(w)) windowsDir[0] = L'\0';
    ChildProcessRequest request;
    request.commandLine = formatWide(L"%s\\system32\\cmd.exe /C for %%I in (\"%s\") do @echo %%~sI", windowsDir.data(),
                                     longPath.c_str());
    logMessage(L"executing %s", request.commandLine.c_str());
    if (request.commandLine.size() >= kPathCapacity) {
        logMessage(L"could not execute cmd.exe");
        return std::nullopt;
    }
    request.creationFlags = CREATE_NO_WINDOW;
    request.outputLimit = kPathCapacity;
    request.timeoutMs = 10000;
    ChildProcessResult child = runChildProcess(request);
    switch (child.status) {
        case ChildProcessStatus::PipeFailed:
            logMessage(L"CreatePipe error (%d)", static_cast<int>(child.error));
            return std::nullopt;
        case ChildProcessStatus::InheritFailed:
            logMessage(L"SetHandleInformation error (%d)", static_cast<int>(child.error));
            return std::nullopt;
        case ChildProcessStatus::StartFailed: logMessage(L"could not execute cmd.exe"); return std::nullopt;
        case ChildProcessStatus::Finished:
        case ChildProcessStatus::TimedOut: break;
    }
    const std::string& output = child.output;
    logMessage(L"finished reading from cmd.exe %d \"%S\"", static_cast<int>(output.size()), output.c_str());
    logMessage(L"Exit Code %d", static_cast<int>(child.exitCode));
    if (child.status == ChildProcessStatus::TimedOut) {
        logMessage(L"Terminating process");
        return std::nullopt;
    }
    if (child.exitCode != 0 || output.size() < 6) return std::nullopt;
    size_t lineEnd = output.find_first_of("\r\n");
    if (lineEnd == std::string::npos) return std::nullopt;
    std::string shortPath = output.substr(0, lineEnd);
    logMessage(L"Using %S", shortPath.c_str());
    return shortPath;
}

bool ansiToWide(std::string_view text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    UINT cp = fileApiCodePage();
    int size = MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return false;
    wide.resize(static_cast<size_t>(size));
    return MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), wide.data(), size) == size;
}

void collapseBackslashes(std::wstring& text, size_t start) {
    if (start >= text.size()) return;
    size_t out = std::min(text.size(), start + 2);
    for (size_t in = out; in < text.size(); ++in) {
        if (text[in] == L'\\' && text[out - 1] == L'\\') continue;
        text[out++] = text[in];
    }
    text.resize(out);
}

void collapseBackslashesAnsi(std::string& text, size_t start) {
    if (start >= text.size()) return;
    std::wstring wide;
    if (!ansiToWide(std::string_view(text).substr(start), wide)) return;
    collapseBackslashes(wide, 0);
    bool substituted = false;
    std::string back = wideToAnsi(wide, &substituted);
    if (substituted) return;
    text.replace(start, std::string::npos, back);
}

bool detail::hasExeSuffix(std::string_view path) {
    if (path.size() < 5) return false;
    std::string_view suffix = path.substr(path.size() - 4);
    return suffix[0] == '.' && (suffix[1] | 0x20) == 'e' && (suffix[2] | 0x20) == 'x' && (suffix[3] | 0x20) == 'e';
}

}  // namespace vexlo
