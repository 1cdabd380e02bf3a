#include <gtest/gtest.h>

#include <string>

#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "jvm/JavaVersion.h"

namespace vexlo {
namespace {

VersionComponents parsed(std::string_view text) {
    VersionComponents v;
    parseVersion(text, v);
    return v;
}

class JavaVersionTest : public ::testing::Test {
protected:
    void SetUp() override { resetConfigForTests(); }
    void TearDown() override { resetConfigForTests(); }
};

TEST(ParseVersion, SplitsAtEverySeparatorAndCountsNonDigitPiecesAsZero) {
    EXPECT_EQ(parsed("1.8.0_202"), (VersionComponents{1, 8, 0, 202}));
    EXPECT_EQ(parsed("11.0.2"), (VersionComponents{11, 0, 2}));
    EXPECT_EQ(parsed("17"), (VersionComponents{17}));
    EXPECT_EQ(parsed("17-ea"), (VersionComponents{17, 0}));
    EXPECT_EQ(parsed("21.0.1+12"), (VersionComponents{21, 0, 1, 12}));
    EXPECT_EQ(parsed("1.8.0_202-b08"), (VersionComponents{1, 8, 0, 202, 0}));
    EXPECT_EQ(parsed("zulu-11"), (VersionComponents{0, 11}));
    EXPECT_TRUE(parsed("").empty());
}

TEST(ParseVersion, RunsOfSeparatorsGiveNoEmptyPieces) {
    EXPECT_EQ(parsed("..1__8--+0.."), (VersionComponents{1, 8, 0}));
    EXPECT_TRUE(parsed("._-+").empty());
}

TEST(ParseVersion, PiecesReadLikeAtol) {
    EXPECT_EQ(parsed(" 12ab.3x4"), (VersionComponents{12, 3}));
    EXPECT_EQ(parsed("99999999999.2147483647.2147483648"), (VersionComponents{2147483647, 2147483647, 2147483647}));
}

TEST(ParseVersion, AppendsToWhatIsThere) {
    VersionComponents v{5};
    parseVersion("1.2", v);
    EXPECT_EQ(v, (VersionComponents{5, 1, 2}));
}

TEST(VersionWithinBound, BoundsAreInclusiveAndCoverLongerVersions) {
    const VersionComponents max18{1, 8};
    EXPECT_TRUE(detail::versionWithinBound(max18, parsed("1.8.0_202"), true, false));
    EXPECT_TRUE(detail::versionWithinBound(max18, parsed("1.8"), true, false));
    EXPECT_FALSE(detail::versionWithinBound(max18, parsed("9"), true, false));
    EXPECT_TRUE(detail::versionWithinBound(max18, parsed("1.7.9"), true, false));

    const VersionComponents min18{1, 8};
    EXPECT_TRUE(detail::versionWithinBound(min18, parsed("1.8"), false, false));
    EXPECT_TRUE(detail::versionWithinBound(min18, parsed("1.8.0_5"), false, false));
    EXPECT_FALSE(detail::versionWithinBound(min18, parsed("1.7.0_80"), false, false));
    EXPECT_TRUE(detail::versionWithinBound(min18, parsed("1.9"), false, false));
}

TEST(VersionWithinBound, OnlyTheFirstDifferenceDecides) {
    // 2.0 is above a minimum of 1.9 although its second component is smaller.
    EXPECT_TRUE(detail::versionWithinBound({1, 9}, parsed("2.0"), false, false));
    EXPECT_TRUE(detail::versionWithinBound({2, 9}, parsed("1.99"), true, false));
    EXPECT_FALSE(detail::versionWithinBound({2, 0}, parsed("1.99"), false, false));
}

TEST(VersionWithinBound, MissingComponentsCountAsZeroUnlessShorterIsAccepted) {
    const VersionComponents min{1, 8, 0, 200};
    EXPECT_FALSE(detail::versionWithinBound(min, parsed("1.8"), false, false));
    EXPECT_TRUE(detail::versionWithinBound(min, parsed("1.8"), false, true));
    EXPECT_FALSE(detail::versionWithinBound(min, parsed("1.7"), false, true));
    // Against a maximum the zeros pass.
    EXPECT_TRUE(detail::versionWithinBound({11, 0, 2}, parsed("11"), true, false));
    EXPECT_FALSE(detail::versionWithinBound({1, 0, 0}, VersionComponents{}, false, false));
    EXPECT_TRUE(detail::versionWithinBound({1, 0, 0}, VersionComponents{}, false, true));
    EXPECT_TRUE(detail::versionWithinBound({}, VersionComponents{}, false, false));
    EXPECT_TRUE(detail::versionWithinBound({}, parsed("99"), true, false));
}

TEST_F(JavaVersionTest, NoBoundsAcceptEveryReleaseVersion) {
    for (const char* v : {"1.4.2", "1.8.0_202", "11.0.2", "17", "", "zulu"}) {
        EXPECT_TRUE(versionAllowed(v, {}, {}, false)) << v;
    }
}

TEST_F(JavaVersionTest, MinimumAndMaximumExamples) {
    const VersionComponents min18 = parsed("1.8");
    EXPECT_TRUE(versionAllowed("1.8.0_202", min18, {}, false));
    EXPECT_FALSE(versionAllowed("1.7.0_80", min18, {}, false));
    EXPECT_TRUE(versionAllowed("11.0.2", min18, {}, false));
    EXPECT_TRUE(versionAllowed("9", min18, {}, false));

    const VersionComponents max18 = parsed("1.8");
    EXPECT_TRUE(versionAllowed("1.8.0_202", {}, max18, false));
    EXPECT_FALSE(versionAllowed("9", {}, max18, false));
    EXPECT_FALSE(versionAllowed("11", {}, max18, false));

    const VersionComponents min200 = parsed("1.8.0_200");
    EXPECT_TRUE(versionAllowed("1.8.0_202", min200, {}, false));
    EXPECT_FALSE(versionAllowed("1.8.0_191", min200, {}, false));
    EXPECT_FALSE(versionAllowed("1.8", min200, {}, false));

    const VersionComponents max11 = parsed("11");
    EXPECT_TRUE(versionAllowed("11.0.2", {}, max11, false));
    EXPECT_TRUE(versionAllowed("11", {}, max11, false));
    EXPECT_FALSE(versionAllowed("12", {}, max11, false));

    EXPECT_TRUE(versionAllowed("11.0.2", min18, max11, false));
    EXPECT_FALSE(versionAllowed("17.0.2", min18, max11, false));
    EXPECT_FALSE(versionAllowed("1.6.0_45", min18, max11, false));
    EXPECT_FALSE(versionAllowed("", min18, {}, false));
}

TEST_F(JavaVersionTest, BetaBuildsNeedTheFlagOrTheConfiguration) {
    for (const char* v : {"17-ea", "1.9.0-beta", "21-rc", "9-beta+5"}) {
        EXPECT_FALSE(versionAllowed(v, {}, {}, false)) << v;
        EXPECT_TRUE(versionAllowed(v, {}, {}, true)) << v;
    }
    // The search is case-sensitive and "-ea" needs its hyphen.
    EXPECT_TRUE(versionAllowed("17-EA", {}, {}, false));
    EXPECT_TRUE(versionAllowed("17_ea", {}, {}, false));
    // An allowed beta is still compared by its numbers: 17-ea is (17, 0).
    EXPECT_FALSE(versionAllowed("17-ea", parsed("17.0.1"), {}, true));
    EXPECT_TRUE(versionAllowed("17-ea", parsed("17.0"), {}, true));
    // The numbers alone would pass.
    EXPECT_FALSE(versionAllowed("1.9.0-beta", parsed("1.8"), parsed("1.9"), false));

    setConfigValueForTests(ids::kAllowBetaJava, "1");
    EXPECT_TRUE(versionAllowed("17-ea", {}, {}, false));
    EXPECT_TRUE(versionAllowed("1.9.0-beta", parsed("1.8"), parsed("1.9"), false));
    setConfigValueForTests(ids::kAllowBetaJava, "0");
    EXPECT_FALSE(versionAllowed("17-ea", {}, {}, false));
}

TEST_F(JavaVersionTest, KeysAcceptShorterVersionsAndSkipTheBetaTest) {
    const VersionComponents min200 = parsed("1.8.0_200");
    EXPECT_TRUE(versionKeyAllowed("1.8", min200, {}));
    EXPECT_TRUE(versionKeyAllowed("1.8.0_202", min200, {}));
    EXPECT_FALSE(versionKeyAllowed("1.8.0_191", min200, {}));
    EXPECT_FALSE(versionKeyAllowed("1.7", min200, {}));
    EXPECT_TRUE(versionKeyAllowed("", min200, parsed("11")));
    EXPECT_TRUE(versionKeyAllowed("17-ea", {}, {}));
    EXPECT_FALSE(versionKeyAllowed("12", {}, parsed("11.0.2")));
    EXPECT_TRUE(versionKeyAllowed("11", {}, parsed("11.0.2")));
}

TEST(IsNewerVersion, ComparesNumbersNotText) {
    EXPECT_TRUE(isNewerVersion("11.0.2", "1.8.0_202"));
    EXPECT_FALSE(isNewerVersion("1.8.0_202", "11.0.2"));
    EXPECT_TRUE(isNewerVersion("1.8.0_202", "1.8.0_45"));
    EXPECT_TRUE(isNewerVersion("10", "9.9.9"));
    EXPECT_TRUE(isNewerVersion("9", "1.8"));
}

TEST(IsNewerVersion, LongerIsNewerAndEqualIsNot) {
    EXPECT_TRUE(isNewerVersion("1.8.0", "1.8"));
    EXPECT_FALSE(isNewerVersion("1.8", "1.8.0"));
    EXPECT_TRUE(isNewerVersion("17-ea", "17"));
    EXPECT_FALSE(isNewerVersion("1.8", "1.8"));
    EXPECT_FALSE(isNewerVersion("1_8", "1.8"));
}

TEST(IsNewerVersion, EmptyTextIsNeverNewerButOlderThanAnything) {
    EXPECT_FALSE(isNewerVersion("", "1.8"));
    EXPECT_FALSE(isNewerVersion("", ""));
    EXPECT_FALSE(isNewerVersion("..", ""));
    EXPECT_TRUE(isNewerVersion("1.8", ""));
    EXPECT_TRUE(isNewerVersion("0", ""));
}

TEST_F(JavaVersionTest, LoadVersionBoundsReadsBothIdsAndSetsPreJava8Minimum) {
    setConfigValueForTests(ids::kMinJavaVersion, "1.6");
    setConfigValueForTests(ids::kMaxJavaVersion, "11.0.2");
    auto [min, max] = loadVersionBounds();
    EXPECT_EQ(min, (VersionComponents{1, 6}));
    EXPECT_EQ(max, (VersionComponents{11, 0, 2}));
    EXPECT_TRUE(preJava8Minimum);

    for (const char* minimum : {"1.8", "8", "1", "1.8.0_202", "2.1"}) {
        setConfigValueForTests(ids::kMinJavaVersion, minimum);
        loadVersionBounds();
        EXPECT_FALSE(preJava8Minimum) << minimum;
    }
    setConfigValueForTests(ids::kMinJavaVersion, "1.7.0_80");
    loadVersionBounds();
    EXPECT_TRUE(preJava8Minimum);
}

TEST_F(JavaVersionTest, LoadVersionBoundsWithoutConfigurationHasNoBounds) {
    preJava8Minimum = true;
    auto [min, max] = loadVersionBounds();
    EXPECT_TRUE(min.empty());
    EXPECT_TRUE(max.empty());
    EXPECT_FALSE(preJava8Minimum);
}

TEST_F(JavaVersionTest, LoadVersionBoundsTruncatesAtItsBuffer) {
    // The bound buffers hold 1999 bytes of text: a longer value loses its tail.
    std::string longMin = "1." + std::string(1997, '1') + ".5";
    setConfigValueForTests(ids::kMinJavaVersion, longMin);
    auto [min, max] = loadVersionBounds();
    ASSERT_EQ(min.size(), 2u);
    EXPECT_EQ(min[0], 1);
    EXPECT_EQ(min[1], 2147483647);
}

}  // namespace
}  // namespace vexlo
