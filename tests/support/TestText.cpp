#include "TestText.h"

#include <windows.h>

namespace vexlo::test {

std::vector<std::string> splitCrLfLines(const std::string& text) {
    std::vector<std::string> result;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        result.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return result;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> result;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t contentEnd = end > start && text[end - 1] == '\r' ? end - 1 : end;
        result.push_back(text.substr(start, contentEnd - start));
        start = end + 1;
    }
    return result;
}

std::wstring longPathOf(const std::wstring& path) {
    wchar_t buffer[6000];
    DWORD n = GetLongPathNameW(path.c_str(), buffer, 6000);
    return n > 0 && n < 6000 ? std::wstring(buffer, n) : std::wstring();
}

bool sameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace vexlo::test
