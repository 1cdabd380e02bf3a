// Which names may be written below a directory: the rule for included files, shared by the launcher and the
// packing tool so that a name one accepts the other never refuses. Portable: no system headers.
#pragma once

#include <string_view>
#include <type_traits>

namespace vexlo {

namespace detail {
template <typename Char>
constexpr Char upperAscii(Char c) {
    return c >= Char('a') && c <= Char('z') ? Char(c - Char('a') + Char('A')) : c;
}
template <typename Char>
constexpr bool equalsAscii(std::basic_string_view<Char> text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (upperAscii(text[i]) != Char(static_cast<unsigned char>(upper[i]))) return false;
    }
    return true;
}
}  // namespace detail

// A path component that the system maps to a device in any directory, with or without an extension and
// trailing blanks: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9 and LPT1-9 (also with a superscript digit).
template <typename Char>
constexpr bool isDeviceName(std::basic_string_view<Char> component) {
    std::basic_string_view<Char> base = component.substr(0, component.find(Char('.')));
    // "COM1:" names the device too.
    if (!base.empty() && base.back() == Char(':')) base.remove_suffix(1);
    while (!base.empty() && base.back() == Char(' ')) base.remove_suffix(1);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (detail::equalsAscii(base, device)) return true;
    }
    if (base.size() != 4 ||
        !(detail::equalsAscii(base.substr(0, 3), "COM") || detail::equalsAscii(base.substr(0, 3), "LPT")))
        return false;
    const auto digit = static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(base[3]));
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}
inline constexpr bool isDeviceName(std::string_view component) { return isDeviceName<char>(component); }
inline constexpr bool isDeviceName(std::wstring_view component) { return isDeviceName<wchar_t>(component); }

// The last component of a path (after its last backslash or slash).
template <typename Char>
constexpr std::basic_string_view<Char> lastPathComponent(std::basic_string_view<Char> path) {
    constexpr Char separators[] = {Char('\\'), Char('/'), Char(0)};
    const size_t at = path.find_last_of(separators);
    return at == std::basic_string_view<Char>::npos ? path : path.substr(at + 1);
}

// Longest name accepted: with the launcher's temporary directory in front it must stay a short path.
inline constexpr size_t kMaxIncludedFileNameLength = 128;

// Why an included file's name may not be written below the directory it is extracted into, or nullptr
// when it may: the name must be relative, with folder levels written with a backslash, no part made only of
// dots and blanks (the system would read it as ".." or as the folder itself), no device name, and none of
// the characters a file name cannot hold.
constexpr const char* includedFileNameProblem(std::string_view name) {
    if (name.empty()) return "the name is empty";
    if (name.size() > kMaxIncludedFileNameLength) return "the name is longer than 128 characters";
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "the name holds a control character";
        if (std::string_view("<>:\"/|?*;").find(c) != std::string_view::npos)
            return "the name holds one of < > : \" / | ? * ; (folders are written with a backslash)";
    }
    size_t start = 0;
    while (true) {
        const size_t end = name.find('\\', start);
        const std::string_view part = name.substr(start, end == std::string_view::npos ? end : end - start);
        if (part.empty()) return "a folder level is empty (a backslash at the start or the end, or two in a row)";
        if (part.find_first_not_of(". ") == std::string_view::npos)
            return "a part is made only of dots and blanks, which would not name a file below the folder";
        if (isDeviceName(part)) return "a part is a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$)";
        if (end == std::string_view::npos) return nullptr;
        start = end + 1;
    }
}

}  // namespace vexlo
