#include <gtest/gtest.h>

#include "config/ConfigBlock.h"
#include "config/MessageErrors.h"
#include "config/ConfigIds.h"

using vexlo::detail::composeMessage;

namespace {

class ComposeMessage : public ::testing::Test {
protected:
    void SetUp() override { vexlo::resetConfigForTests(); }
    void TearDown() override { vexlo::resetConfigForTests(); }
};

std::wstring compose(int id, const wchar_t* detailText) {
    std::wstring d = detailText ? detailText : L"";
    return composeMessage(id, detailText ? &d : nullptr);
}

}  // namespace

TEST_F(ComposeMessage, FirstPlaceholderTakesTheDetail) {
    vexlo::setMessageForTests(vexlo::ids::kMsgLaunchFailed, L"Launch failed ({0}), see {0}.");
    EXPECT_EQ(compose(1009, L"16"), L"Launch failed (16), see {0}.");
    vexlo::setMessageForTests(vexlo::ids::kMsgEnvJvmNotLoaded, L"{0}");
    EXPECT_EQ(compose(1018, L"JAVA_HOME"), L"JAVA_HOME");
    // The detail is not searched again.
    vexlo::setMessageForTests(vexlo::ids::kMsgDirectoryJvmNotLoaded, L"at {0} end");
    EXPECT_EQ(compose(1020, L"{0}{0}"), L"at {0}{0} end");
}

TEST_F(ComposeMessage, TextWithoutPlaceholderOrDetailIsUnchanged) {
    vexlo::setMessageForTests(vexlo::ids::kMsgMainClassNotFound, L"Main class not found.");
    EXPECT_EQ(compose(1010, L"16"), L"Main class not found.");
    vexlo::setMessageForTests(vexlo::ids::kMsgLaunchFailed, L"Code {0}");
    EXPECT_EQ(compose(1009, nullptr), L"Code {0}");
    // Only the exact three characters are a placeholder.
    vexlo::setMessageForTests(vexlo::ids::kMsgMainMethodNotFound, L"{1} { 0} {0");
    EXPECT_EQ(compose(1011, L"x"), L"{1} { 0} {0");
}

TEST_F(ComposeMessage, MissingMessageIsEmptyAndConfigValueStandsIn) {
    EXPECT_EQ(compose(1016, L"64"), L"");
    vexlo::setConfigValueForTests(vexlo::ids::kMsgNoJvmFound, "No Java \xE9 {0}");
    EXPECT_EQ(compose(1016, L"64"), L"No Java \u00e9 64");
}

TEST_F(ComposeMessage, EmptyDetailRemovesThePlaceholder) {
    vexlo::setMessageForTests(vexlo::ids::kMsgMandatoryPathMissing, L"[{0}]");
    EXPECT_EQ(compose(1006, L""), L"[]");
}
