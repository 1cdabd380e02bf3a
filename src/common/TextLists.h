// Lists kept in one text with a separator (PATH, the search sequence, installation directories).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexlo {

// The pieces of a ";"-separated list in their order; empty pieces are dropped.
template <typename Char>
std::vector<std::basic_string<Char>> splitList(std::basic_string_view<Char> text, Char separator = Char(';')) {
    std::vector<std::basic_string<Char>> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::basic_string_view<Char>::npos) end = text.size();
        if (end > start) pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

inline std::vector<std::string> splitList(std::string_view text) { return splitList<char>(text); }
inline std::vector<std::wstring> splitList(std::wstring_view text) { return splitList<wchar_t>(text); }

}  // namespace vexlo
