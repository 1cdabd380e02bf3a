// The launcher's one rule for splitting argument text, and the quoting that survives it; backslashes never
// escape anything. Templates over the character type: the launcher splits wide text, vexlo-pack (portable
// C++, built for Linux too) joins and splits UTF-8 with the same rule.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vexlo {

namespace detail {
// Reads one argument starting at position; returns where the next one starts, or none at the end.
template <class Char>
std::optional<size_t> nextArgument(std::type_identity_t<std::basic_string_view<Char>> text, size_t position,
                                   std::basic_string<Char>& argument) {
    argument.clear();
    bool inQuotes = false;
    bool separatorSeen = false;
    Char previous = 0;
    bool hasPrevious = false;
    for (size_t i = position; i < text.size(); ++i) {
        Char c = text[i];
        if (c == Char(' ') || c == Char('\t')) {
            if (inQuotes) {
                argument += c;
            } else {
                separatorSeen = true;
            }
        } else if (c == Char('"')) {
            if (separatorSeen) return i;
            if (hasPrevious && previous == Char('"') && !inQuotes) {
                argument += Char('"');
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
}  // namespace detail

// Appends every argument of the text; empty text gives none.
template <class Char>
void splitCommandLine(std::type_identity_t<std::basic_string_view<Char>> text,
                      std::vector<std::basic_string<Char>>& arguments) {
    if (text.empty()) return;
    std::basic_string<Char> argument;
    argument.reserve(text.size() + 1);
    std::optional<size_t> position = 0;
    while (position) {
        position = detail::nextArgument<Char>(text, *position, argument);
        arguments.push_back(argument);
    }
}

// Appends the argument (after a blank when the line is not empty) so that splitting gives it back: quoted
// when a blank or tab would split it, an empty one would vanish or a quote would open a quoted part. Inside
// quotes a doubled quote is one quote.
template <class Char>
void appendArgument(std::basic_string<Char>& line, std::type_identity_t<std::basic_string_view<Char>> argument) {
    constexpr Char kSpecial[] = {Char(' '), Char('\t'), Char('"'), Char(0)};
    if (!line.empty()) line += Char(' ');
    if (!argument.empty() && argument.find_first_of(kSpecial) == std::basic_string_view<Char>::npos) {
        line += argument;
        return;
    }
    line += Char('"');
    for (Char c : argument) {
        line += c;
        if (c == Char('"')) line += Char('"');
    }
    line += Char('"');
}

}  // namespace vexlo
