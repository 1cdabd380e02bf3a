#include "jvm/JavaVersion.h"

#include <cstring>
#include <limits>
#include <string>

#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "log/Log.h"

namespace vexlo {

bool preJava8Minimum = false;

namespace {

constexpr std::string_view kSeparators = "._-+";
constexpr int kBoundTextCapacity = 2000;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Like atol with a 32-bit long: skips leading white space, takes the leading digits, saturates.
std::int32_t pieceValue(std::string_view piece) {
    std::size_t i = 0;
    while (i < piece.size() && isBlank(piece[i])) ++i;
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        value = value * 10 + (piece[i] - '0');
        if (value > limit) return static_cast<std::int32_t>(limit);
    }
    return static_cast<std::int32_t>(value);
}

bool withinBounds(std::string_view text, const VersionComponents& minimum, const VersionComponents& maximum,
                  bool acceptShorter) {
    VersionComponents version;
    parseVersion(text, version);
    return detail::versionWithinBound(minimum, version, false, acceptShorter) &&
           detail::versionWithinBound(maximum, version, true, acceptShorter);
}

}  // namespace

void parseVersion(std::string_view text, VersionComponents& components) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of(kSeparators, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) components.push_back(pieceValue(text.substr(start, end - start)));
        start = end + 1;
    }
}

bool detail::versionWithinBound(const VersionComponents& bound, const VersionComponents& version, bool isMaximum,
                                bool acceptShorter) {
    for (std::size_t i = 0; i < bound.size(); ++i) {
        std::int32_t v = 0;
        if (i < version.size()) {
            v = version[i];
        } else if (acceptShorter) {
            return true;
        }
        std::int32_t b = bound[i];
        if (v == b) continue;
        // The first differing component decides; a maximum is violated from above, a minimum from below.
        return isMaximum ? v < b : v > b;
    }
    return true;
}

bool versionAllowed(std::string_view version, const VersionComponents& minimum, const VersionComponents& maximum,
                    bool allowBeta) {
    if (!allowBeta && getConfigInt(ids::kAllowBetaJava) == 0) {
        for (std::string_view marker : {"beta", "-ea", "-rc"}) {
            if (version.find(marker) != std::string_view::npos) {
                logMessage(L"beta vm not allowed");
                return false;
            }
        }
    }
    return withinBounds(version, minimum, maximum, false);
}

bool versionKeyAllowed(std::string_view key, const VersionComponents& minimum, const VersionComponents& maximum) {
    return withinBounds(key, minimum, maximum, true);
}

bool isNewerVersion(std::string_view a, std::string_view b) {
    VersionComponents first;
    VersionComponents second;
    parseVersion(a, first);
    parseVersion(b, second);
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (i >= second.size()) return true;
        if (first[i] != second[i]) return first[i] > second[i];
    }
    return false;
}

VersionBounds loadVersionBounds() {
    char minText[kBoundTextCapacity] = {};
    char maxText[kBoundTextCapacity] = {};
    getConfigString(ids::kMinJavaVersion, minText, kBoundTextCapacity);
    getConfigString(ids::kMaxJavaVersion, maxText, kBoundTextCapacity);
    minText[kBoundTextCapacity - 1] = '\0';
    maxText[kBoundTextCapacity - 1] = '\0';
    logMessage(L"MinVersion: %S, MaxVersion: %S", minText, maxText);
    VersionBounds bounds;
    parseVersion(minText, bounds.minimum);
    parseVersion(maxText, bounds.maximum);
    const VersionComponents& minimum = bounds.minimum;
    preJava8Minimum = minimum.size() >= 2 && minimum[0] == 1 && minimum[1] < 8;
    return bounds;
}

}  // namespace vexlo
