// Formatting with the Microsoft runtime's wide printf rules: "%s" wide, "%S" 8-bit, "%I64d" 64-bit.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

namespace vexlo {

namespace format_check {

enum class ArgumentKind { WideText, NarrowText, Pointer, Int32, Int64, Other };

template <typename T>
consteval ArgumentKind kindOf() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, wchar_t*> || std::is_same_v<U, const wchar_t*>) return ArgumentKind::WideText;
    else if constexpr (std::is_same_v<U, char*> || std::is_same_v<U, const char*>) return ArgumentKind::NarrowText;
    else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>) return ArgumentKind::Pointer;
    else if constexpr (std::is_integral_v<U> && !std::is_same_v<U, bool> && sizeof(U) <= 4) return ArgumentKind::Int32;
    else if constexpr (std::is_integral_v<U> && sizeof(U) == 8) return ArgumentKind::Int64;
    else return ArgumentKind::Other;
}

// Not constexpr: reaching one of these while a format is checked stops the build, and its name says why.
void argumentTypeDoesNotMatchConversion();
void moreConversionsThanArguments();
void moreArgumentsThanConversions();
void unsupportedConversion();

constexpr bool isFlag(wchar_t c) { return c == L'-' || c == L'+' || c == L' ' || c == L'#' || c == L'0'; }
constexpr bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Walks the format as the runtime does and checks each conversion against the kind of its argument:
// %s wide text, %S 8-bit text, %d %i %u %x %X %c 32-bit integers, %I64d (and the like) 64-bit integers,
// %p pointers.
consteval void check(std::wstring_view format, const ArgumentKind* kinds, std::size_t count) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != L'%') continue;
        if (++i >= format.size()) unsupportedConversion();
        if (format[i] == L'%') continue;
        while (i < format.size() && isFlag(format[i])) ++i;
        while (i < format.size() && isDigit(format[i])) ++i;
        if (i < format.size() && format[i] == L'.') {
            ++i;
            while (i < format.size() && isDigit(format[i])) ++i;
        }
        bool wide64 = false;
        if (format.substr(i, 3) == L"I64") {
            wide64 = true;
            i += 3;
        }
        if (i >= format.size()) unsupportedConversion();
        ArgumentKind wanted = ArgumentKind::Other;
        switch (format[i]) {
            case L's': wanted = ArgumentKind::WideText; break;
            case L'S': wanted = ArgumentKind::NarrowText; break;
            case L'p': wanted = ArgumentKind::Pointer; break;
            case L'd':
            case L'i':
            case L'u':
            case L'x':
            case L'X': wanted = wide64 ? ArgumentKind::Int64 : ArgumentKind::Int32; break;
            case L'c': wanted = ArgumentKind::Int32; break;
            default: unsupportedConversion();
        }
        if (wide64 && wanted != ArgumentKind::Int64) unsupportedConversion();
        if (next >= count) moreConversionsThanArguments();
        ArgumentKind given = kinds[next++];
        // Any pointer may be shown with %p, text pointers included.
        bool matches = given == wanted || (wanted == ArgumentKind::Pointer &&
                                           (given == ArgumentKind::WideText || given == ArgumentKind::NarrowText));
        if (!matches) argumentTypeDoesNotMatchConversion();
    }
    if (next != count) moreArgumentsThanConversions();
}

}  // namespace format_check

// A wide format literal whose conversions were checked at compile time against the argument types.
template <typename... Args>
struct WideFormat {
    const wchar_t* text;

    template <std::size_t N>
    consteval WideFormat(const wchar_t (&literal)[N]) : text(literal) {
        // One element more than there are arguments, so that a format without arguments has an array too.
        constexpr format_check::ArgumentKind kinds[] = {format_check::kindOf<Args>()...,
                                                        format_check::ArgumentKind::Other};
        format_check::check(std::wstring_view(literal, N - 1), kinds, sizeof...(Args));
    }
};

template <typename... Args>
using CheckedFormat = WideFormat<std::type_identity_t<Args>...>;

// Unchecked: for formats that are passed on, never for literals at a call site.
std::wstring formatWideV(const wchar_t* format, va_list args);
std::wstring formatWideUnchecked(const wchar_t* format, ...);

template <typename... Args>
std::wstring formatWide(CheckedFormat<Args...> format, Args... args) {
    return formatWideUnchecked(format.text, args...);
}

// Widens 8-bit text byte by byte: each byte becomes the code unit of the same value.
std::wstring widenBytes(std::string_view text);

// Narrows wide text that is known to be ASCII (numbers, fixed words); other units become '?'.
std::string narrowAscii(std::wstring_view text);

}  // namespace vexlo
