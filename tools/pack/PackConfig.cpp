#include "PackConfig.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "BlockReader.h"
#include "ConfigIds.h"

namespace vexlo::pack {
namespace {

// ---------------------------------------------------------------------------------------------------------
// The mapping table: every key of the file, the ids it writes and what it means. Everything else (the
// checks, the reverse mapping, the README reference) is driven by it.

enum class Kind {
    Text,          // string, written as it is
    Version,       // string that must be a Java version
    Flag,          // boolean: true writes "1", false writes nothing
    Choice,        // one of a few words, each standing for a value (or for no entry)
    Joined,        // array of strings joined by a separator
    Args,          // array of arguments joined into one command-line text
    Search,        // runtime search sequence in readable entries
    PathEntries,   // class path or module path entries
    Redirect,      // output file: id gets "1", id2 the path
    VersionRules,  // version-specific VM options: a count and key/options pairs
    Message,       // UTF-16 entry of the message table
    RuntimeJar,    // the runtime jar, embedded as the first included file
    Files,         // included files: count, names and data
};

struct Choice {
    const char* word;
    const char* value;  // nullptr: no entry
};

struct Key {
    const char* section;  // table of the file
    const char* name;
    Kind kind;
    int id = 0;
    int id2 = 0;
    const char* defaultToml = nullptr;  // used when the key is absent
    const char* help = "";
    const char* separator = nullptr;
    std::vector<Choice> choices = {};
};

const std::vector<Key>& keys() {
    using namespace ids;
    static const std::vector<Key> table = {
        {"service", "name", Kind::Text, kServiceName, 0, nullptr,
         "service name for /install, /start, /stop, /status, /uninstall and the service dispatcher"},
        {"service", "description", Kind::Message, kServiceDescription, 0, nullptr, "description shown by the service manager"},
        {"service", "start", Kind::Choice, kExecutableType, 0, nullptr,
         "how /install registers the service: \"demand\" (started by /start) or \"auto\" (at boot)", nullptr,
         {{"demand", nullptr}, {"auto", "4"}}},
        {"service", "dependencies", Kind::Joined, kServiceDependencies, 0, nullptr, "names of services that must run first",
         ","},
        {"service", "log", Kind::Text, kServiceLogPath, 0, nullptr,
         "the service process's own log (its events and the child's output), relative to the executable; default "
         "logs\\<name>.service.log, \"\" for none"},

        {"application", "main_class", Kind::Text, kMainClass, 0, nullptr,
         "required: the class whose main method starts the application (module/class in module mode)"},
        {"application", "module_mode", Kind::Flag, kModuleMode, 0, nullptr, "main_class is given as module/class"},
        {"application", "class_path", Kind::PathEntries, kClassPath, 0, nullptr,
         "entries `{ jar = ... }`, `{ dir = ... }`, `{ scan = ... }` (every .jar and .zip in a folder) or "
         "`{ env = VARIABLE }`, each optionally `mandatory = true`; paths relative to the executable"},
        {"application", "module_path", Kind::PathEntries, kModulePath, 0, nullptr, "entries as for class_path"},
        {"application", "arguments", Kind::Args, kApplicationArguments, 0, nullptr,
         "arguments passed to main before those of the command line"},
        {"application", "vm_options", Kind::Args, kVmOptions, 0, nullptr, "options for the Java virtual machine"},
        {"application", "vm_options_file", Kind::Flag, kReadDefaultVmOptionsFile, 0, nullptr,
         "also read the VM options file beside the executable (name.vmoptions)"},
        {"application", "j_options", Kind::Flag, kJOptionsAreVmOptions, 0, nullptr,
         "command-line arguments starting with -J are VM options, not application arguments"},
        {"application", "version_options", Kind::VersionRules, kVersionRuleCount, 0, nullptr,
         "VM options for some Java versions: `{ versions = \"11-17\", options = [...] }` (feature versions, either "
         "side may be empty) or `{ pattern = \"1.8*\", options = [...] }` (* and ? over the version text); the "
         "first match applies"},
        {"application", "working_directory", Kind::Text, kWorkingDirectory, 0, nullptr,
         "working directory, relative to the executable"},
        {"application", "directory", Kind::Text, kApplicationDirectory, 0, nullptr,
         "application directory relative to the executable (holds .quandrel\\pref_jre.cfg)"},
        {"application", "runtime_jar", Kind::RuntimeJar, 0, 0, nullptr,
         "the vexlo-runtime.jar to embed (relative to this file); \"\" embeds none. Default: the one given with "
         "--runtime-jar or found beside vexlo-pack"},

        {"runtime", "min_version", Kind::Version, kMinJavaVersion, 0, nullptr, "lowest Java version accepted, e.g. \"11\""},
        {"runtime", "max_version", Kind::Version, kMaxJavaVersion, 0, nullptr,
         "highest Java version accepted; longer versions that begin with it qualify"},
        {"runtime", "allow_prerelease", Kind::Flag, kAllowBetaJava, 0, nullptr, "accept beta, -ea and -rc runtimes"},
        {"runtime", "jdk_required", Kind::Flag, kRequireJdk, 0, nullptr, "only a JDK will do"},
        {"runtime", "search", Kind::Search, kSearchSequence, 0, R"(["dir:jre", "env:JAVA_HOME", "registry", "path"])",
         "where to look, in order: \"dir:FOLDER\" (relative to the executable), \"dir-fallback:FOLDER\" (also tried "
         "absolute in the last-resort pass), \"env:VARIABLE\", \"registry\", \"installations\", \"path\""},
        {"runtime", "accept_failing_directories", Kind::Flag, kAcceptFailedDirectoryEntry, 0, nullptr,
         "a dir entry is used even when its runtime fails the probe"},
        {"runtime", "skip_registry", Kind::Flag, kSkipRegistrySearch, 0, nullptr, "never search the registry"},
        {"runtime", "jvm_subdirectory", Kind::Text, kJvmSubdirectory, 0, nullptr,
         "folder of the runtime's bin folder tried first for jvm.dll (e.g. \"server\")"},
        {"runtime", "application_id", Kind::Text, kApplicationId, 0, nullptr,
         "registry value that lists earlier installation folders (for \"installations\")"},
        {"runtime", "ignore_java_options_env", Kind::Flag, kIgnoreJavaOptionsEnv, 0, nullptr,
         "clear _JAVA_OPTIONS, JDK_JAVA_OPTIONS and JAVA_TOOL_OPTIONS"},

        {"output", "stdout", Kind::Redirect, kUseRuntimeArgument2, kRuntimeArgument2Path, R"('logs\stdout.log')",
         "file for the application's standard output, relative to the executable; \"\" keeps it"},
        {"output", "stderr", Kind::Redirect, kUseRuntimeArgument3, kRuntimeArgument3Path, R"('logs\stderr.log')",
         "file for standard error; the same path as stdout shares one file"},
        {"output", "append", Kind::Flag, kRuntimeArgument4, 0, "true", "append to the files instead of replacing them"},

        {"native", "library_directories", Kind::Joined, kNativeLibraryDirectories, 0, nullptr,
         "folders put in front of PATH before the JVM loads, relative to the executable", ";"},
        {"native", "add_dll_directories", Kind::Flag, kAddDllDirectories, 0, nullptr,
         "also register them (and the runtime's bin folder) with AddDllDirectory"},
        {"native", "reduce_path", Kind::Flag, kReducePath, 0, nullptr, "keep only the Windows folders of PATH"},

        {"instance", "single", Kind::Flag, kSingleInstance, 0, nullptr, "a second launch hands over to the first and ends"},
        {"instance", "bring_to_front", Kind::Flag, kBringInstanceToFront, 0, nullptr,
         "the second launch brings the first one's windows to the front"},
        {"instance", "machine_wide", Kind::Flag, kInstanceGlobalPrefix, 0, nullptr, "one instance per machine"},
        {"instance", "session_wide", Kind::Flag, kInstanceSessionPrefix, 0, nullptr,
         "one instance per session (default: per user)"},

        {"messages", "error_title", Kind::Message, kMsgErrorTitle, 0, nullptr, "title of error message boxes"},
        {"messages", "registry_jvm_not_loaded", Kind::Message, kMsgRegistryJvmNotLoaded},
        {"messages", "mandatory_path_missing", Kind::Message, kMsgMandatoryPathMissing, 0, nullptr, "{0}: the entry"},
        {"messages", "mandatory_path_variable_unset", Kind::Message, kMsgMandatoryPathVariableUnset, 0, nullptr,
         "{0}: the variable"},
        {"messages", "launch_failed", Kind::Message, kMsgLaunchFailed, 0, nullptr, "{0}: a number"},
        {"messages", "main_class_not_found", Kind::Message, kMsgMainClassNotFound},
        {"messages", "main_method_not_found", Kind::Message, kMsgMainMethodNotFound},
        {"messages", "no_temp_directory", Kind::Message, kMsgNoTempDirectory},
        {"messages", "no_jvm_found", Kind::Message, kMsgNoJvmFound},
        {"messages", "env_jvm_not_loaded", Kind::Message, kMsgEnvJvmNotLoaded, 0, nullptr, "{0}: the variable"},
        {"messages", "directory_jvm_not_loaded", Kind::Message, kMsgDirectoryJvmNotLoaded, 0, nullptr, "{0}: the folder"},
        {"messages", "unpack_failed", Kind::Message, kMsgUnpackFailed},

        {"files", "source", Kind::Files, kIncludedFileCount, kIncludedFilePaths, nullptr,
         "`[[files]]` tables: `source` (local file, relative to this file) and `name` (path in the launcher's "
         "temporary folder, at most one folder level written with a backslash; default: the source's file name)"},
    };
    return table;
}

struct SearchKind {
    const char* word;
    char letter;
    bool takesText;
};
const SearchKind kSearchKinds[] = {{"dir", 'A', true},  {"dir-fallback", 'B', true}, {"env", 'E', true},
                                   {"registry", 'Y', false}, {"installations", 'I', false}, {"path", 'S', false}};

struct EntryKind {
    const char* word;
    char letter;
};
const EntryKind kEntryKinds[] = {{"jar", 'A'}, {"dir", 'D'}, {"env", 'E'}, {"scan", 'S'}};

// Sections of the file besides those of the table.
const char* const kLanguages = "languages";
const char* const kRaw = "raw";

// ---------------------------------------------------------------------------------------------------------

std::string typeName(const toml::node& n) {
    switch (n.type()) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "an integer";
        case toml::node_type::floating_point: return "a number";
        case toml::node_type::boolean: return "a boolean";
        case toml::node_type::array: return "an array";
        case toml::node_type::table: return "a table";
        default: return "a date or time";
    }
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool isJavaVersion(const std::string& v) {
    static const std::regex re("[0-9]+([._+-][0-9A-Za-z]+)*");
    return std::regex_match(v, re);
}

std::optional<int32_t> parseId(std::string_view s) {
    int32_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

std::filesystem::path localPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// ---------------------------------------------------------------------------------------------------------
// From the file to the block.

struct Encoder {
    explicit Encoder(const PackOptions& o) : options(o) {}
    const PackOptions& options;
    std::vector<Diagnostic> errors;
    std::vector<std::pair<int32_t, std::string>> config;
    std::vector<Message> messages;
    std::vector<std::string> fileNames;
    std::vector<std::string> fileData;

    void error(const toml::source_region& at, std::string text) {
        errors.push_back({options.displayName, static_cast<int>(at.begin.line), static_cast<int>(at.begin.column),
                          std::move(text)});
    }
    void error(const toml::node& at, std::string text) { error(at.source(), std::move(text)); }

    const toml::value<std::string>* str(const toml::node& n, const std::string& what) {
        if (const auto* s = n.as_string()) return s;
        error(n, what + ": expected a string, found " + typeName(n));
        return nullptr;
    }

    std::optional<std::vector<std::string>> strings(const toml::node& n, const std::string& what, const char* forbidden) {
        const auto* arr = n.as_array();
        if (!arr) {
            error(n, what + ": expected an array of strings, found " + typeName(n));
            return std::nullopt;
        }
        std::vector<std::string> out;
        bool ok = true;
        for (const auto& item : *arr) {
            const auto* s = str(item, what + " entry");
            if (!s) {
                ok = false;
                continue;
            }
            if (forbidden && (s->get().empty() || s->get().find_first_of(forbidden) != std::string::npos)) {
                error(item, what + ": expected a non-empty entry without \"" + forbidden + "\"");
                ok = false;
            }
            out.push_back(s->get());
        }
        if (!ok) return std::nullopt;
        return out;
    }

    void put(int id, std::string value) { config.emplace_back(id, std::move(value)); }

    void encode(const Key& k, const toml::node& n, const std::string& what);
    void encodeEntries(const Key& k, const toml::node& n, const std::string& what);
    void encodeRules(const Key& k, const toml::node& n, const std::string& what);
    void include(const toml::node* at, const std::filesystem::path& source, const std::string& name);
};

void Encoder::encode(const Key& k, const toml::node& n, const std::string& what) {
    switch (k.kind) {
        case Kind::Text:
            if (const auto* s = str(n, what)) put(k.id, s->get());
            break;
        case Kind::Version:
            if (const auto* s = str(n, what)) {
                if (!isJavaVersion(s->get()))
                    error(n, what + ": expected a Java version such as \"11\", \"1.8.0_202\" or \"17.0.2+8\", found \"" +
                                 s->get() + "\"");
                else
                    put(k.id, s->get());
            }
            break;
        case Kind::Flag:
            if (const auto* b = n.as_boolean()) {
                if (b->get()) put(k.id, "1");
            } else {
                error(n, what + ": expected true or false, found " + typeName(n));
            }
            break;
        case Kind::Choice:
            if (const auto* s = str(n, what)) {
                std::string words;
                for (const auto& c : k.choices) {
                    if (s->get() == c.word) {
                        if (c.value) put(k.id, c.value);
                        return;
                    }
                    words += std::string(words.empty() ? "" : " or ") + "\"" + c.word + "\"";
                }
                error(n, what + ": expected " + words + ", found \"" + s->get() + "\"");
            }
            break;
        case Kind::Joined:
            if (auto list = strings(n, what, k.separator); list && !list->empty()) {
                std::string joined;
                for (const auto& s : *list) joined += (joined.empty() ? "" : k.separator) + s;
                put(k.id, joined);
            }
            break;
        case Kind::Args:
            if (auto list = strings(n, what, nullptr); list && !list->empty()) put(k.id, joinArguments(*list));
            break;
        case Kind::Search: {
            const auto* arr = n.as_array();
            if (!arr) {
                error(n, what + ": expected an array of strings such as \"dir:jre\", found " + typeName(n));
                break;
            }
            std::string sequence;
            for (const auto& item : *arr) {
                const auto* s = str(item, what + " entry");
                if (!s) continue;
                const std::string& e = s->get();
                size_t colon = e.find(':');
                std::string word = e.substr(0, colon), text = colon == std::string::npos ? "" : e.substr(colon + 1);
                const SearchKind* kind = nullptr;
                for (const auto& sk : kSearchKinds)
                    if (word == sk.word) kind = &sk;
                if (!kind) {
                    error(item, what + ": unknown kind \"" + word +
                                    "\"; expected dir:, dir-fallback:, env:, registry, installations or path");
                } else if (kind->takesText && text.empty()) {
                    error(item, what + ": \"" + word + ":\" needs a " + (kind->letter == 'E' ? "variable name" : "folder"));
                } else if (!kind->takesText && colon != std::string::npos) {
                    error(item, what + ": \"" + word + "\" takes no text after it");
                } else if (text.find(';') != std::string::npos) {
                    error(item, what + ": an entry may not contain \";\"");
                } else {
                    sequence += (sequence.empty() ? "" : ";") + std::string(1, kind->letter) + text;
                }
            }
            if (!sequence.empty()) put(k.id, sequence);
            break;
        }
        case Kind::PathEntries: encodeEntries(k, n, what); break;
        case Kind::Redirect:
            if (const auto* s = str(n, what); s && !s->get().empty()) {
                put(k.id, "1");
                put(k.id2, s->get());
            }
            break;
        case Kind::VersionRules: encodeRules(k, n, what); break;
        case Kind::Message:
            if (const auto* s = str(n, what)) messages.push_back({k.id, utf8ToUtf16(s->get())});
            break;
        case Kind::RuntimeJar:
            if (const auto* s = str(n, what); s && !s->get().empty()) include(&n, localPath(s->get()), kRuntimeJarName);
            break;
        case Kind::Files: break;  // handled by the caller: an array of tables at the top
    }
}

void Encoder::encodeEntries(const Key& k, const toml::node& n, const std::string& what) {
    const auto* arr = n.as_array();
    if (!arr) {
        error(n, what + ": expected an array of entries such as { jar = \"lib\\\\app.jar\" }, found " + typeName(n));
        return;
    }
    std::string list;
    for (const auto& item : *arr) {
        const auto* t = item.as_table();
        if (!t) {
            error(item, what + ": expected an entry such as { jar = \"app.jar\" }, found " + typeName(item));
            continue;
        }
        const EntryKind* kind = nullptr;
        std::string path;
        bool mandatory = false, ok = true;
        for (const auto& [key, value] : *t) {
            if (key.str() == "mandatory") {
                if (const auto* b = value.as_boolean()) mandatory = b->get();
                else error(value, what + ".mandatory: expected true or false, found " + typeName(value)), ok = false;
                continue;
            }
            const EntryKind* found = nullptr;
            for (const auto& ek : kEntryKinds)
                if (key.str() == ek.word) found = &ek;
            if (!found) {
                error(key.source(), what + ": unknown kind \"" + std::string(key.str()) +
                                        "\"; expected jar, dir, scan or env (and mandatory)");
                ok = false;
            } else if (kind) {
                error(key.source(), what + ": an entry has one kind; found " + kind->word + " and " + found->word);
                ok = false;
            } else if (const auto* s = str(value, what + "." + found->word)) {
                kind = found;
                path = s->get();
                if (path.empty() || path.find(';') != std::string::npos) {
                    error(value, what + "." + found->word + ": expected a non-empty path without \";\"");
                    ok = false;
                }
            } else {
                ok = false;
            }
        }
        if (!kind && ok) {
            error(item, what + ": entry without a kind; expected jar, dir, scan or env");
            ok = false;
        }
        if (ok) list += std::string(1, kind->letter) + (mandatory ? "1" : "0") + path + ";";
    }
    if (!list.empty()) {
        list.pop_back();
        put(k.id, list);
    }
}

void Encoder::encodeRules(const Key& k, const toml::node& n, const std::string& what) {
    const auto* arr = n.as_array();
    if (!arr) {
        error(n, what + ": expected an array of rules such as { versions = \"11-17\", options = [...] }, found " +
                     typeName(n));
        return;
    }
    std::vector<std::pair<std::string, std::string>> rules;
    static const std::regex range("[0-9]*-[0-9]*");
    for (const auto& item : *arr) {
        const auto* t = item.as_table();
        if (!t) {
            error(item, what + ": expected a rule such as { versions = \"11-17\", options = [...] }, found " + typeName(item));
            continue;
        }
        std::optional<std::string> key;
        std::optional<std::vector<std::string>> ruleOptions;
        bool ok = true;
        for (const auto& [name, value] : *t) {
            std::string sub = what + "." + std::string(name.str());
            if (name.str() == "versions" || name.str() == "pattern") {
                const auto* s = str(value, sub);
                if (!s || key) {
                    if (s) error(name.source(), what + ": a rule has either versions or pattern");
                    ok = false;
                } else if (name.str() == "versions" && !std::regex_match(s->get(), range)) {
                    error(value, sub + ": expected a range of feature versions such as \"11-17\", \"-8\" or \"21-\", found \"" +
                                     s->get() + "\"");
                    ok = false;
                } else {
                    key = (name.str() == "pattern" ? "*" : "") + s->get();
                }
            } else if (name.str() == "options") {
                ruleOptions = strings(value, sub, nullptr);
                if (!ruleOptions) ok = false;
            } else {
                error(name.source(), what + ": unknown key \"" + std::string(name.str()) + "\"; expected versions, pattern or options");
                ok = false;
            }
        }
        if (ok && (!key || !ruleOptions)) {
            error(item, what + ": a rule needs " + (key ? "options" : "versions or pattern"));
            ok = false;
        }
        if (ok) rules.emplace_back(*key, joinArguments(*ruleOptions));
    }
    if (rules.empty()) return;
    put(k.id, std::to_string(rules.size()));
    for (size_t i = 0; i < rules.size(); ++i) {
        put(ids::kVersionRuleKeyBase + 2 * static_cast<int>(i), rules[i].first);
        put(ids::kVersionRuleOptionsBase + 2 * static_cast<int>(i), rules[i].second);
    }
}

// Paths in the file are relative to the file; the runtime jar of the command line is taken as given.
void Encoder::include(const toml::node* at, const std::filesystem::path& source, const std::string& name) {
    std::filesystem::path p = source;
    if (at && p.is_relative()) p = options.baseDir / p;
    std::string data;
    if (!options.load(p, &data)) {
        std::u8string shown = p.u8string();
        std::string text = "included file \"" + std::string(shown.begin(), shown.end()) + "\" does not exist or cannot be read";
        if (at) error(*at, text);
        else errors.push_back({options.displayName, 1, 1, text + " (the runtime jar; give --runtime-jar or set application.runtime_jar)"});
        return;
    }
    fileNames.push_back(name);
    fileData.push_back(std::move(data));
}

// An included file's name as the launcher extracts it: below its temporary folder, one folder level at most.
std::optional<std::string> badFileName(const std::string& name) {
    if (name.empty()) return "an empty name";
    if (name.find_first_of(";:/*?\"<>|") != std::string::npos) return "none of ; : / * ? \" < > | (folders are written with a backslash)";
    if (std::count(name.begin(), name.end(), '\\') > 1) return "at most one folder level";
    if (name.front() == '\\' || name.back() == '\\') return "no leading or trailing backslash";
    return std::nullopt;
}

const Key* findKey(std::string_view section, std::string_view name) {
    for (const auto& k : keys())
        if (section == k.section && name == k.name) return &k;
    return nullptr;
}

std::string keyList(std::string_view section) {
    std::string list;
    for (const auto& k : keys())
        if (section == k.section) list += std::string(list.empty() ? "" : ", ") + k.name;
    return list;
}

std::vector<std::string> sections() {
    std::vector<std::string> out;
    for (const auto& k : keys())
        if (std::find(out.begin(), out.end(), k.section) == out.end()) out.push_back(k.section);
    out.push_back(kLanguages);
    out.push_back(kRaw);
    return out;
}

// A table of messages: names of the [messages] section, or message ids by number.
void encodeMessageTable(Encoder& enc, const toml::table& t, const std::string& where, std::vector<Message>& out) {
    std::vector<std::pair<int32_t, const toml::node*>> numbered;
    for (const auto& [key, value] : t) {
        if (const Key* k = findKey("messages", key.str())) {
            (void)k;
            continue;  // named ones are written in table order below
        }
        auto id = parseId(key.str());
        if (!id) {
            enc.error(key.source(), where + ": unknown key \"" + std::string(key.str()) + "\"; expected a message id or one of: " +
                                        keyList("messages"));
            continue;
        }
        for (const auto& k : keys())
            if (k.kind == Kind::Message && k.id == *id && where == "[messages]")
                enc.error(key.source(), where + ": message " + std::to_string(*id) + " has the name " + k.section + "." + k.name);
        numbered.emplace_back(*id, &value);
    }
    for (const auto& k : keys()) {
        if (std::string_view(k.section) != "messages") continue;
        if (const toml::node* n = t.get(k.name)) {
            if (const auto* s = enc.str(*n, where + "." + k.name)) out.push_back({k.id, utf8ToUtf16(s->get())});
        }
    }
    std::sort(numbered.begin(), numbered.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (const auto& [id, n] : numbered)
        if (const auto* s = enc.str(*n, where + "." + std::to_string(id))) out.push_back({id, utf8ToUtf16(s->get())});
}

}  // namespace

std::string Diagnostic::text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": error: " + message;
}

bool loadFromDisk(const std::filesystem::path& path, std::string* bytes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string joinArguments(const std::vector<std::string>& args) {
    std::string out;
    for (const auto& a : args) {
        if (!out.empty()) out += ' ';
        if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) {
            out += a;
            continue;
        }
        // Inside quotes a doubled quote stands for one; backslashes are never special.
        out += '"';
        for (char c : a) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        out += '"';
    }
    return out;
}

std::vector<std::string> splitArguments(std::string_view text) {
    std::vector<std::string> args;
    if (text.empty()) return args;
    size_t i = 0;
    while (true) {
        std::string arg;
        bool inQuotes = false, separated = false, prevQuote = false, more = false;
        for (; i < text.size(); ++i) {
            char c = text[i];
            if (c == ' ' || c == '\t') {
                if (inQuotes) arg += c;
                else separated = true;
            } else if (separated) {
                more = true;
                break;
            } else if (c == '"') {
                if (prevQuote && !inQuotes) {
                    arg += '"';
                    inQuotes = true;
                } else {
                    inQuotes = !inQuotes;
                }
            } else {
                arg += c;
            }
            prevQuote = c == '"';
        }
        args.push_back(arg);
        if (!more) break;
    }
    return args;
}

PackResult configToBlock(std::string_view tomlText, const PackOptions& options) {
    PackResult result;
    Encoder enc(options);
    toml::table doc;
    try {
        doc = toml::parse(tomlText, options.displayName);
    } catch (const toml::parse_error& e) {
        enc.error(e.source(), std::string(e.description()));
        result.errors = enc.errors;
        return result;
    }

    // Unknown sections and keys first, so that a misspelt key is never silently ignored.
    std::vector<std::string> known = sections();
    for (const auto& [name, node] : doc) {
        std::string section(name.str());
        if (std::find(known.begin(), known.end(), section) == known.end()) {
            std::string list;
            for (const auto& s : known) list += (list.empty() ? "" : ", ") + s;
            enc.error(name.source(), "unknown section \"" + section + "\"; expected one of: " + list);
            continue;
        }
        if (section == "files") {
            const auto* arr = node.as_array();
            if (!arr || !arr->is_array_of_tables()) {
                enc.error(node, "files: expected [[files]] tables, found " + typeName(node));
                continue;
            }
            for (const auto& f : *arr)
                for (const auto& [key, value] : *f.as_table())
                    if (key.str() != "source" && key.str() != "name")
                        enc.error(key.source(), "[[files]]: unknown key \"" + std::string(key.str()) + "\"; expected source or name");
            continue;
        }
        const auto* t = node.as_table();
        if (!t) {
            enc.error(node, section + ": expected a table [" + section + "], found " + typeName(node));
            continue;
        }
        if (section == kRaw || section == kLanguages || section == "messages") continue;  // checked below
        for (const auto& [key, value] : *t)
            if (!findKey(section, key.str()))
                enc.error(key.source(), "unknown key \"" + std::string(key.str()) + "\" in [" + section + "]; expected one of: " +
                                            keyList(section));
    }

    const toml::node* mainClass = nullptr;
    for (const auto& k : keys()) {
        std::string what = std::string(k.section) + "." + k.name;
        const toml::table* section = doc.get_as<toml::table>(k.section);
        if (k.kind == Kind::Files) {
            const auto* arr = doc.get_as<toml::array>("files");
            for (size_t i = 0; arr && arr->is_array_of_tables() && i < arr->size(); ++i) {
                const auto& t = *arr->get(i)->as_table();
                const auto* source = t.get("source");
                if (!source) {
                    enc.error(*arr->get(i), "[[files]]: expected a source");
                    continue;
                }
                const auto* s = enc.str(*source, "files.source");
                if (!s) continue;
                std::string name = localPath(s->get()).filename().string();
                const toml::node* at = source;
                if (const auto* n = t.get("name")) {
                    const auto* ns = enc.str(*n, "files.name");
                    if (!ns) continue;
                    name = ns->get(), at = n;
                }
                if (auto bad = badFileName(name)) {
                    enc.error(*at, "files.name: expected " + *bad + ", found \"" + name + "\"");
                    continue;
                }
                if (std::find(enc.fileNames.begin(), enc.fileNames.end(), name) != enc.fileNames.end()) {
                    enc.error(*at, "files.name: \"" + name + "\" is included twice");
                    continue;
                }
                enc.include(source, localPath(s->get()), name);
            }
            if (!enc.fileNames.empty()) {
                std::string list;
                for (const auto& n : enc.fileNames) list += (list.empty() ? "" : ";") + n;
                enc.put(k.id, std::to_string(enc.fileNames.size()));
                enc.put(k.id2, list);
            }
            continue;
        }
        if (std::string_view(k.section) == "messages") continue;  // with the numbered ones below
        const toml::node* n = section ? section->get(k.name) : nullptr;
        if (k.kind == Kind::RuntimeJar && !n) {
            if (options.runtimeJar.empty())
                enc.errors.push_back({options.displayName, 1, 1,
                                      "no runtime jar: give --runtime-jar or set application.runtime_jar (\"\" for none)"});
            else
                enc.include(nullptr, options.runtimeJar, kRuntimeJarName);
            continue;
        }
        if (k.id == ids::kMainClass) mainClass = n;
        if (n) {
            enc.encode(k, *n, what);
        } else if (k.defaultToml) {
            toml::table d = toml::parse(std::string("v = ") + k.defaultToml);
            enc.encode(k, *d.get("v"), what);
        }
    }
    if (!mainClass) {
        const toml::table* app = doc.get_as<toml::table>("application");
        enc.error(app ? app->source() : toml::source_region{{1, 1}, {1, 1}, nullptr},
                  "application.main_class: expected the main class, e.g. main_class = \"com.example.Main\"");
    } else if (const auto* s = mainClass->as_string(); s && s->get().empty()) {
        enc.error(*mainClass, "application.main_class: expected a class name, found an empty string");
    }

    if (const auto* t = doc.get_as<toml::table>("messages")) encodeMessageTable(enc, *t, "[messages]", enc.messages);
    if (const auto* langs = doc.get_as<toml::table>(kLanguages)) {
        for (const auto& [prefix, node] : *langs) {
            const auto* t = node.as_table();
            if (!t) {
                enc.error(node, "languages." + std::string(prefix.str()) + ": expected a table of messages, found " + typeName(node));
                continue;
            }
            LanguageGroup g{std::string(prefix.str()), {}};
            encodeMessageTable(enc, *t, "[languages." + g.prefix + "]", g.messages);
            result.block.groups.push_back(std::move(g));
        }
    }
    if (const auto* raw = doc.get_as<toml::table>(kRaw)) {
        std::vector<std::pair<int32_t, std::string>> entries;
        for (const auto& [key, value] : *raw) {
            auto id = parseId(key.str());
            if (!id) {
                enc.error(key.source(), "[raw]: expected a configuration id as key, found \"" + std::string(key.str()) + "\"");
                continue;
            }
            if (const auto* s = value.as_string()) entries.emplace_back(*id, s->get());
            else if (const auto* i = value.as_integer()) entries.emplace_back(*id, std::to_string(i->get()));
            else enc.error(value, "raw." + std::to_string(*id) + ": expected a string or an integer, found " + typeName(value));
            for (const auto& [mappedId, v] : enc.config)
                if (mappedId == *id)
                    enc.error(key.source(), "raw." + std::to_string(*id) + ": id " + std::to_string(*id) +
                                                " is already written by a named key (set that key instead, or to its empty form)");
        }
        std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.first < b.first; });
        for (auto& e : entries) enc.config.push_back(std::move(e));
    }

    result.errors = std::move(enc.errors);
    std::stable_sort(result.errors.begin(), result.errors.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return std::tie(a.line, a.column) < std::tie(b.line, b.column); });
    if (!result.errors.empty()) return result;
    for (const auto& [id, value] : enc.config) {
        result.block.set(id, value);
        if (id == ids::kServiceName) result.serviceName = value;
    }
    result.block.messages = std::move(enc.messages);
    for (auto& d : enc.fileData) result.block.include(std::move(d));
    return result;
}

// ---------------------------------------------------------------------------------------------------------
// From the block to the file.

namespace {

std::string quoted(const std::string& s) {
    bool literal = s.find('\\') != std::string::npos && s.find('\'') == std::string::npos;
    for (char ch : s)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) literal = false;
    if (literal) return "'" + s + "'";
    std::string out = "\"";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') out += '\\', out += ch;
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

bool validUtf8(const std::string& s) { return utf16ToUtf8(utf8ToUtf16(s)) == s; }

// Values of the printed file: enough of TOML for what the mapping produces, printed in a fixed order.
struct Value {
    enum class T { Str, Bool, Arr, Tab } t = T::Str;
    std::string s;
    bool b = false;
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> fields;

    static Value str(std::string v) { Value x; x.s = std::move(v); return x; }
    static Value boolean(bool v) { Value x; x.t = T::Bool; x.b = v; return x; }
    static Value array(std::vector<Value> v = {}) { Value x; x.t = T::Arr; x.items = std::move(v); return x; }
    static Value table(std::vector<std::pair<std::string, Value>> f) { Value x; x.t = T::Tab; x.fields = std::move(f); return x; }

    std::string print() const {
        switch (t) {
            case T::Str: return quoted(s);
            case T::Bool: return b ? "true" : "false";
            case T::Arr: {
                std::string out = "[";
                for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i].print();
                return out + "]";
            }
            case T::Tab: {
                std::string out = "{ ";
                for (size_t i = 0; i < fields.size(); ++i) out += (i ? ", " : "") + fields[i].first + " = " + fields[i].second.print();
                return out + " }";
            }
        }
        return {};
    }
};

using Config = std::map<int32_t, std::string>;

std::optional<std::string> take(const Config& c, int id) {
    auto it = c.find(id);
    if (it == c.end()) return std::nullopt;
    return it->second;
}

Value strings(const std::vector<std::string>& list) {
    Value a = Value::array();
    for (const auto& s : list) a.items.push_back(Value::str(s));
    return a;
}

std::vector<std::string> splitOn(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t end = s.find(sep, start);
        out.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return out;
        start = end + 1;
    }
}

// The value of one key and the ids it stands for, or nothing when the vocabulary cannot express them.
// Whether the guess is exact is checked afterwards by encoding it again.
std::optional<Value> decode(const Key& k, const Config& c, std::vector<int>* used) {
    auto v = take(c, k.id);
    if (v) used->push_back(k.id);
    switch (k.kind) {
        case Kind::Text:
        case Kind::Version:
            if (!v) return std::nullopt;
            return Value::str(*v);
        case Kind::Flag:
            if (!v) return k.defaultToml ? std::optional<Value>(Value::boolean(false)) : std::nullopt;
            return Value::boolean(true);
        case Kind::Choice:
            if (!v) return std::nullopt;
            for (const auto& ch : k.choices)
                if (ch.value && *v == ch.value) return Value::str(ch.word);
            return std::nullopt;
        case Kind::Joined:
            if (!v) return std::nullopt;
            return strings(splitOn(*v, k.separator[0]));
        case Kind::Args:
            if (!v) return std::nullopt;
            return strings(splitArguments(*v));
        case Kind::Search: {
            if (!v) return Value::array();  // the default would otherwise come back
            Value a = Value::array();
            for (const auto& e : splitOn(*v, ';')) {
                if (e.empty()) return std::nullopt;
                const SearchKind* kind = nullptr;
                for (const auto& sk : kSearchKinds)
                    if (e[0] == sk.letter) kind = &sk;
                if (!kind) return std::nullopt;
                a.items.push_back(Value::str(kind->takesText ? std::string(kind->word) + ":" + e.substr(1) : kind->word));
            }
            return a;
        }
        case Kind::PathEntries: {
            if (!v) return std::nullopt;
            Value a = Value::array();
            for (const auto& e : splitOn(*v, ';')) {
                const EntryKind* kind = nullptr;
                for (const auto& ek : kEntryKinds)
                    if (!e.empty() && e[0] == ek.letter) kind = &ek;
                if (!kind || e.size() < 3 || (e[1] != '0' && e[1] != '1')) return std::nullopt;
                std::vector<std::pair<std::string, Value>> f{{kind->word, Value::str(e.substr(2))}};
                if (e[1] == '1') f.emplace_back("mandatory", Value::boolean(true));
                a.items.push_back(Value::table(std::move(f)));
            }
            return a;
        }
        case Kind::Redirect: {
            auto path = take(c, k.id2);
            if (path) used->push_back(k.id2);
            if (!v && !path) return Value::str("");
            if (!v || !path) return std::nullopt;
            return Value::str(*path);
        }
        case Kind::VersionRules: {
            if (!v) return std::nullopt;
            int n = std::atoi(v->c_str());
            Value a = Value::array();
            for (int i = 0; i < n; ++i) {
                auto key = take(c, ids::kVersionRuleKeyBase + 2 * i), opts = take(c, ids::kVersionRuleOptionsBase + 2 * i);
                if (!key || !opts) return std::nullopt;
                used->push_back(ids::kVersionRuleKeyBase + 2 * i);
                used->push_back(ids::kVersionRuleOptionsBase + 2 * i);
                bool pattern = !key->empty() && (*key)[0] == '*';
                a.items.push_back(Value::table({{pattern ? "pattern" : "versions", Value::str(pattern ? key->substr(1) : *key)},
                                                {"options", strings(splitArguments(*opts))}}));
            }
            return a;
        }
        default: return std::nullopt;
    }
}

// Encodes a printed value again through the same path the build takes.
std::vector<std::pair<int32_t, std::string>> reencode(const Key& k, const Value& v) {
    std::string text = "[" + std::string(k.section) + "]\n" + k.name + " = " + v.print() + "\n";
    toml::table doc = toml::parse(text);
    PackOptions opts;
    Encoder enc(opts);
    enc.encode(k, *doc[k.section][k.name].node(), k.name);
    if (!enc.errors.empty()) return {{-1, "error"}};
    return enc.config;
}

}  // namespace

Inspection blockToConfig(const Block& block, const std::filesystem::path& filesDir) {
    Inspection out;
    Config config;
    for (const auto& [id, value] : block.config) {
        if (config.count(id)) out.notes.push_back("id " + std::to_string(id) + " occurs more than once; only its last value is shown");
        config[id] = value;
    }

    std::map<std::string, std::vector<std::pair<std::string, Value>>> tables;
    // Included files: the runtime jar first when present, then [[files]].
    std::vector<std::pair<std::string, std::string>> files;  // name, source
    {
        auto count = take(config, ids::kIncludedFileCount), list = take(config, ids::kIncludedFilePaths);
        std::vector<std::string> names = list ? splitIncludedNames(*list) : std::vector<std::string>();
        std::string joined;
        for (const auto& n : names) joined += (joined.empty() ? "" : ";") + n;
        bool exact = count && list && *list == joined && *count == std::to_string(names.size()) &&
                     block.includedFiles.size() == names.size() &&
                     std::all_of(names.begin(), names.end(), [](auto& n) { return !badFileName(n); }) &&
                     std::set<std::string>(names.begin(), names.end()).size() == names.size();
        if (exact) {
            config.erase(ids::kIncludedFileCount);
            config.erase(ids::kIncludedFilePaths);
            for (size_t i = 0; i < names.size(); ++i) {
                std::string rel = names[i];
                std::replace(rel.begin(), rel.end(), '\\', '/');
                std::filesystem::path local = filesDir / localPath(rel);
                std::u8string shown = local.generic_u8string();
                files.emplace_back(names[i], std::string(shown.begin(), shown.end()));
                out.files.emplace_back(local, block.includedFiles[i]);
            }
        } else if (count || list) {
            out.notes.push_back("the included files are listed in a way [[files]] cannot express; shown under [raw], data not shown");
        }
    }
    bool runtimeJar = !files.empty() && files.front().first == kRuntimeJarName;

    for (const auto& k : keys()) {
        if (k.kind == Kind::Message || k.kind == Kind::Files) continue;
        if (k.kind == Kind::RuntimeJar) {
            tables[k.section].emplace_back(k.name, Value::str(runtimeJar ? files.front().second : ""));
            if (runtimeJar) files.erase(files.begin());
            continue;
        }
        std::vector<int> used;
        auto v = decode(k, config, &used);
        std::vector<std::pair<int32_t, std::string>> original;
        for (int id : used) original.emplace_back(id, config[id]);
        bool textOk = true;
        for (auto& [id, value] : original) textOk = textOk && validUtf8(value);
        if (!v && used.empty()) continue;  // absent, and no default to speak against
        if (!v || !textOk || reencode(k, *v) != original) {
            // Not expressible: the ids go to [raw]; a key with a default must still say "none".
            if (k.defaultToml) {
                if (k.kind == Kind::Flag) tables[k.section].emplace_back(k.name, Value::boolean(false));
                else if (k.kind == Kind::Search) tables[k.section].emplace_back(k.name, Value::array());
                else if (k.kind == Kind::Redirect) tables[k.section].emplace_back(k.name, Value::str(""));
            }
            continue;
        }
        for (int id : used) config.erase(id);
        tables[k.section].emplace_back(k.name, *v);
    }

    // Messages: named ones by name (the description in [service]), others by number.
    std::map<int32_t, std::u16string> messages;
    for (const auto& m : block.messages) {
        if (messages.count(m.id)) out.notes.push_back("message " + std::to_string(m.id) + " occurs more than once; only its last text is shown");
        messages[m.id] = m.text;
    }
    auto messageEntries = [&](const std::vector<Message>& list, bool withService) {
        std::map<int32_t, std::u16string> byId;
        for (const auto& m : list) byId[m.id] = m.text;
        std::vector<std::pair<std::string, Value>> named, numbered;
        for (const auto& k : keys())
            if (k.kind == Kind::Message && std::string_view(k.section) == "messages" && byId.count(k.id)) {
                named.emplace_back(k.name, Value::str(utf16ToUtf8(byId[k.id])));
                byId.erase(k.id);
            }
        if (withService) {
            if (byId.count(ids::kServiceDescription)) {
                tables["service"].emplace_back("description", Value::str(utf16ToUtf8(byId[ids::kServiceDescription])));
                byId.erase(ids::kServiceDescription);
            }
        }
        for (const auto& [id, text] : byId) numbered.emplace_back(std::to_string(id), Value::str(utf16ToUtf8(text)));
        named.insert(named.end(), numbered.begin(), numbered.end());
        return named;
    };
    std::vector<Message> flat;
    for (const auto& [id, text] : messages) flat.push_back({id, text});
    tables["messages"] = messageEntries(flat, true);

    std::string toml = "# Read back from a launcher by vexlo-pack inspect.\n";
    for (const auto& section : sections()) {
        if (section == kLanguages || section == kRaw || section == "files") continue;
        auto& fields = tables[section];
        if (fields.empty()) continue;
        // Keys in table order, whatever order they were found in.
        std::stable_sort(fields.begin(), fields.end(), [&](auto& a, auto& b) {
            auto pos = [&](const std::string& n) {
                for (size_t i = 0; i < keys().size(); ++i)
                    if (section == keys()[i].section && n == keys()[i].name) return i;
                return keys().size();
            };
            return pos(a.first) < pos(b.first);
        });
        toml += "\n[" + section + "]\n";
        for (const auto& [name, value] : fields) toml += name + " = " + value.print() + "\n";
    }
    std::set<std::string> prefixes;
    for (const auto& g : block.groups) {
        if (!prefixes.insert(g.prefix).second) out.notes.push_back("language group \"" + g.prefix + "\" occurs more than once");
        bool bare = !g.prefix.empty() && std::all_of(g.prefix.begin(), g.prefix.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '_' || c == '-';
        });
        toml += "\n[" + std::string(kLanguages) + "." + (bare ? g.prefix : quoted(g.prefix)) + "]\n";
        for (const auto& [name, value] : messageEntries(g.messages, false)) toml += name + " = " + value.print() + "\n";
    }
    if (!std::is_sorted(block.groups.begin(), block.groups.end(), [](auto& a, auto& b) { return a.prefix < b.prefix; }))
        out.notes.push_back("language groups are not in name order; a build writes them in name order");
    for (const auto& [name, source] : files) {
        toml += "\n[[files]]\nsource = " + quoted(source) + "\n";
        std::string rel = name;
        std::replace(rel.begin(), rel.end(), '\\', '/');
        if (localPath(rel).filename().string() != name) toml += "name = " + quoted(name) + "\n";
    }
    if (!config.empty()) {
        toml += "\n[" + std::string(kRaw) + "]\n";
        for (const auto& [id, value] : config) {
            if (!validUtf8(value)) out.notes.push_back("id " + std::to_string(id) + " holds bytes that are not UTF-8");
            toml += std::to_string(id) + " = " + quoted(utf16ToUtf8(utf8ToUtf16(value))) + "\n";
        }
    }
    out.toml = toml;
    return out;
}

std::string keyReference() {
    std::string out;
    std::string current;
    for (const auto& k : keys()) {
        if (current != k.section) {
            current = k.section;
            out += std::string(out.empty() ? "" : "\n") + (current == "files" ? "`[[files]]`" : "`[" + current + "]`") + "\n\n";
        }
        std::string ids;
        if (k.kind == Kind::RuntimeJar) ids = "included file";
        else if (k.kind == Kind::Files) ids = "ids " + std::to_string(k.id) + ", " + std::to_string(k.id2) + " and the data";
        else if (k.kind == Kind::VersionRules) ids = "ids 10200, 10201 + 2i, 10202 + 2i";
        else if (k.kind == Kind::Message) ids = "message " + std::to_string(k.id);
        else ids = "id " + std::to_string(k.id) + (k.id2 ? " and " + std::to_string(k.id2) : "");
        std::string type;
        switch (k.kind) {
            case Kind::Flag: type = "boolean"; break;
            case Kind::Joined: case Kind::Args: case Kind::Search: type = "array of strings"; break;
            case Kind::PathEntries: case Kind::VersionRules: type = "array of tables"; break;
            case Kind::Files: type = "tables"; break;
            default: type = "string";
        }
        out += "- `" + std::string(k.kind == Kind::Files ? "source`, `name" : k.name) + "` (" + type + ", " + ids + ")";
        if (*k.help) out += ": " + std::string(k.help);
        if (k.defaultToml) out += ". Default: `" + std::string(k.defaultToml) + "`";
        out += "\n";
    }
    out += "\n`[languages.PREFIX]`\n\n- message names of `[messages]`, or message ids: texts for locales that begin with "
           "PREFIX (such as \"de\" or \"de_DE\"); later prefixes in name order win\n";
    out += "\n`[raw]`\n\n- `ID = \"value\"`: any configuration id by number; `[messages]` also takes message ids by number\n";
    return out;
}

}  // namespace vexlo::pack
