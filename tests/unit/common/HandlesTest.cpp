#include <gtest/gtest.h>
#include <windows.h>

#include "common/Handles.h"

namespace vexlo {
namespace {

// On 64-bit the roots are sign-extended (HKEY_LOCAL_MACHINE is 0xFFFFFFFF80000002); an owner that took
// them for ordinary keys would close the process's root handles.
TEST(RegistryKeyOwner, NeverClosesAPredefinedRootButOwnsAnOpenedKey) {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG}) {
        unique_hkey owner(root);
        EXPECT_FALSE(owner.valid()) << std::hex << reinterpret_cast<ULONG_PTR>(root);
        (void)owner.release();
    }
    unique_hkey opened;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, opened.put()), ERROR_SUCCESS);
    EXPECT_TRUE(opened.valid());
}

// A close that fails (here: a handle closed behind the owner's back) must not replace the caller's error.
TEST(HandleOwner, ResetKeepsTheCallersLastError) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    CloseHandle(event);
    unique_handle owner(event);
    SetLastError(ERROR_FILE_NOT_FOUND);
    owner.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace vexlo
