#include "paths/ExecutablePath.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/Format.h"
#include "common/Handles.h"
#include "log/Log.h"
#include "paths/PathForms.h"

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

// A call that fills a buffer of kPathCapacity units; a result that does not fit counts as failure.
bool fits(DWORD n) { return n > 0 && n < kPathCapacity; }

std::wstring moduleFileNameWide() {
    std::vector<wchar_t> buffer(kPathCapacity);
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), kPathCapacity);
    if (!fits(n)) return std::wstring();
    return std::wstring(buffer.data(), n);
}

std::wstring longPathOf(const std::wstring& path) {
    std::vector<wchar_t> buffer(kPathCapacity);
    DWORD n = GetLongPathNameW(path.c_str(), buffer.data(), kPathCapacity);
    if (!fits(n)) return path;
    return std::wstring(buffer.data(), n);
}

std::optional<std::string> shortPathViaApi(const std::wstring& path) {
    std::vector<wchar_t> buffer(kPathCapacity);
    DWORD n = GetShortPathNameW(path.c_str(), buffer.data(), kPathCapacity);
    if (!fits(n)) return std::nullopt;
    bool substituted = false;
    std::string ansi = wideToAnsi(std::wstring_view(buffer.data(), n), &substituted);
    if (substituted) return std::nullopt;
    return ansi;
}

// Last resort: the 8-bit module name (which may hold "?" stand-ins) shortened by the 8-bit call.
std::string shortModuleNameAnsi() {
    std::vector<char> module(kPathCapacity);
    DWORD n = GetModuleFileNameA(nullptr, module.data(), kPathCapacity);
    if (!fits(n)) return std::string();
    std::vector<char> shortName(kPathCapacity);
    DWORD m = GetShortPathNameA(module.data(), shortName.data(), kPathCapacity);
    if (!fits(m)) return std::string();
    return std::string(shortName.data(), m);
}

void computeExecutablePaths() {
    ExecutablePaths& p = paths();
    if (p.computed) return;
    p.longPath = longPathOf(moduleFileNameWide());

    std::optional<std::string> ansi;
    bool substituted = false;
    std::string direct = wideToAnsi(p.longPath, &substituted);
    if (!substituted && hasExeSuffix(direct)) ansi = direct;
    if (!ansi) {
        std::optional<std::string> viaApi = shortPathViaApi(p.longPath);
        if (viaApi && hasExeSuffix(*viaApi)) ansi = viaApi;
    }
    if (!ansi) {
        std::optional<std::string> viaShell = shortPathViaShell(p.longPath);
        if (viaShell && hasExeSuffix(*viaShell)) ansi = viaShell;
    }
    if (!ansi) ansi = shortModuleNameAnsi();

    collapseBackslashes(p.longPath, 0);
    collapseBackslashesAnsi(*ansi, 0);
    p.ansiPath = std::move(*ansi);
    p.computed = true;
}

}  // namespace

unsigned fileApiCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

std::string wideToAnsiInCodePage(unsigned codePage, std::wstring_view text, bool* substituted) {
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
    return wideToAnsiInCodePage(fileApiCodePage(), text, substituted);
}

const std::string& executablePathAnsi() {
    computeExecutablePaths();
    return paths().ansiPath;
}

const std::wstring& executablePathLong() {
    computeExecutablePaths();
    return paths().longPath;
}

void initExecutableDirectories() {
    ExecutableDirectories& d = directories();
    if (d.computed) return;
    const std::string& ansi = executablePathAnsi();
    const std::wstring& wide = executablePathLong();

    std::vector<char> ansiBuffer(kPathCapacity);
    char* ansiFilePart = nullptr;
    DWORD n = GetFullPathNameA(ansi.c_str(), kPathCapacity, ansiBuffer.data(), &ansiFilePart);
    if (fits(n)) {
        d.ansi.assign(ansiBuffer.data(), ansiFilePart ? static_cast<size_t>(ansiFilePart - ansiBuffer.data()) : n);
    }
    d.ansiWide = widenBytes(d.ansi);

    std::vector<wchar_t> wideBuffer(kPathCapacity);
    wchar_t* wideFilePart = nullptr;
    DWORD m = GetFullPathNameW(wide.c_str(), kPathCapacity, wideBuffer.data(), &wideFilePart);
    if (fits(m)) {
        d.longDir.assign(wideBuffer.data(), wideFilePart ? static_cast<size_t>(wideFilePart - wideBuffer.data()) : m);
    }
    d.computed = true;
}

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

std::optional<std::string> shortPathViaShell(const std::wstring& longPath) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    unique_handle readEnd;
    unique_handle writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) {
        logMessage(L"CreatePipe error (%d)", static_cast<int>(GetLastError()));
        return std::nullopt;
    }
    if (!SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) {
        logMessage(L"SetHandleInformation error (%d)", static_cast<int>(GetLastError()));
        return std::nullopt;
    }

    std::vector<wchar_t> windowsDir(kPathCapacity);
    UINT w = GetWindowsDirectoryW(windowsDir.data(), kPathCapacity);
    if (!fits(w)) windowsDir[0] = L'\0';
    std::wstring commandLine = formatWide(L"%s\\system32\\cmd.exe /C for %%I in (\"%s\") do @echo %%~sI",
                                          windowsDir.data(), longPath.c_str());
    logMessage(L"executing %s", commandLine.c_str());

    PROCESS_INFORMATION info{};
    BOOL started = FALSE;
    if (commandLine.size() < kPathCapacity) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = writeEnd.get();
        startup.hStdError = writeEnd.get();
        started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &info);
    }
    if (!started) {
        logMessage(L"could not execute cmd.exe");
        return std::nullopt;
    }
    unique_handle process(info.hProcess);
    unique_handle thread(info.hThread);
    writeEnd.reset();  // our copy must go, or the read below never sees the end

    std::string output;
    std::vector<char> chunk(kPathCapacity);
    while (output.size() < kPathCapacity) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(kPathCapacity - output.size());
        if (!ReadFile(readEnd.get(), chunk.data(), want, &got, nullptr) || got == 0) break;
        output.append(chunk.data(), got);
    }
    readEnd.reset();
    logMessage(L"finished reading from cmd.exe %d \"%S\"", static_cast<int>(output.size()), output.c_str());

    // The child closes its output just before it ends; give it a moment so its exit code is final.
    WaitForSingleObject(process.get(), 10000);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    logMessage(L"Exit Code %d", static_cast<int>(exitCode));
    if (exitCode == STILL_ACTIVE) {
        logMessage(L"Terminating process");
        TerminateProcess(process.get(), 1);
        return std::nullopt;
    }
    if (exitCode != 0 || output.size() < 6) return std::nullopt;
    size_t lineEnd = output.find_first_of("\r\n");
    if (lineEnd == std::string::npos) return std::nullopt;
    std::string shortPath = output.substr(0, lineEnd);
    logMessage(L"Using %S", shortPath.c_str());
    return shortPath;
}

}  // namespace vexlo
