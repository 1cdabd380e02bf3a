#include "jvm/JvmSearch.h"

#include <cstdio>
#include <memory>
#include <share.h>
#include <vector>

#include "common/Environment.h"
#include "common/Handles.h"
#include "common/TextLists.h"
#include "config/ConfigIds.h"
#include "config/ConfigTables.h"
#include "config/MessageErrors.h"
#include "extract/PackedRuntime.h"
#include "jvm/JavaProbe.h"
#include "jvm/JvmLoader.h"
#include "jvm/RegistrySearch.h"
#include "jvm/SelectedRuntime.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"
#include "paths/LauncherVariables.h"
#include "paths/PathForms.h"

namespace vexlo {

namespace {
std::optional<Runtime> findJavaOnSearchPath(const VersionBounds& bounds);

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
    VersionBounds bounds;

    // A candidate that passed its probe becomes the last accepted candidate; none loads nothing.
    [[gnu::noinline]] HMODULE tryCandidate(std::optional<Runtime>&& found, LocationKind kind, std::string_view text) {
        if (!found) return nullptr;
        location.runtime = std::move(*found);
        location.kind = kind;
        location.text.assign(text);
        return loadJvmForJavaExe(location.runtime.javaExe);
    }

    // Types I and Y: a runtime that does not load goes on the non-working list, so that the next probe
    // of the same kind finds the next-best one.
    template <typename Finder>
    HMODULE tryRegistryType(Finder find, bool previousInstallation) {
        for (;;) {
            std::optional<Runtime> found = find(bounds);
            if (!found) return nullptr;
            if (HMODULE library = tryCandidate(std::move(found), LocationKind::registry, {})) {
                if (previousInstallation) setPreviousInstallationFlag(true);
                return library;
            }
            if (!addNonWorkingJava(location.runtime.javaExe)) return nullptr;
        }
    }

    // The preferred location accepts beta builds; the installer's does not.
    HMODULE tryLocationFile(bool preferred) {
        std::string line;
        if (!detail::readLocationFile(preferred ? kPreferredLocationFile : kInstallerLocationFile, line))
            return nullptr;
        if (preferred) logMessage(L"Has preferred location %S", line.c_str());
        else logMessage(L"Has installer location %S", line.c_str());
        std::optional<Runtime> found = detail::checkJavaHome(line, bounds, preferred, false);
        if (!found) return nullptr;
        if (preferred) logMessage(L"Using preferred location");
        else logMessage(L"Using installer location");
        return tryCandidate(std::move(found), LocationKind::directory, line);
    }

    HMODULE tryHomeVariable(const char* variable) {
        return tryCandidate(detail::checkJavaHomeVariable(variable, bounds), LocationKind::variable, variable);
    }

    HMODULE mainPassEntry(const std::string& entry, bool acceptAnyDirectory) {
        char type = entry[0];
        std::string where = entry.substr(1);
        expandLauncherVariables(where, launcherVariableValues(selectedJavaHome()));
        logMessage(L"Testing location %S (type %c)", where.c_str(), static_cast<wchar_t>(type));

        switch (type) {
            case 'A':
            case 'B':
            case 'R':
                return tryCandidate(detail::checkJavaHome(where, bounds, false, acceptAnyDirectory),
                                    LocationKind::directory, where);
            case 'E':
                return tryCandidate(detail::checkJavaHomeVariable(where.c_str(), bounds), LocationKind::variable,
                                    where);
            case 'S': return tryCandidate(findJavaOnSearchPath(bounds), LocationKind::searchPath, where);
            case 'I': return tryRegistryType(findPreviousInstallationJre, true);
            case 'Y': return tryRegistryType(findRegistryJre, false);
            default: return nullptr;  // unknown letters (lower case included) are not locations
        }
    }

    // Directory entries once more, as configured and whatever their version, when nothing else loaded.
    HMODULE fallbackPassEntry(const std::string& entry) {
        char type = entry[0];
        if (!isDirectoryType(type)) return nullptr;
        std::string where = entry.substr(1);
        if (type != 'B' && isAbsoluteLocation(where)) return nullptr;
        logMessage(L"Testing relative location %S", where.c_str());
        std::optional<Runtime> found = detail::checkJavaHome(where, bounds, true, true);
        if (!found || !pathExists(found->javaExe)) return nullptr;
        logMessage(L"%S exists", found->javaExe.c_str());
        return tryCandidate(std::move(found), LocationKind::directory, where);
    }
};

}  // namespace

HMODULE detail::findJvm(JvmLocation& location) {
    logMessage(L"Searching for a JVM");
    location = JvmLocation{};
    Search search{location, loadVersionBounds()};

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
    HMODULE library = detail::findJvm(location);
    if (location.kind == LocationKind::none) {
        logError(L"No JVM found");
        showMessageError(ids::kMsgNoJvmFound, std::string("64"));
        return false;
    }
    publishSelectedRuntime(location.runtime.javaExe, location.runtime.version);
    if (!library) logError(L"Could not get DLL-Handle.");
    bool resolved = resolveCreateJavaVM(library);
    if (!resolved) logError(L"Could not load functions");
    if (library && resolved) {
        logMessage(L"Loading of JVM-DLL successful");
        return true;
    }
    switch (location.kind) {
        case LocationKind::searchPath: showMessageError(ids::kMsgNoJvmFound, std::string("64")); break;
        case LocationKind::directory: showMessageError(ids::kMsgDirectoryJvmNotLoaded, location.text); break;
        case LocationKind::variable: showMessageError(ids::kMsgEnvJvmNotLoaded, location.text); break;
        default: showMessageError(ids::kMsgRegistryJvmNotLoaded); break;
    }
    return false;
}

std::optional<Runtime> detail::checkJavaHome(std::string_view home, const VersionBounds& bounds, bool allowBeta,
                                             bool acceptAnyVersion) {
    std::string canonical = canonicalPathAnsi(home, false);
    // The unpacking and the probes below append "\..." to the home themselves.
    while (canonical.size() > 3 && canonical.back() == '\\') canonical.pop_back();
    preparePackedRuntime(canonical);
    Runtime candidate;
    bool accepted = acceptAnyVersion;
    if (locateJavaExe(candidate.javaExe, canonical))
        accepted = checkJavaExe(candidate, bounds, allowBeta) || acceptAnyVersion;
    if (!accepted) return std::nullopt;
    return candidate;
}

std::optional<Runtime> detail::checkJavaHomeVariable(const char* variable, const VersionBounds& bounds) {
    std::optional<std::string> home = environmentValue(variable, kPathCapacity);
    if (!home) return std::nullopt;
    for (char& c : *home) {
        if (c == '/') c = '\\';
    }
    Runtime candidate;
    if (!locateJavaExe(candidate.javaExe, *home) || !checkJavaExe(candidate, bounds, false)) return std::nullopt;
    return candidate;
}

namespace {

// Probes the java.exe that the system's default search order finds.
std::optional<Runtime> findJavaOnSearchPath(const VersionBounds& bounds) {
    char found[kPathCapacity];
    DWORD n = SearchPathA(nullptr, "java.exe", nullptr, kPathCapacity, found, nullptr);
    if (n == 0 || n >= kPathCapacity) return std::nullopt;
    Runtime candidate{std::string(found, n), {}};
    if (!checkJavaExe(candidate, bounds, false)) return std::nullopt;
    return candidate;
}

}  // namespace

bool detail::readLocationFile(std::wstring_view fileName, std::string& line) {
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
