#include "KeyTable.h"

#include <algorithm>

#include "ConfigIds.h"

namespace vexlo::pack {

// How to add a key: one row below. A string is Kind::Text, a boolean Kind::Flag (true writes "1"), a word
// standing for a value Kind::Choice; give its section, name, id (declared in ConfigIds.h; features of our
// own take ids of the project's range), a default when absence must still write something, and the help
// text the `keys` reference and the README show. Then run scripts/readme-keys.sh. A value of a new shape
// (say a number) takes a new Kind: one encoding step in Encoder.cpp, one decoding case in Decode.cpp and
// its type word in KeyReference.cpp; the inspection round trip test then covers it with one row.

namespace {

using namespace ids;

const std::vector<Key> kKeyTable = {
    {"service", "name", Kind::Text, kServiceName, 0, nullptr,
     "service name for /install, /start, /stop, /status, /uninstall and the service dispatcher"},
    {"service", "description", Kind::Message, kServiceDescription, 0, nullptr,
     "description shown by the service manager"},
    {"service",
     "start",
     Kind::Choice,
     kExecutableType,
     kServiceDelayedStart,
     nullptr,
     "how /install registers the service: \"demand\" (started by /start), \"auto\" (at boot) or \"delayed\" "
     "(at boot, after the automatic ones)",
     nullptr,
     {{"demand", nullptr}, {"auto", "4"}, {"delayed", "4", "1"}}},
    {"service", "dependencies", Kind::Joined, kServiceDependencies, 0, nullptr, "names of services that must run first",
     ","},
    {"service", "display_name", Kind::Text, kServiceDisplayName, 0, nullptr,
     "name the service manager shows (default: the name)"},
    {"service", "account", Kind::Text, kServiceAccount, 0, nullptr,
     "account the service runs as: \"LocalSystem\" (default), \"LocalService\", \"NetworkService\", \"virtual\" "
     "(NT SERVICE\\<name>) or a user (\"DOMAIN\\user\", \".\\user\"; a group-managed account ends in \"$\"). A "
     "user's password is never stored: /install reads it from the variable of password_env or asks on the console"},
    {"service", "password_env", Kind::Text, kServicePasswordEnv, 0, nullptr,
     "environment variable that holds a user account's password at /install (default: VEXLO_SERVICE_PASSWORD)"},
    {"service", "stop_timeout", Kind::Duration, kServiceStopTimeout, 0, nullptr,
     "time the application gets to end after a stop request (\"500ms\", \"10s\", \"5m\", \"1h\", \"1d\"); 5 s "
     "later the service ends every process of the application. Default: 30s"},
    {"service", "recovery", Kind::Recovery, kServiceRecoveryActions, kServiceRecoveryReset, nullptr,
     "`[service.recovery]`: `on_failure`, up to three of \"restart DURATION\" and \"none\" ([] turns recovery "
     "off), and `reset_after` (a duration). Default: restart after 10s, restart after 60s, none; reset after 1d"},
    {"service", "environment", Kind::Environment, kServiceEnvironment, 0, nullptr,
     "`[service.environment]`: NAME = \"value\" set for the application's process, launcher variables expanded; "
     "\"\" removes the variable"},
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
    {"output",
     "rotate",
     Kind::Choice,
     kOutputRotate,
     0,
     nullptr,
     "when the files move aside: \"size\" (at max_size, to stdout.1.log and up), \"daily\" (at the first line after "
     "midnight, to stdout.YYYY-MM-DD.log) or \"none\". Default: \"size\" when appending, \"none\" otherwise",
     nullptr,
     {{"size", "size"}, {"daily", "daily"}, {"none", "none"}}},
    {"output", "max_size", Kind::Size, kOutputMaxSize, 0, nullptr,
     "size at which a file rotates, such as \"10MB\" (KB, MB, GB; no unit: bytes). Default: \"10MB\""},
    {"output", "keep", Kind::Count, kOutputKeep, 0, nullptr,
     "old files kept by size rotation, or days kept by daily rotation. Default: 5"},

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
     "temporary folder, folders written with a backslash; no device names such as CON or NUL, no part of dots "
     "alone, at most 128 characters; default: the source's file name)"},
};

}  // namespace

const std::vector<Key>& keys() { return kKeyTable; }

const std::vector<SearchKind> kSearchKinds = {
    {"dir", 'A', true},       {"dir-fallback", 'B', true},   {"env", 'E', true},
    {"registry", 'Y', false}, {"installations", 'I', false}, {"path", 'S', false}};

const std::vector<EntryKind> kEntryKinds = {{"jar", 'A'}, {"dir", 'D'}, {"env", 'E'}, {"scan", 'S'}};

const Key* findKey(std::string_view section, std::string_view name) {
    for (const auto& key : keys())
        if (section == key.section && name == key.name) return &key;
    return nullptr;
}

std::string keyList(std::string_view section) {
    std::string list;
    for (const auto& key : keys())
        if (section == key.section) list += std::string(list.empty() ? "" : ", ") + key.name;
    return list;
}

std::vector<std::string> sectionNames() {
    std::vector<std::string> names;
    for (const auto& key : keys())
        if (std::find(names.begin(), names.end(), key.section) == names.end()) names.push_back(key.section);
    names.push_back(kLanguagesSection);
    names.push_back(kRawSection);
    return names;
}

}  // namespace vexlo::pack
