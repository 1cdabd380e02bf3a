#include "jvm/RegistrySearch.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "common/Handles.h"
#include "common/TextLists.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "jvm/JavaProbe.h"
#include "log/Log.h"

namespace vexlo {

namespace {

// Names, values and the application id are read into buffers of this size.
constexpr DWORD kRegistryTextCapacity = 6000;
constexpr char kZuluPrefix[] = "zulu-";
constexpr std::size_t kZuluPrefixLength = sizeof kZuluPrefix - 1;
constexpr char kIgnoredLocatedMarker[] = "qdr_jres";

bool previousInstallation = false;

struct Runtime {
    std::string javaExe;
    std::string version;
};

struct VendorKey {
    HKEY root;
    const char* path;
    VendorKeyLayout layout;
    bool jreOnly;
};

// Scanned in this order; on equal versions the earlier key wins.
const VendorKey kVendorKeys[] = {
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\JRE", VendorKeyLayout::plain, true},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\JDK", VendorKeyLayout::plain, false},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Runtime Environment", VendorKeyLayout::plain, true},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Development Kit", VendorKeyLayout::plain, false},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\JDK", VendorKeyLayout::msi, false},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Eclipse Adoptium\\JDK", VendorKeyLayout::msi, false},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Eclipse Adoptium\\JRE", VendorKeyLayout::msi, true},
    {HKEY_LOCAL_MACHINE, "SOFTWARE\\Azul Systems\\Zulu", VendorKeyLayout::zulu, false},
    {HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\JDK", VendorKeyLayout::msi, false},
    {HKEY_CURRENT_USER, "SOFTWARE\\Eclipse Adoptium\\JDK", VendorKeyLayout::msi, false},
    {HKEY_CURRENT_USER, "SOFTWARE\\Eclipse Adoptium\\JRE", VendorKeyLayout::msi, true},
    {HKEY_CURRENT_USER, "SOFTWARE\\Azul Systems\\Zulu", VendorKeyLayout::zulu, false},
};

// A string value of the key; false when it is missing, not a string, or does not fit the buffer.
bool readStringValue(HKEY key, const char* name, std::string& value, LSTATUS& status) {
    std::vector<char> buffer(kRegistryTextCapacity);
    DWORD size = kRegistryTextCapacity;
    DWORD type = 0;
    status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    value.assign(buffer.data(), size);
    // The stored size may or may not count the terminator.
    while (!value.empty() && value.back() == '\0') value.pop_back();
    return size > 0;
}

// Subkey names in enumeration order. Names too long for the buffer are skipped; any other failure ends the
// enumeration, so a key deleted meanwhile cannot keep it going.
std::vector<std::string> subkeyNames(HKEY key) {
    std::vector<std::string> names;
    std::vector<char> buffer(kRegistryTextCapacity);
    for (DWORD index = 0;; ++index) {
        DWORD length = kRegistryTextCapacity;
        LSTATUS status = RegEnumKeyExA(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(buffer.data(), length);
    }
    return names;
}

// Newest first; runtimes of equal versions keep their order. An insertion sort: the lists hold a handful of
// entries, and std::stable_sort would add its buffered merge to the executable for each type.
template <typename T, typename Version>
void sortNewestFirst(std::vector<T>& items, Version version) {
    for (size_t i = 1; i < items.size(); ++i) {
        for (size_t j = i; j > 0 && isNewerVersion(version(items[j]), version(items[j - 1])); --j)
            std::swap(items[j], items[j - 1]);
    }
}

bool probeHome(const std::string& home, Runtime& found, const VersionComponents& minimum,
               const VersionComponents& maximum) {
    std::string javaExe;
    std::string version;
    if (!locateJavaExe(javaExe, home)) return false;
    if (!checkJavaExe(javaExe, version, minimum, maximum, false)) return false;
    found = {std::move(javaExe), std::move(version)};
    return true;
}

bool tryPreviousInstallation(HKEY root, REGSAM view, Runtime& found, const VersionComponents& minimum,
                             const VersionComponents& maximum) {
    std::vector<char> idBuffer(kRegistryTextCapacity, '\0');
    getConfigString(ids::kApplicationId, idBuffer.data(), static_cast<int>(kRegistryTextCapacity));
    idBuffer.back() = '\0';
    const char* appId = idBuffer.data();
    logMessage(L"checking app id %S (%d, %p)", appId, static_cast<int>(view), static_cast<void*>(root));
    if (*appId == '\0') return false;

    unique_hkey key;
    LSTATUS status = RegOpenKeyExA(root, kInstallationsKey, 0, KEY_READ | view, key.put());
    if (status != ERROR_SUCCESS) {
        logMessage(L"could not open installation node %d", static_cast<int>(status));
        return false;
    }
    std::string installations;
    if (!readStringValue(key.get(), appId, installations, status) || installations.empty()) {
        logMessage(L"could not query value node %d", static_cast<int>(status));
        return false;
    }
    logMessage(L"found installations: %S", installations.c_str());

    for (const std::string& directory : splitList(std::string_view(installations))) {
        std::string home = directory + "\\jre";
        std::string javaExe;
        if (!locateJavaExe(javaExe, home)) {
            logMessage(L"did not find java in %S", home.c_str());
            continue;
        }
        std::string version;
        if (checkJavaExe(javaExe, version, minimum, maximum, false)) {
            found = {std::move(javaExe), std::move(version)};
            return true;
        }
        logMessage(L"java version did not match in %S", home.c_str());
    }
    return false;
}

// The best runtime listed below the key under one root; of equal versions the earlier subkey stays.
bool scanLocatedKey(HKEY root, const char* keyPath, Runtime& best, const VersionComponents& minimum,
                    const VersionComponents& maximum) {
    unique_hkey key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    bool found = false;
    best = {};
    for (std::string& name : subkeyNames(key.get())) {
        std::replace(name.begin(), name.end(), '/', '\\');
        // Runtimes the launcher unpacked for itself are not offered to others.
        if (name.find(kIgnoredLocatedMarker) != std::string::npos) continue;
        std::string version;
        if (!checkJavaExe(name, version, minimum, maximum, true)) continue;
        if (isNewerVersion(version, best.version)) {
            best = {std::move(name), std::move(version)};
            found = true;
        }
    }
    return found;
}

}  // namespace

bool previousInstallationFlag() { return previousInstallation; }

void setPreviousInstallationFlag(bool value) { previousInstallation = value; }

bool findPreviousInstallationJre(std::string& javaExe, std::string& version, const VersionComponents& minimum,
                                 const VersionComponents& maximum) {
    struct Try {
        HKEY root;
        REGSAM view;
    };
    const Try tries[] = {{HKEY_CURRENT_USER, 0},
                         {HKEY_CURRENT_USER, KEY_WOW64_64KEY},
                         {HKEY_LOCAL_MACHINE, 0},
                         {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}};
    for (const Try& attempt : tries) {
        Runtime found;
        if (!tryPreviousInstallation(attempt.root, attempt.view, found, minimum, maximum)) continue;
        javaExe = std::move(found.javaExe);
        version = std::move(found.version);
        if (attempt.root == HKEY_CURRENT_USER) {
            logMessage(L"found JRE from previous installation (user) %S", javaExe.c_str());
        } else {
            logMessage(L"found JRE from previous installation (machine) %S", javaExe.c_str());
        }
        return true;
    }
    return false;
}

bool findRegistryJre(std::string& javaExe, std::string& version, const VersionComponents& minimum,
                     const VersionComponents& maximum) {
    if (getConfigInt(ids::kSkipRegistrySearch) != 0) return false;

    Runtime vendor;
    bool vendorFound = findVendorRegistryJre(vendor.javaExe, vendor.version, minimum, maximum);
    if (vendorFound) logMessage(L"found sun %S %S", vendor.javaExe.c_str(), vendor.version.c_str());

    Runtime located;
    bool locatedFound = findLocatedJvm(kLocatedJvmsKey, located.javaExe, located.version, minimum, maximum);
    if (locatedFound) logMessage(L"found located %S %S", located.javaExe.c_str(), located.version.c_str());

    const Runtime* chosen = nullptr;
    if (vendorFound && locatedFound) {
        chosen = isNewerVersion(vendor.version, located.version) ? &vendor : &located;
    } else if (vendorFound) {
        chosen = &vendor;
    } else if (locatedFound) {
        chosen = &located;
    } else {
        return false;
    }
    javaExe = chosen->javaExe;
    version = chosen->version;
    return true;
}

bool findVendorRegistryJre(std::string& javaExe, std::string& version, const VersionComponents& minimum,
                           const VersionComponents& maximum) {
    const bool jdkRequired = getConfigInt(ids::kRequireJdk) != 0;
    std::vector<Runtime> candidates;
    for (const VendorKey& vendorKey : kVendorKeys) {
        if (jdkRequired && vendorKey.jreOnly) continue;
        Runtime found;
        if (scanVendorKey(found.javaExe, found.version, minimum, maximum, vendorKey.path, vendorKey.layout,
                          vendorKey.root)) {
            candidates.push_back(std::move(found));
        }
    }
    if (candidates.empty()) return false;
    sortNewestFirst(candidates, [](const Runtime& r) -> std::string_view { return r.version; });
    for (const Runtime& candidate : candidates) {
        logMessage(L"found registry jre %S %S", candidate.javaExe.c_str(), candidate.version.c_str());
    }
    javaExe = candidates.front().javaExe;
    version = candidates.front().version;
    return true;
}

bool scanVendorKey(std::string& javaExe, std::string& version, const VersionComponents& minimum,
                   const VersionComponents& maximum, const char* keyPath, VendorKeyLayout layout,
                   HKEY root) {
    const bool msiLayout = layout == VendorKeyLayout::msi, zuluLayout = layout == VendorKeyLayout::zulu;
    unique_hkey key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;

    std::vector<std::string> kept;
    for (std::string& name : subkeyNames(key.get())) {
        std::string_view tested = name;
        if (zuluLayout && tested.substr(0, kZuluPrefixLength) == kZuluPrefix) tested.remove_prefix(kZuluPrefixLength);
        std::string testedText(tested);
        logMessage(L"test key name %S %S", testedText.c_str(), name.c_str());
        if (versionKeyAllowed(testedText, minimum, maximum)) kept.push_back(std::move(name));
    }
    // The "zulu-" prefix parses as a leading 0 in every name, so full names order like their versions.
    sortNewestFirst(kept, [](const std::string& name) -> std::string_view { return name; });
    for (const std::string& name : kept) logMessage(L"found in %S: %S", keyPath, name.c_str());

    const char* valueName = msiLayout ? "Path" : zuluLayout ? "InstallationPath" : "JavaHome";
    for (const std::string& name : kept) {
        std::string subkeyPath = msiLayout ? name + "\\hotspot\\MSI" : name;
        unique_hkey subkey;
        if (RegOpenKeyExA(key.get(), subkeyPath.c_str(), 0, KEY_READ, subkey.put()) != ERROR_SUCCESS) continue;
        std::string home;
        LSTATUS status = ERROR_SUCCESS;
        if (!readStringValue(subkey.get(), valueName, home, status)) continue;
        Runtime found;
        if (probeHome(home, found, minimum, maximum)) {
            javaExe = std::move(found.javaExe);
            version = std::move(found.version);
            return true;
        }
    }
    return false;
}

bool findLocatedJvm(const char* keyPath, std::string& javaExe, std::string& version,
                    const VersionComponents& minimum, const VersionComponents& maximum) {
    Runtime user;
    Runtime machine;
    bool userFound = scanLocatedKey(HKEY_CURRENT_USER, keyPath, user, minimum, maximum);
    bool machineFound = scanLocatedKey(HKEY_LOCAL_MACHINE, keyPath, machine, minimum, maximum);
    const Runtime* chosen = nullptr;
    if (userFound && machineFound) {
        chosen = isNewerVersion(user.version, machine.version) ? &user : &machine;
    } else if (userFound) {
        chosen = &user;
    } else if (machineFound) {
        chosen = &machine;
    } else {
        return false;
    }
    javaExe = chosen->javaExe;
    version = chosen->version;
    return true;
}

}  // namespace vexlo
