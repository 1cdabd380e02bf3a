#include "paths/LauncherVariables.h"

#include <windows.h>

#include "common/Format.h"
#include "common/Handles.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/TempDirectories.h"

namespace vexlo {

namespace {

enum class PlaceholderValue { exeDir, launcherTempDir, pathListSeparator, jvmHome, tempDir };

struct FixedPlaceholder {
    const char* text;
    PlaceholderValue value;
};

// Replaced in this order; a value inserted for an earlier entry is searched by every later one.
constexpr FixedPlaceholder kFixedPlaceholders[] = {
    {"%VEXLO_EXEDIR%", PlaceholderValue::exeDir},
    {"%QUANDREL_EXEDIR%", PlaceholderValue::exeDir},
    {"%VEXLO_TEMPDIR%", PlaceholderValue::launcherTempDir},
    {"%QUANDREL_TEMPDIR%", PlaceholderValue::launcherTempDir},
    {"%VEXLO_PATHLIST_SEPARATOR%", PlaceholderValue::pathListSeparator},
    {"%QUANDREL_PATHLIST_SEPARATOR%", PlaceholderValue::pathListSeparator},
    {"%VEXLO_JVM_HOME%", PlaceholderValue::jvmHome},
    {"%QUANDREL_JVM_HOME%", PlaceholderValue::jvmHome},
    {"${VEXLO_EXEDIR}", PlaceholderValue::exeDir},
    {"${QUANDREL_EXEDIR}", PlaceholderValue::exeDir},
    {"${VEXLO_TEMPDIR}", PlaceholderValue::launcherTempDir},
    {"${QUANDREL_TEMPDIR}", PlaceholderValue::launcherTempDir},
    {"${VEXLO_PATHLIST_SEPARATOR}", PlaceholderValue::pathListSeparator},
    {"${QUANDREL_PATHLIST_SEPARATOR}", PlaceholderValue::pathListSeparator},
    {"${VEXLO_JVM_HOME}", PlaceholderValue::jvmHome},
    {"${QUANDREL_JVM_HOME}", PlaceholderValue::jvmHome},
    {"${launcher:sys.launcherDirectory}", PlaceholderValue::exeDir},
    {"${launcher:sys.launcherTempDirectory}", PlaceholderValue::launcherTempDir},
    {"${launcher:sys.pathlistSeparator}", PlaceholderValue::pathListSeparator},
    {"${launcher:sys.jvmHome}", PlaceholderValue::jvmHome},
    {"${launcher:sys.tempDir}", PlaceholderValue::tempDir},
};

void logReplacement(std::string_view placeholder, std::string_view value) {
    logMessage(L"expanding2 %S to %S.", std::string(placeholder).c_str(), std::string(value).c_str());
}

void logReplacement(std::wstring_view placeholder, std::wstring_view value) {
    logMessage(L"expanding2 %s to %s.", std::wstring(placeholder).c_str(), std::wstring(value).c_str());
}

template <typename Char>
int replaceAllIn(std::basic_string<Char>& text, std::basic_string_view<Char> placeholder,
                 std::basic_string_view<Char> value) {
    // An empty placeholder would match everywhere without ever moving on.
    if (placeholder.empty()) return 0;
    size_t position = 0;
    int count = 0;
    while (text.size() >= placeholder.size() && text.size() - position >= placeholder.size()) {
        size_t found = text.find(placeholder, position);
        if (found == std::basic_string<Char>::npos) break;
        text.replace(found, placeholder.size(), value);
        logReplacement(placeholder, value);
        position = found + value.size();
        ++count;
    }
    return count;
}

template <typename Char>
void upperCaseAsciiLetters(std::basic_string<Char>& text) {
    for (Char& c : text) {
        if (c >= Char('a') && c <= Char('z')) c = static_cast<Char>(c - Char('a') + Char('A'));
    }
}

template <typename Char>
void expandEnvironmentEntries(std::basic_string<Char>& text, const Char* block) {
    if (block == nullptr) return;
    for (const Char* entry = block; *entry != Char(0);) {
        std::basic_string_view<Char> line(entry);
        entry += line.size() + 1;
        size_t equals = line.find(Char('='));
        if (equals == std::basic_string_view<Char>::npos) continue;
        std::basic_string_view<Char> name = line.substr(0, equals);
        std::basic_string_view<Char> value = line.substr(equals + 1);
        // "${", the name, "}" and the terminator must fit; a shortened name would be a different placeholder.
        if (name.size() + 4 > kPlaceholderCapacity) {
            logMessage(L"environment variable name of %d characters skipped", static_cast<int>(name.size()));
            continue;
        }
        std::basic_string<Char> placeholder;
        placeholder.reserve(name.size() + 3);
        placeholder += Char('$');
        placeholder += Char('{');
        placeholder += name;
        placeholder += Char('}');
        replaceAllIn<Char>(text, placeholder, value);
        // A name already in upper case would search its own inserted value a second time.
        std::basic_string<Char> upper = placeholder;
        upperCaseAsciiLetters(upper);
        if (upper != placeholder) replaceAllIn<Char>(text, upper, value);
    }
}

template <typename Char>
void expandFixedPlaceholders(std::basic_string<Char>& text, const LauncherVariableValues<Char>& values) {
    static constexpr Char kSeparator[] = {Char(';'), Char(0)};
    for (const FixedPlaceholder& placeholder : kFixedPlaceholders) {
        std::basic_string_view<Char> value;
        switch (placeholder.value) {
            case PlaceholderValue::exeDir: value = values.exeDir; break;
            case PlaceholderValue::launcherTempDir: value = values.launcherTempDir; break;
            case PlaceholderValue::pathListSeparator: value = kSeparator; break;
            case PlaceholderValue::jvmHome: value = values.jvmHome; break;
            case PlaceholderValue::tempDir: value = values.tempDir; break;
        }
        const std::string_view name = placeholder.text;
        replaceAllIn<Char>(text, std::basic_string<Char>(name.begin(), name.end()), value);
    }
}

}  // namespace

int detail::replaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
    return replaceAllIn<char>(text, placeholder, value);
}

int detail::replaceAll(std::wstring& text, std::wstring_view placeholder, std::wstring_view value) {
    return replaceAllIn<wchar_t>(text, placeholder, value);
}

void detail::expandEnvironmentPlaceholders(std::string& text, const char* block) {
    expandEnvironmentEntries(text, block);
}

void detail::expandEnvironmentPlaceholders(std::wstring& text, const wchar_t* block) {
    expandEnvironmentEntries(text, block);
}

LauncherVariableValues<char> launcherVariableValues(const std::string& jvmHome) {
    return {exeDirAnsi(), launcherTempDir, jvmHome, getTempDirectory()};
}

LauncherVariableValues<wchar_t> launcherVariableValuesWide(const std::string& jvmHome, bool useAnsiForms) {
    return {useAnsiForms ? exeDirAnsiWide() : exeDirLong(), widenBytes(launcherTempDir), widenBytes(jvmHome),
            useAnsiForms ? widenBytes(getTempDirectory()) : getTempDirectoryWide(true)};
}

void expandLauncherVariables(std::string& text, const LauncherVariableValues<char>& values) {
    expandFixedPlaceholders(text, values);
    unique_environment_a block(GetEnvironmentStringsA());
    detail::expandEnvironmentPlaceholders(text, block.get());
}

void expandLauncherVariables(std::wstring& text, const LauncherVariableValues<wchar_t>& values) {
    expandFixedPlaceholders(text, values);
    unique_environment_w block(GetEnvironmentStringsW());
    detail::expandEnvironmentPlaceholders(text, block.get());
}

}  // namespace vexlo
