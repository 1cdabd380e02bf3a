#include "jvm/RegistrySearch.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "common/Buffers.h"
#include "common/Handles.h"
#include "common/TextLists.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "jvm/JavaProbe.h"
#include "log/Log.h"

namespace vexlo {

namespace {
std::optional<Runtime> findVendorRegistryJre(const VersionBounds& bounds);

// Names, values and the application id are read into buffers of this size.
constexpr DWORD kRegistryTextCapacity = kPathCapacity;
constexpr char kZuluPrefix[] = "zulu-";
constexpr std::size_t kZuluPrefixLength = sizeof kZuluPrefix - 1;
constexpr char kIgnoredLocatedMarker[] = "qdr_jres";

// How a vendor lays out its key: version subkeys with "JavaHome", "<version>\\hotspot\\MSI" with "Path", or
// "zulu-<version>" subkeys with "InstallationPath".
enum class VendorKeyLayout { plain, msi, zulu };

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

std::optional<Runtime> newerOf(std::optional<Runtime> first, std::optional<Runtime> second) {
    if (first && (!second || isNewerVersion(first->version, second->version))) return first;
    return second;
}

std::optional<Runtime> probeHome(const std::string& home, const VersionBounds& bounds) {
    Runtime found;
    if (!locateJavaExe(found.javaExe, home)) return std::nullopt;
    if (!checkJavaExe(found, bounds, false)) return std::nullopt;
    return found;
}

std::optional<Runtime> tryPreviousInstallation(HKEY root, REGSAM view, const VersionBounds& bounds) {
    std::vector<char> idBuffer(kRegistryTextCapacity, '\0');
    getConfigString(ids::kApplicationId, idBuffer.data(), static_cast<int>(kRegistryTextCapacity));
    idBuffer.back() = '\0';
    const char* appId = idBuffer.data();
    logMessage(L"checking app id %S (%d, %p)", appId, static_cast<int>(view), static_cast<void*>(root));
    if (*appId == '\0') return std::nullopt;

    unique_hkey key;
    LSTATUS status = RegOpenKeyExA(root, kInstallationsKey, 0, KEY_READ | view, key.put());
    if (status != ERROR_SUCCESS) {
        logMessage(L"could not open installation node %d", static_cast<int>(status));
        return std::nullopt;
    }
    std::string installations;
    if (!readStringValue(key.get(), appId, installations, status) || installations.empty()) {
        logMessage(L"could not query value node %d", static_cast<int>(status));
        return std::nullopt;
    }
    logMessage(L"found installations: %S", installations.c_str());

    for (const std::string& directory : splitList(std::string_view(installations))) {
        std::string home = directory + "\\jre";
        Runtime candidate;
        if (!locateJavaExe(candidate.javaExe, home)) {
            logMessage(L"did not find java in %S", home.c_str());
            continue;
        }
        if (checkJavaExe(candidate, bounds, false)) return candidate;
        logMessage(L"java version did not match in %S", home.c_str());
    }
    return std::nullopt;
}

// The best runtime listed below the key under one root; of equal versions the earlier subkey stays.
std::optional<Runtime> scanLocatedKey(HKEY root, const char* keyPath, const VersionBounds& bounds) {
    unique_hkey key;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return std::nullopt;
    std::optional<Runtime> best;
    for (std::string& name : subkeyNames(key.get())) {
        std::replace(name.begin(), name.end(), '/', '\\');
        // Runtimes the launcher unpacked for itself are not offered to others.
        if (name.find(kIgnoredLocatedMarker) != std::string::npos) continue;
        Runtime candidate{std::move(name), {}};
        if (!checkJavaExe(candidate, bounds, true)) continue;
        if (isNewerVersion(candidate.version, best ? std::string_view(best->version) : std::string_view()))
            best = std::move(candidate);
    }
    return best;
}

// The newest acceptable runtime below one vendor key; its subkeys are named by versions.
std::optional<Runtime> scanVendorKey(const VendorKey& vendorKey, const VersionBounds& bounds) {
    const bool msiLayout = vendorKey.layout == VendorKeyLayout::msi;
    const bool zuluLayout = vendorKey.layout == VendorKeyLayout::zulu;
    unique_hkey key;
    if (RegOpenKeyExA(vendorKey.root, vendorKey.path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return std::nullopt;

    std::vector<std::string> kept;
    for (std::string& name : subkeyNames(key.get())) {
        std::string_view tested = name;
        if (zuluLayout && tested.starts_with(kZuluPrefix)) tested.remove_prefix(kZuluPrefixLength);
        std::string testedText(tested);
        logMessage(L"test key name %S %S", testedText.c_str(), name.c_str());
        if (versionKeyAllowed(testedText, bounds.minimum, bounds.maximum)) kept.push_back(std::move(name));
    }
    // The "zulu-" prefix parses as a leading 0 in every name, so full names order like their versions.
    sortNewestFirst(kept, [](const std::string& name) -> std::string_view { return name; });
    for (const std::string& name : kept) logMessage(L"found in %S: %S", vendorKey.path, name.c_str());

    const char* valueName = msiLayout ? "Path" : zuluLayout ? "InstallationPath" : "JavaHome";
    for (const std::string& name : kept) {
        std::string subkeyPath = msiLayout ? name + "\\hotspot\\MSI" : name;
        unique_hkey subkey;
        if (RegOpenKeyExA(key.get(), subkeyPath.c_str(), 0, KEY_READ, subkey.put()) != ERROR_SUCCESS) continue;
        std::string home;
        LSTATUS status = ERROR_SUCCESS;
        if (!readStringValue(subkey.get(), valueName, home, status)) continue;
        if (std::optional<Runtime> found = probeHome(home, bounds)) return found;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Runtime> findPreviousInstallationJre(const VersionBounds& bounds) {
    struct Try {
        HKEY root;
        REGSAM view;
    };
    const Try tries[] = {{HKEY_CURRENT_USER, 0},
                         {HKEY_CURRENT_USER, KEY_WOW64_64KEY},
                         {HKEY_LOCAL_MACHINE, 0},
                         {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}};
    for (const Try& attempt : tries) {
        std::optional<Runtime> found = tryPreviousInstallation(attempt.root, attempt.view, bounds);
        if (!found) continue;
        if (attempt.root == HKEY_CURRENT_USER) {
            logMessage(L"found JRE from previous installation (user) %S", found->javaExe.c_str());
        } else {
            logMessage(L"found JRE from previous installation (machine) %S", found->javaExe.c_str());
        }
        return found;
    }
    return std::nullopt;
}

std::optional<Runtime> findRegistryJre(const VersionBounds& bounds) {
    if (getConfigInt(ids::kSkipRegistrySearch) != 0) return std::nullopt;

    std::optional<Runtime> vendor = findVendorRegistryJre(bounds);
    if (vendor) logMessage(L"found sun %S %S", vendor->javaExe.c_str(), vendor->version.c_str());

    std::optional<Runtime> located = detail::findLocatedJvm(kLocatedJvmsKey, bounds);
    if (located) logMessage(L"found located %S %S", located->javaExe.c_str(), located->version.c_str());

    return newerOf(std::move(vendor), std::move(located));
}

namespace {

// The newest runtime over the vendor keys, one candidate per key; equal versions keep the keys' order.
std::optional<Runtime> findVendorRegistryJre(const VersionBounds& bounds) {
    const bool jdkRequired = getConfigInt(ids::kRequireJdk) != 0;
    std::vector<Runtime> candidates;
    for (const VendorKey& vendorKey : kVendorKeys) {
        if (jdkRequired && vendorKey.jreOnly) continue;
        if (std::optional<Runtime> found = scanVendorKey(vendorKey, bounds)) candidates.push_back(std::move(*found));
    }
    if (candidates.empty()) return std::nullopt;
    sortNewestFirst(candidates, [](const Runtime& r) -> std::string_view { return r.version; });
    for (const Runtime& candidate : candidates) {
        logMessage(L"found registry jre %S %S", candidate.javaExe.c_str(), candidate.version.c_str());
    }
    return std::move(candidates.front());
}

}  // namespace

std::optional<Runtime> detail::findLocatedJvm(const char* keyPath, const VersionBounds& bounds) {
    std::optional<Runtime> user = scanLocatedKey(HKEY_CURRENT_USER, keyPath, bounds);
    std::optional<Runtime> machine = scanLocatedKey(HKEY_LOCAL_MACHINE, keyPath, bounds);
    return newerOf(std::move(user), std::move(machine));
}

}  // namespace vexlo
