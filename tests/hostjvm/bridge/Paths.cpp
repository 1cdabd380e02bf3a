// Windows paths as Java on Linux needs them. Wine answers ".../dosdevices/c:/x" for "C:\x"; the colon
// there would split a Unix path list, so the drive link is resolved too.
#include "Bridge.h"

#include <windef.h>
#include <winbase.h>
#include <winnls.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace hostjvm {
namespace {

bool translating = true;

std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

// ".../dosdevices/z:/tmp/new.log" -> "/tmp/new.log" also when the file does not exist yet.
std::string withoutDriveLink(const std::string& path) {
    std::string whole = resolved(path);
    if (!whole.empty()) return whole;
    size_t devices = path.find("/dosdevices/");
    if (devices == std::string::npos) return path;
    size_t rootEnd = devices + 12 + 2;  // "x:"
    if (path.size() < rootEnd || path[rootEnd - 1] != ':') return path;
    std::string root = resolved(path.substr(0, rootEnd));
    if (root.empty()) return path;
    std::string rest = path.substr(rootEnd);
    return root == "/" && !rest.empty() ? rest : root + rest;
}

std::string wineUnixName(const std::u16string& windowsPath) {
    char* name = wine_get_unix_file_name(reinterpret_cast<const WCHAR*>(windowsPath.c_str()));
    if (!name) return {};
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

}  // namespace

std::u16string toUtf16(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), reinterpret_cast<WCHAR*>(wide.data()),
                        n);
    return wide;
}

std::string toUtf8(const std::u16string& text) {
    auto wide = reinterpret_cast<const WCHAR*>(text.data());
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

bool isAbsoluteWindowsPath(const std::u16string& text) {
    if (text.size() < 3 || text[1] != u':' || (text[2] != u'\\' && text[2] != u'/')) return false;
    char16_t drive = text[0];
    return (drive >= u'A' && drive <= u'Z') || (drive >= u'a' && drive <= u'z');
}

std::string unixPath(const std::string& windowsPath) {
    if (windowsPath.empty()) return windowsPath;
    std::u16string wide = toUtf16(windowsPath);
    std::string name = wineUnixName(wide);
    if (!name.empty()) return withoutDriveLink(name);
    // Wine maps a path only when its parent folder exists; otherwise map the drive and keep the rest.
    std::string rest = windowsPath;
    for (char& c : rest)
        if (c == '\\') c = '/';
    if (!isAbsoluteWindowsPath(wide)) return rest;
    std::string root = wineUnixName(wide.substr(0, 3));
    if (root.empty()) return rest;
    root = withoutDriveLink(root);
    if (root.back() != '/') root += '/';
    return root + rest.substr(3);
}

std::string unixPathList(const std::string& windowsList) {
    std::string result;
    size_t start = 0;
    while (start <= windowsList.size()) {
        size_t end = windowsList.find(';', start);
        if (end == std::string::npos) end = windowsList.size();
        if (end > start) {
            if (!result.empty()) result += ':';
            result += unixPath(windowsList.substr(start, end - start));
        }
        start = end + 1;
    }
    return result;
}

void setTranslateStrings(bool on) { translating = on; }
bool translateStrings() { return translating; }

}  // namespace hostjvm
