// The semaphore name's scopes, the registry's process id and numbered mode, run in this test program (whose
// path stands in for the launcher's); a second instance ends its process and is covered end to end.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "TestSupport.h"
#include "common/Handles.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "instance/SingleInstance.h"
#include "paths/ExecutablePath.h"

namespace vexlo {
namespace {

// This program's long path in lower case, derived here from the module name.
std::string lowerPath() {
    wchar_t module[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
    wchar_t full[MAX_PATH];
    DWORD m = GetLongPathNameW(std::wstring(module, n).c_str(), full, MAX_PATH);
    std::string path = test::wideToUtf8(std::wstring(full, m));
    for (char& c : path)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return path;
}

std::string expectedPathPart() {
    std::string path = lowerPath();
    for (char& c : path)
        if (c == '\\' || c == ' ') c = '_';
    return path;
}

// The user's SID found through the account name rather than the token.
std::string accountSid() {
    wchar_t user[256];
    DWORD userSize = 256;
    if (!GetUserNameW(user, &userSize)) return {};
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    wchar_t domain[256];
    DWORD domainSize = 256;
    SID_NAME_USE use;
    if (!LookupAccountNameW(nullptr, user, sid, &sidSize, domain, &domainSize, &use)) return {};
    local_ptr<char> text;
    return ConvertSidToStringSidA(sid, text.put()) ? std::string(text.get()) : std::string();
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { resetConfigForTests(); }
    void TearDown() override {
        resetConfigForTests();
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstancePidsKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, valueName.c_str());
            RegCloseKey(key);
        }
    }
    std::string base() {
        bool everyone = false;
        return detail::instanceSemaphoreBase(everyone);
    }
    void setValue(DWORD type, const void* data, DWORD size) {
        unique_hkey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kInstancePidsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.get(), valueName.c_str(), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    std::string valueName = lowerPath();
};

TEST_F(SingleInstanceTest, ScopeGivesPrefixAndSecurity) {
    struct Case {
        const char* global;
        const char* session;
        std::string prefix;
        bool everyone;
    };
    const std::string sid = accountSid();
    for (const Case& c : {Case{"1", "", "Global\\", true}, Case{"1", "1", "Global\\", true},
                          Case{"", "1", "Local\\", false}, Case{"0", "0", "Global\\" + sid, true}}) {
        resetConfigForTests();
        setConfigValueForTests(ids::kInstanceGlobalPrefix, c.global);
        setConfigValueForTests(ids::kInstanceSessionPrefix, c.session);
        bool everyone = !c.everyone;
        EXPECT_EQ(detail::instanceSemaphoreBase(everyone), c.prefix + expectedPathPart()) << c.global << c.session;
        EXPECT_EQ(everyone, c.everyone) << c.global << c.session;
    }
    EXPECT_EQ(sid.rfind("S-1-5-", 0), 0u) << sid;
}

TEST_F(SingleInstanceTest, ProcessIdIsReadOnlyFromAFourByteValue) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstancePidsKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, valueName.c_str());
        RegCloseKey(key);
    }
    EXPECT_EQ(detail::lookupInstancePid(), 0u);
    detail::registerInstancePid();
    EXPECT_EQ(detail::lookupInstancePid(), GetCurrentProcessId());
    const unsigned long long wide = 4242;
    setValue(REG_QWORD, &wide, sizeof wide);
    EXPECT_EQ(detail::lookupInstancePid(), 0u);
    const DWORD narrow = 4243;
    setValue(REG_DWORD, &narrow, sizeof narrow);
    EXPECT_EQ(detail::lookupInstancePid(), 4243u);
}

TEST_F(SingleInstanceTest, NumberedModeTakesTheFirstFreeNumber) {
    setConfigValueForTests(ids::kInstanceSessionPrefix, "1");
    const std::string name = base();
    unique_handle zero(CreateSemaphoreA(nullptr, 1, 1, (name + "0").c_str()));
    unique_handle one(CreateSemaphoreA(nullptr, 1, 1, (name + "1").c_str()));
    unique_handle three(CreateSemaphoreA(nullptr, 1, 1, (name + "3").c_str()));
    checkSingleInstance();
    EXPECT_EQ(instanceSemaphoreName, name + "2");
    // The name is held until the process ends.
    SetLastError(0);
    unique_handle probe(CreateSemaphoreA(nullptr, 1, 1, (name + "2").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

}  // namespace
}  // namespace vexlo
