#include "launch/JvmArguments.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "common/Buffers.h"
#include "common/Environment.h"
#include "common/Handles.h"
#include "common/ProcAddress.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "config/MessageErrors.h"
#include "extract/IncludedFiles.h"
#include "instance/SingleInstance.h"
#include "jvm/JavaProbe.h"
#include "jvm/SelectedRuntime.h"
#include "launch/VmOptions.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/LauncherVariables.h"
#include "paths/PathForms.h"
#include "paths/TempDirectories.h"
#include "process/LauncherState.h"

namespace vexlo {

namespace {
bool appendArchives(std::string& target, const std::string& directory, std::string_view extension);

void expandArgumentFiles(std::vector<std::string>& options);

constexpr const char* kModuleOptionNames[] = {"--upgrade-module-path", "--add-modules", "--limit-modules",
                                              "--add-exports",         "--add-opens",   "--add-reads",
                                              "--patch-module"};

// The shapes of the argument-file functions of the runtime's jli.dll.
struct JliList {
    char** elements;
    size_t size;
    size_t capacity;
};
using JliInitArgProcessing = void (*)(jboolean hasJavaArgs, jboolean disableArgFile);
using JliPreprocessArg = JliList* (*)(const char* argument, jboolean expandSourceOption);
using JliMemFree = void (*)(void* memory);

// The initialisation record and the strings it points to; kept until the process ends, since the runtime
// may look at them for as long as it lives.
struct InitRecord {
    std::vector<std::string> strings;
    std::vector<JavaVMOption> options;
    JavaVMInitArgs args{};
};

std::vector<std::unique_ptr<InitRecord>>& initRecords() {
    static std::vector<std::unique_ptr<InitRecord>> records;
    return records;
}

const char* runtimePackageName() { return launcherKind == 'i' ? "com.quandrel.runtime" : "com.vexlo.runtime"; }

void removeOneTrailingSemicolon(std::string& text) {
    if (!text.empty() && text.back() == ';') text.pop_back();
}

// The module options: "--add-opens" for the main class's package and "--add-modules" with its module.
void appendModuleOptions(std::vector<std::string>& options, bool moduleMode) {
    std::string addModules = "--add-modules=";
    if (moduleMode) {
        std::vector<char> buffer(kPathCapacity);
        getConfigString(ids::kMainClass, buffer.data(), static_cast<int>(buffer.size()));
        std::string mainClass = buffer.data();
        if (size_t slash = mainClass.find('/'); slash != std::string::npos) {
            size_t dot = mainClass.rfind('.');
            if (dot != std::string::npos && dot > slash)
                options.push_back("--add-opens=" + mainClass.substr(0, dot) + "=" + runtimePackageName());
            mainClass.resize(slash);
        }
        addModules += mainClass;
        addModules += ',';
    }
    addModules += runtimePackageName();
    options.push_back(std::move(addModules));
}

JavaVMInitArgs* buildInitRecord(const std::vector<std::string>& options) {
    auto record = std::make_unique<InitRecord>();
    record->strings = options;
    record->options.resize(record->strings.size());
    for (size_t i = 0; i < record->strings.size(); ++i) {
        record->options[i].optionString = record->strings[i].data();
        record->options[i].extraInfo = nullptr;
    }
    record->args.version = JNI_VERSION_1_2;
    record->args.nOptions = static_cast<jint>(record->options.size());
    record->args.options = record->options.data();
    record->args.ignoreUnrecognized = JNI_TRUE;
    logMessage(L"vmoption count %d", record->args.nOptions);
    for (size_t i = 0; i < record->strings.size(); ++i)
        logMessage(L"vmoption %d: %S", static_cast<int>(i), record->strings[i].c_str());
    initRecords().push_back(std::move(record));
    return &initRecords().back()->args;
}

}  // namespace

std::vector<std::string> buildSystemProperties() {
    logMessage(L"launching program");
    std::vector<std::string> properties;
    if (!instanceSemaphoreName.empty()) properties.push_back("-Dvexlo.semaphoreName=" + instanceSemaphoreName);
    if (previousInstallationFlag()) properties.push_back("-Dqdr.previousJdk=true");
    if (launcherKind == 'i') properties.push_back("-Dvexlo.isQuandrel=true");
    if (serviceFlag) properties.push_back("-Dvexlo.isService=true");
    // The Java side's own limit for shutdown hooks, in whole seconds, rounded up; the service process allows
    // a grace period beyond it before it ends the child.
    if (serviceFlag) {
        std::string stopMs = copyConfigString(ids::kServiceStopTimeout);
        if (!stopMs.empty() && stopMs.size() < 12 && stopMs.find_first_not_of("0123456789") == std::string::npos)
            properties.push_back("-Dvexlo.stopTimeout=" + std::to_string((std::stoull(stopMs) + 999) / 1000));
    }
    properties.push_back("-Dvexlo.moduleName=" + executablePathAnsi());
    properties.push_back("-Dsun.java.command=" + executablePathAnsi());
    properties.push_back("-Dvexlo.tempDir=" + launcherTempDir);
    properties.push_back("-Dvexlo.unextractedPosition=" + std::to_string(unextractedPosition));
    // Absent settings stay absent: the Java side owns the defaults.
    for (auto [id, name] : {std::pair{ids::kOutputRotate, "rotate"}, std::pair{ids::kOutputMaxSize, "maxSize"},
                            std::pair{ids::kOutputKeep, "keep"}}) {
        std::string value = copyConfigString(id);
        if (!value.empty()) properties.push_back(std::string("-Dvexlo.output.") + name + "=" + value);
    }
    std::string path = environmentValue("PATH").value_or(std::string());
    if (!path.empty()) properties.push_back("-Djava.library.path=" + path);
    if (!environmentValue("MANPATH"))
        properties.push_back("-Dvexlo.consoleCodepage=cp" + std::to_string(GetConsoleOutputCP()));
    return properties;
}

JavaVMInitArgs* assembleJvmArguments(const std::vector<std::string>& systemProperties,
                                     const std::vector<std::wstring>& arguments) {
    OptionVector options = systemProperties;
    ClassPathOverrides overrides;
    addConfiguredVmOptions(arguments, options, overrides);
    if (getConfigInt(ids::kReadDefaultVmOptionsFile) != 0) {
        unique_cfile file = openDefaultVmOptionsFile();
        logMessage(L"default vmoptions file: %d", file ? 1 : 0);
        readVmOptionsFile({}, file.get(), options, overrides);
    }
    if (getConfigInt(ids::kJOptionsAreVmOptions) != 0) addCommandLineVmOptions(arguments, options, overrides);

    std::string modulePath;
    logMessage(L"adding preconfigured modulepath");
    detail::appendClassPathEntries(ids::kModulePath, modulePath);

    std::string classPath = "-Djava.class.path=";
    const size_t classPathStart = classPath.size();
    const bool moduleMode = getConfigInt(ids::kModuleMode) != 0;
    std::string& archiveTarget = (!modulePath.empty() || moduleMode) ? modulePath : classPath;
    if (overrides.classPathPrefix) classPath += *overrides.classPathPrefix + ";";
    appendArchives(archiveTarget, launcherTempDir, "jar");
    appendArchives(archiveTarget, launcherTempDir, "zip");
    if (launcherKind == 'i') {
        std::string directory;
        appendConfigText(ids::kApplicationDirectory, directory);
        archiveTarget += canonicalPathAnsi(directory, true);
        if (archiveTarget.empty() || archiveTarget.back() != '\\') archiveTarget += '\\';
        archiveTarget += ".quandrel\\qdrruntime.jar;";
    }
    if (overrides.classPathReplacement) {
        classPath += *overrides.classPathReplacement;
    } else {
        logMessage(L"adding preconfigured classpath");
        detail::appendClassPathEntries(ids::kClassPath, classPath);
    }
    if (overrides.classPathSuffix) {
        // A leading ";" would be an empty entry, which the runtime reads as the working directory.
        if (classPath.size() > classPathStart && classPath.back() != ';') classPath += ';';
        classPath += *overrides.classPathSuffix;
    }
    removeOneTrailingSemicolon(classPath);
    options.push_back(classPath);

    if (!modulePath.empty()) {
        modulePath.insert(0, "--module-path=");
        removeOneTrailingSemicolon(modulePath);
        options.push_back(modulePath);
        appendModuleOptions(options, moduleMode);
    }
    if (serviceFlag && std::find(options.begin(), options.end(), "-Xrs") == options.end()) {
        logMessage(L"service: adding -Xrs");
        options.push_back("-Xrs");
    }
    if (noRedirectFlag) options.push_back("-Dquandrel.noRedir=true");
    detail::joinModuleOptions(options);
    if (std::any_of(options.begin(), options.end(), [](const std::string& o) { return o.starts_with("@"); }))
        expandArgumentFiles(options);
    options.erase(std::remove(options.begin(), options.end(), std::string()), options.end());
    return buildInitRecord(options);
}

void detail::appendClassPathEntries(int id, std::string& target) {
    const std::string list = copyConfigString(id);
    logMessage(L"entry %S", list.c_str());
    std::vector<std::string> entries;
    for (size_t position = 0; position <= list.size();) {
        size_t end = std::min(list.find(';', position), list.size());
        if (end == position) break;
        if (end - position > 1) entries.push_back(list.substr(position, end - position));
        position = end + 1;
    }
    logMessage(L"entries %d", static_cast<int>(entries.size()));

    for (const std::string& entry : entries) {
        const char type = entry[0];
        const bool mandatory = entry[1] == '1';
        std::string text = entry.substr(2);
        expandLauncherVariables(text, launcherVariableValues(selectedJavaHome()));
        bool found = false;
        if (type == 'A' || type == 'D' || (type == 'S' && id != ids::kClassPath)) {
            std::string resolved;
            resolvePathList(resolved, text);
            found = pathExists(resolved);
            target += resolved + ";";
        } else if (type == 'S') {
            std::string directory;
            resolvePathList(directory, text);
            bool jars = appendArchives(target, directory, "jar");
            bool zips = appendArchives(target, directory, "zip");
            found = jars || zips;
        } else if (type == 'E') {
            const std::optional<std::string> variable = environmentValue(text.c_str());
            const bool defined = variable.has_value();
            std::string value = variable.value_or(std::string());
            if (!value.empty()) {
                if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                    value = value.substr(1, value.size() - 2);
                target += value;
                if (value.empty() || value.back() != ';') target += ';';
                found = true;
            } else if (mandatory && !defined) {
                fatalMessageError(ids::kMsgMandatoryPathVariableUnset, text);
            }
        }
        // A defined but empty variable, or an unknown type letter, cannot satisfy a mandatory entry either.
        if (mandatory && !found) fatalMessageError(ids::kMsgMandatoryPathMissing, text);
    }
}

namespace {

// Appends every directory\*.extension file, each followed by ";"; false when the directory does not exist.
bool appendArchives(std::string& target, const std::string& directory, std::string_view extension) {
    if (!pathExists(directory)) return false;
    std::vector<std::string> names;
    listFilesByExtension(directory, extension, names);
    for (const std::string& name : names) {
        appendResolvedPath(target, directory + "\\" + name);
        target += ';';
    }
    return true;
}

}  // namespace

void detail::joinModuleOptions(std::vector<std::string>& options) {
    for (size_t i = 0; i < options.size(); ++i) {
        const bool listed = std::any_of(std::begin(kModuleOptionNames), std::end(kModuleOptionNames),
                                        [&](const char* name) { return options[i] == name; });
        // A value never begins with "-": a name left without one stays alone rather than swallowing
        // the next option (such as the class path).
        if (listed && i + 1 < options.size() && !options[i + 1].starts_with("-")) {
            options[i] += "=" + options[i + 1];
            options.erase(options.begin() + static_cast<std::ptrdiff_t>(i + 1));
        }
    }
}

namespace {

// Replaces "@file" options by the options the runtime's jli.dll reads from the file; leaves them as they are
// when that library or its functions are missing.
void expandArgumentFiles(std::vector<std::string>& options) {
    const std::string& binDirectory = runtimeBinDirectory();
    logMessage(L"@ argument found %d %S", static_cast<int>(options.size()), binDirectory.c_str());
    if (binDirectory.empty()) return;
    const std::string libraryPath = binDirectory + "\\jli.dll";
    unique_module library(LoadLibraryA(libraryPath.c_str()));
    if (!library) {
        logMessage(L"did not find %S", libraryPath.c_str());
        return;
    }
    auto initArgProcessing = procAddress<JliInitArgProcessing>(library.get(), "JLI_InitArgProcessing");
    auto preprocessArg = procAddress<JliPreprocessArg>(library.get(), "JLI_PreprocessArg");
    auto memFree = procAddress<JliMemFree>(library.get(), "JLI_MemFree");
    if (!initArgProcessing || !preprocessArg || !memFree) {
        logMessage(L"did not find all list functions %p %p %p", reinterpret_cast<void*>(initArgProcessing),
                   reinterpret_cast<void*>(preprocessArg), reinterpret_cast<void*>(memFree));
        return;
    }
    // The runtime's own library stays loaded, as the runtime itself would keep it.
    library.release();

    initArgProcessing(options.empty() ? JNI_FALSE : JNI_TRUE, JNI_FALSE);
    std::vector<std::string> expanded;
    for (const std::string& option : options) {
        JliList* list = preprocessArg(option.c_str(), JNI_TRUE);
        if (list == nullptr) {
            expanded.push_back(option);
            continue;
        }
        for (size_t i = 0; i < list->size; ++i) expanded.emplace_back(list->elements[i] ? list->elements[i] : "");
        memFree(list->elements);
        memFree(list);
    }
    options = std::move(expanded);
    detail::joinModuleOptions(options);
}

}  // namespace

void removeJavaOptionVariables() {
    for (const char* name : kJavaOptionVariables) SetEnvironmentVariableA(name, nullptr);
    for (const char* name : kJavaOptionVariables) _putenv_s(name, "");
    // A virtual machine built against the universal runtime reads that runtime's copy of the environment.
    if (HMODULE ucrt = GetModuleHandleA("ucrtbase.dll")) {
        using PutenvFn = errno_t(__cdecl*)(const char*, const char*);
        auto putenvS = procAddress<PutenvFn>(ucrt, "_putenv_s");
        if (putenvS) {
            logMessage(L"using _putenv_s in ucrtbase.dll %p %p", reinterpret_cast<void*>(putenvS),
                       reinterpret_cast<void*>(&_putenv_s));
            for (const char* name : kJavaOptionVariables) putenvS(name, "");
        }
    }
}

}  // namespace vexlo
