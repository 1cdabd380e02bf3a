// Java version texts as comparable numbers: parsing, the configured bounds, and newer-than.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vexlo {

// A version text split at ".", "_", "-" and "+"; may be empty.
using VersionComponents = std::vector<std::int32_t>;

// True when the last loaded minimum names a version of the old 1.x numbering below 1.8.
extern bool preJava8Minimum;

// Appends the components of the text to the list; an empty text appends nothing.
void parseVersion(std::string_view text, VersionComponents& components);

// True when a runtime with this version text may be used (beta builds only when allowed).
bool versionAllowed(std::string_view version, const VersionComponents& minimum, const VersionComponents& maximum,
                    bool allowBeta);

// True when a registry key named by a possibly partial version may hold an acceptable runtime.
bool versionKeyAllowed(std::string_view key, const VersionComponents& minimum, const VersionComponents& maximum);

// True when a is strictly newer than b; an empty or unparsable a is never newer.
bool isNewerVersion(std::string_view a, std::string_view b);

// The lowest and highest version a runtime may have; an empty list is no bound.
struct VersionBounds {
    VersionComponents minimum;
    VersionComponents maximum;
};

// The configured minimum and maximum; sets preJava8Minimum.
VersionBounds loadVersionBounds();

// Steps of the operations above, declared for their tests.
namespace detail {
// True when the version does not violate the bound. Missing version components count as 0, unless
// acceptShorter is set, in which case a version shorter than the bound passes.
bool versionWithinBound(const VersionComponents& bound, const VersionComponents& version, bool isMaximum,
                        bool acceptShorter);
}  // namespace detail

}  // namespace vexlo
