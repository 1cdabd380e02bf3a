// Finding and reading the diagnostic log's files.
#include <algorithm>
#include <cwctype>

#include "TestSupport.h"
#include "common/Handles.h"

namespace vexlo::test {
namespace {

// N of "qdr_nlog_N.log", or 0 for any other name.
int logNumber(const std::wstring& name) {
    const std::wstring head = L"qdr_nlog_", tail = L".log";
    if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return 0;
    std::wstring digits = name.substr(head.size(), name.size() - head.size() - tail.size());
    if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return iswdigit(c); }))
        return 0;
    return std::stoi(digits);
}

// Removes a leading "[s:ms] " when the line has one.
std::wstring withoutPrefix(const std::wstring& line) {
    if (line.empty() || line[0] != L'[') return line;
    size_t i = 1;
    auto digits = [&]() {
        size_t start = i;
        while (i < line.size() && iswdigit(line[i])) ++i;
        return i > start;
    };
    if (!digits() || i >= line.size() || line[i] != L':') return line;
    ++i;
    if (!digits() || line.compare(i, 2, L"] ") != 0) return line;
    return line.substr(i + 2);
}

}  // namespace

std::vector<std::wstring> logFiles(const std::wstring& dir) {
    std::vector<std::pair<int, std::wstring>> found;
    WIN32_FIND_DATAW data;
    unique_find find(FindFirstFileW((dir + L"\\qdr_nlog_*.log").c_str(), &data));
    if (find) {
        do {
            if (int n = logNumber(data.cFileName)) found.emplace_back(n, dir + L"\\" + data.cFileName);
        } while (FindNextFileW(find.get(), &data));
    }
    std::sort(found.begin(), found.end());
    std::vector<std::wstring> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
}

std::wstring newestLog(const std::wstring& dir) {
    auto files = logFiles(dir);
    return files.empty() ? std::wstring() : files.back();
}

LogContent readLog(const std::wstring& path) {
    LogContent log;
    std::string bytes = readFileBytes(path).value_or(std::string());
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        log.hasBom = true;
        bytes.erase(0, 3);
    }
    std::string normalised;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) log.crlfOnly = false;
        if (bytes[i] == '\r') log.crlfOnly = false;
        normalised += bytes[i];
    }
    log.text = utf8ToWide(normalised);
    std::vector<std::wstring> all;
    size_t start = 0;
    while (start < log.text.size()) {
        size_t end = log.text.find(L'\n', start);
        if (end == std::wstring::npos) end = log.text.size();
        all.push_back(log.text.substr(start, end - start));
        start = end + 1;
    }
    if (!all.empty()) log.header = all[0];
    // The header is followed by an empty line (ctime's own line end).
    size_t first = (all.size() > 1 && all[1].empty()) ? 2 : 1;
    for (size_t i = first; i < all.size(); ++i) {
        log.lines.push_back(all[i]);
        log.messages.push_back(withoutPrefix(all[i]));
    }
    return log;
}

bool logHas(const LogContent& log, std::wstring_view message, bool prefixOnly) {
    return std::any_of(log.messages.begin(), log.messages.end(), [&](const std::wstring& m) {
        return prefixOnly ? m.compare(0, message.size(), message) == 0 : m == message;
    });
}

}  // namespace vexlo::test
