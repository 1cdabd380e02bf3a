#include "jvm/JvmSearch.h"

#include <cstdio>
#include <memory>
#include <share.h>
#include <vector>

#include "common/Handles.h"
#include "common/TextLists.h"
#include "config/ConfigTables.h"
#include "config/ConfigIds.h"
#include "extract/PackedRuntime.h"
#include "jvm/JavaProbe.h"
#include "jvm/JvmLoader.h"
#include "jvm/RegistrySearch.h"
#include "launch/LauncherVariables.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/PathForms.h"
#include "process/Errors.h"

namespace vexlo {

namespace {

constexpr int kSequenceCapacity = kPathCapacity;
constexpr int kLineCapacity = kPathCapacity;

bool isDirectoryType(char type) { return type == 'A' || type == 'B' || type == 'R'; }

// "X:..." or "\\..." with more than one character.
bool isAbsoluteLocation(std::string_view location) {
    return location.size() > 1 && (location[1] == ':' || (location[0] == '\\' && location[1] == '\\'));
}

// One search: the bounds and the working values, and the step that loads an accepted candidate.
struct Search {
    JvmLocation& location;
    VersionComponents minimum;
    VersionComponents maximum;

    // The probe wrote the candidate's executable and version; it becomes the last accepted candidate.
    HMODULE tryCandidate(const std::string& javaExe, const std::string& version, LocationKind kind, std::string text) {
        location.javaExe = javaExe;
        location.version = version;
        location.kind = kind;
        location.text = std::move(text);
        return loadJvmForJavaExe(location.javaExe);
    }

    // Types I and Y: a runtime that does not load goes on the non-working list, so that the next probe
    // of the same kind finds the next-best one.
    template <typename Finder>
    HMODULE tryRegistryType(Finder find, bool previousInstallation) {
        for (;;) {
            std::string javaExe;
            std::string version;
            if (!find(javaExe, version, minimum, maximum)) return nullptr;
            if (HMODULE library = tryCandidate(javaExe, version, LocationKind::registry, {})) {
                if (previousInstallation) setPreviousInstallationFlag(true);
                return library;
            }
            if (!addNonWorkingJava(location.javaExe)) return nullptr;
        }
    }

    // The preferred location accepts beta builds; the installer's does not.
    HMODULE tryLocationFile(bool preferred) {
        std::string line;
        if (!readLocationFile(preferred ? kPreferredLocationFile : kInstallerLocationFile, line)) return nullptr;
        if (preferred)
            logMessage(L"Has preferred location %S", line.c_str());
        else
            logMessage(L"Has installer location %S", line.c_str());
        std::string javaExe;
        std::string version;
        if (!checkJavaHome(javaExe, version, line, minimum, maximum, preferred, false)) return nullptr;
        if (preferred)
            logMessage(L"Using preferred location");
        else
            logMessage(L"Using installer location");
        return tryCandidate(javaExe, version, LocationKind::directory, line);
    }

    HMODULE tryHomeVariable(const char* variable) {
        std::string javaExe;
        std::string version;
        if (!checkJavaHomeVariable(javaExe, version, variable, minimum, maximum)) return nullptr;
        return tryCandidate(javaExe, version, LocationKind::variable, variable);
    }

    HMODULE mainPassEntry(const std::string& entry, bool acceptAnyDirectory) {
        char type = entry[0];
        std::string where = entry.substr(1);
        expandLauncherVariables(where);
        logMessage(L"Testing location %S (type %c)", where.c_str(), static_cast<wchar_t>(type));

        std::string javaExe;
        std::string version;
        switch (type) {
            case 'A':
            case 'B':
            case 'R':
                if (checkJavaHome(javaExe, version, where, minimum, maximum, false, acceptAnyDirectory))
                    return tryCandidate(javaExe, version, LocationKind::directory, where);
                return nullptr;
            case 'E':
                if (checkJavaHomeVariable(javaExe, version, where.c_str(), minimum, maximum))
                    return tryCandidate(javaExe, version, LocationKind::variable, where);
                return nullptr;
            case 'S':
                if (findJavaOnSearchPath(javaExe, version, minimum, maximum))
                    return tryCandidate(javaExe, version, LocationKind::searchPath, where);
                return nullptr;
            case 'I':
                return tryRegistryType(findPreviousInstallationJre, true);
            case 'Y':
                return tryRegistryType(findRegistryJre, false);
            default:
                return nullptr;  // unknown letters (lower case included) are not locations
        }
    }

    // Directory entries once more, as configured and whatever their version, when nothing else loaded.
    HMODULE fallbackPassEntry(const std::string& entry) {
        char type = entry[0];
        if (!isDirectoryType(type)) return nullptr;
        std::string where = entry.substr(1);
        if (type != 'B' && isAbsoluteLocation(where)) return nullptr;
        logMessage(L"Testing relative location %S", where.c_str());
        std::string javaExe;
        std::string version;
        if (!checkJavaHome(javaExe, version, where, minimum, maximum, true, true) || !pathExists(javaExe))
            return nullptr;
        logMessage(L"%S exists", javaExe.c_str());
        return tryCandidate(javaExe, version, LocationKind::directory, where);
    }
};

}  // namespace

HMODULE findJvm(JvmLocation& location) {
    logMessage(L"Searching for a JVM");
    location = JvmLocation{};
    Search search{location, {}, {}};
    loadVersionBounds(search.minimum, search.maximum);

    char sequenceBuffer[kSequenceCapacity];
    getConfigString(ids::kSearchSequence, sequenceBuffer, kSequenceCapacity);
    const std::string sequence(sequenceBuffer);

    if (HMODULE library = search.tryLocationFile(true)) return library;

    const std::vector<std::string> entries = splitList(sequence);
    const bool acceptAnyDirectory = getConfigInt(ids::kAcceptFailedDirectoryEntry) != 0;
    for (const std::string& entry : entries) {
        if (HMODULE library = search.mainPassEntry(entry, acceptAnyDirectory)) return library;
    }

    if (HMODULE library = search.tryLocationFile(false)) return library;

    for (const std::string& entry : entries) {
        if (HMODULE library = search.fallbackPassEntry(entry)) return library;
    }
    logMessage(L"Search sequence finished");

    if (HMODULE library = search.tryHomeVariable(kVexloJavaHomeVariable)) return library;
    return search.tryHomeVariable(kQuandrelJavaHomeVariable);
}

bool LoadDLL() {
    logMessage(L"LoadDLL (%d, %S, %d)", 1, static_cast<const char*>(nullptr), 0);
    JvmLocation location;
    HMODULE library = findJvm(location);
    if (location.kind == LocationKind::none) {
        logError(L"No JVM found");
        showMessageError(ids::kMsgNoJvmFound, std::string("64"));
        return false;
    }
    publishSelectedRuntime(location.javaExe, location.version);
    if (!library) logError(L"Could not get DLL-Handle.");
    bool resolved = resolveCreateJavaVM(library);
    if (!resolved) logError(L"Could not load functions");
    if (library && resolved) {
        logMessage(L"Loading of JVM-DLL successful");
        return true;
    }
    switch (location.kind) {
        case LocationKind::searchPath:
            showMessageError(ids::kMsgNoJvmFound, std::string("64"));
            break;
        case LocationKind::directory:
            showMessageError(ids::kMsgDirectoryJvmNotLoaded, location.text);
            break;
        case LocationKind::variable:
            showMessageError(ids::kMsgEnvJvmNotLoaded, location.text);
            break;
        default:
            showMessageError(ids::kMsgRegistryJvmNotLoaded);
            break;
    }
    return false;
}

bool checkJavaHome(std::string& javaExe, std::string& version, std::string_view home,
                   const VersionComponents& minimum, const VersionComponents& maximum, bool allowBeta,
                   bool acceptAnyVersion) {
    std::string canonical = canonicalPathAnsi(home, false);
    // The unpacking and the probes below append "\..." to the home themselves.
    while (canonical.size() > 3 && canonical.back() == '\\') canonical.pop_back();
    preparePackedRuntime(canonical);
    if (locateJavaExe(javaExe, canonical))
        return checkJavaExe(javaExe, version, minimum, maximum, allowBeta) || acceptAnyVersion;
    return acceptAnyVersion;
}

bool checkJavaHomeVariable(std::string& javaExe, std::string& version, const char* variable,
                           const VersionComponents& minimum, const VersionComponents& maximum) {
    char value[kPathCapacity];
    DWORD n = GetEnvironmentVariableA(variable, value, kPathCapacity);
    if (n == 0 || n >= kPathCapacity) return false;
    std::string home(value, n);
    for (char& c : home) {
        if (c == '/') c = '\\';
    }
    return locateJavaExe(javaExe, home) && checkJavaExe(javaExe, version, minimum, maximum, false);
}

bool findJavaOnSearchPath(std::string& javaExe, std::string& version, const VersionComponents& minimum,
                          const VersionComponents& maximum) {
    char found[kPathCapacity];
    DWORD n = SearchPathA(nullptr, "java.exe", nullptr, kPathCapacity, found, nullptr);
    if (n == 0 || n >= kPathCapacity) return false;
    javaExe.assign(found, n);
    return checkJavaExe(javaExe, version, minimum, maximum, false);
}

bool readLocationFile(std::wstring_view fileName, std::string& line) {
    std::wstring path = canonicalPathWide(getConfigWide(ids::kApplicationDirectory), false, true);
    // The file names begin with their own backslash.
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    path += fileName;

    unique_cfile file(_wfsopen(path.c_str(), L"rt", _SH_DENYNO));
    if (!file) return false;
    char buffer[kLineCapacity];
    if (!fgets(buffer, kLineCapacity, file.get())) return false;
    line.assign(buffer);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return true;
}

}  // namespace vexlo
