#include "common/CommandLine.h"

namespace vexlo {

std::optional<size_t> nextArgument(std::wstring_view text, size_t position, std::wstring& argument) {
    argument.clear();
    bool inQuotes = false;
    bool separatorSeen = false;
    wchar_t previous = 0;
    bool hasPrevious = false;
    for (size_t i = position; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L' ' || c == L'\t') {
            if (inQuotes) {
                argument += c;
            } else {
                separatorSeen = true;
            }
        } else if (c == L'"') {
            if (separatorSeen) return i;
            if (hasPrevious && previous == L'"' && !inQuotes) {
                argument += L'"';
                inQuotes = true;
            } else {
                inQuotes = !inQuotes;
            }
        } else {
            if (separatorSeen) return i;
            argument += c;
        }
        previous = c;
        hasPrevious = true;
    }
    return std::nullopt;
}

void splitCommandLine(std::wstring_view text, std::vector<std::wstring>& arguments) {
    if (text.empty()) return;
    std::wstring argument;
    argument.reserve(text.size() + 1);
    std::optional<size_t> position = 0;
    while (position) {
        position = nextArgument(text, *position, argument);
        arguments.push_back(argument);
    }
}

}  // namespace vexlo
