#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "common/Handles.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "paths/ExecutablePath.h"
#include "paths/PathForms.h"
#include "paths/TempDirectories.h"

namespace vexlo {
namespace {

// Points TEMP and TMP of this process elsewhere and forgets the chosen temporary directory; undone at the end.
class ScopedTempEnvironment {
public:
    explicit ScopedTempEnvironment(const std::wstring& dir) {
        for (const wchar_t* name : {L"TEMP", L"TMP"}) {
            wchar_t buffer[32768];
            DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
            saved_.push_back(n ? std::optional<std::wstring>(std::wstring(buffer, n)) : std::nullopt);
            SetEnvironmentVariableW(name, dir.c_str());
        }
        resetTempDirectoryForTests();
    }
    ~ScopedTempEnvironment() {
        SetEnvironmentVariableW(L"TEMP", saved_[0] ? saved_[0]->c_str() : nullptr);
        SetEnvironmentVariableW(L"TMP", saved_[1] ? saved_[1]->c_str() : nullptr);
        resetTempDirectoryForTests();
        resetConfigForTests();
    }

private:
    std::vector<std::optional<std::wstring>> saved_;
};

std::wstring shortForm(const std::wstring& path) {
    wchar_t buffer[MAX_PATH * 4];
    DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH * 4);
    return n ? std::wstring(buffer, n) : std::wstring();
}

bool directoryIsEmpty(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") empty = false;
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return empty;
}

TEST(Bang, ExclamationBeforeBackslashOrAtTheEnd) {
    EXPECT_TRUE(detail::hasBang(std::string_view("C:\\users\\bob!\\Temp")));
    EXPECT_TRUE(detail::hasBang(std::string_view("C:\\users\\bob!")));
    EXPECT_TRUE(detail::hasBang(std::string_view("!")));
    EXPECT_FALSE(detail::hasBang(std::string_view("C:\\users\\b!ob\\Temp")));
    EXPECT_FALSE(detail::hasBang(std::string_view("C:\\users\\!bob")));
    EXPECT_FALSE(detail::hasBang(std::string_view("")));
    EXPECT_TRUE(detail::hasBang(std::wstring_view(L"C:\\\x042F!\\t")));
    EXPECT_FALSE(detail::hasBang(std::wstring_view(L"C:\\!\x042F")));
}

TEST(TempDirUsable, WriteProbeAndCreation) {
    test::TempDir root(L"usable");
    bool bang = true;
    std::string missing = wideToAnsi(root.file(L"missing"));
    EXPECT_FALSE(detail::tempDirUsableAnsi(missing, false, false, false, bang));
    EXPECT_FALSE(bang);
    std::string empty;
    EXPECT_FALSE(detail::tempDirUsableAnsi(empty, true, true, true, bang));

    std::string created = wideToAnsi(root.file(L"made"));
    EXPECT_TRUE(detail::tempDirUsableAnsi(created, true, true, false, bang));
    EXPECT_TRUE(pathExistsWide(root.file(L"made")));
    EXPECT_TRUE(directoryIsEmpty(root.file(L"made")));  // the probe directory is removed again

    std::string withSlash = created + "\\";
    EXPECT_TRUE(detail::tempDirUsableAnsi(withSlash, false, false, false, bang));

    EXPECT_FALSE(detail::tempDirUsableWide(root.file(L"missing2"), false, true, bang));
    EXPECT_TRUE(detail::tempDirUsableWide(root.file(L"made2"), true, true, bang));
    EXPECT_TRUE(directoryIsEmpty(root.file(L"made2")));
    EXPECT_FALSE(detail::tempDirUsableWide(L"", true, false, bang));
}

TEST(TempDirUsable, BangIsNeverUsable) {
    test::TempDir root(L"bang");
    std::wstring dir = root.subdir(L"user!");
    bool bang = false;
    std::string ansi = wideToAnsi(dir);
    EXPECT_FALSE(detail::tempDirUsableAnsi(ansi, false, false, false, bang));
    EXPECT_TRUE(bang);
    bang = false;
    EXPECT_FALSE(detail::tempDirUsableWide(dir + L"\\", false, false, bang));
    EXPECT_TRUE(bang);

    // A short form hides the bang; the long-form checks find it.
    std::wstring longBang = root.subdir(L"Long Directory Name!");
    std::wstring shortName = shortForm(longBang);
    if (shortName.empty() || detail::hasBang(std::wstring_view(shortName)))
        GTEST_SKIP() << "no bang-free short name here";
    std::string shortAnsi = wideToAnsi(shortName);
    bang = false;
    EXPECT_FALSE(detail::tempDirUsableAnsi(shortAnsi, false, false, true, bang));
    EXPECT_TRUE(bang);
    bang = false;
    EXPECT_FALSE(detail::tempDirUsableWide(shortName, false, true, bang));
    EXPECT_TRUE(bang);
    bang = false;
    EXPECT_TRUE(detail::tempDirUsableWide(shortName, false, false, bang));  // without the long-form check it passes
    EXPECT_FALSE(bang);
}

TEST(TempDirUsable, PreferLongReplacesACleanShortForm) {
    test::TempDir root(L"preferlong");
    std::wstring longDir = root.subdir(L"A Rather Long Directory Name");
    std::wstring shortName = shortForm(longDir);
    ASSERT_FALSE(shortName.empty());
    ASSERT_NE(shortName, longDir) << "no 8.3 names on this volume";
    std::string path = wideToAnsi(shortName);
    bool bang = true;
    EXPECT_TRUE(detail::tempDirUsableAnsi(path, false, true, true, bang));
    EXPECT_EQ(path, wideToAnsi(longDir));
    EXPECT_FALSE(bang);

    std::string kept = wideToAnsi(shortName);
    EXPECT_TRUE(detail::tempDirUsableAnsi(kept, false, true, false, bang));
    EXPECT_EQ(kept, wideToAnsi(shortName));
}

TEST(TempDirUsable, LongFormOutsideTheCodePage) {
    test::TempDir root(L"nonansi");
    std::wstring dir = root.subdir(L"\x0422\x0435\x043C\x043F");  // Темп
    std::wstring shortName = shortForm(dir);
    bool substituted = true;
    std::string shortAnsi = wideToAnsi(shortName, &substituted);
    if (shortName.empty() || substituted) GTEST_SKIP() << "no expressible short name for a Cyrillic directory";

    bool bang = true;
    std::string path = shortAnsi;
    EXPECT_FALSE(
        detail::tempDirUsableAnsi(path, false, true, false, bang));  // the first pass requires a clean long form
    EXPECT_FALSE(bang);
    path = shortAnsi;
    EXPECT_TRUE(detail::tempDirUsableAnsi(path, false, false, true, bang));  // the second pass takes the short form
    EXPECT_EQ(path, shortAnsi);
    EXPECT_TRUE(detail::tempDirUsableWide(dir, false, true, bang));  // the wide long form has no stand-ins
}

TEST(TempDirUsable, DecomposedCharactersFailTheWideTest) {
    test::TempDir root(L"fold");
    std::wstring decomposed = root.subdir(L"Cafe\x0301");
    std::wstring precomposed = root.subdir(L"Caf\x00E9x");
    bool bang = true;
    EXPECT_FALSE(detail::tempDirUsableWide(decomposed, false, false, bang));
    EXPECT_FALSE(bang);
    EXPECT_TRUE(detail::tempDirUsableWide(precomposed, false, true, bang));
}

TEST(FindTempDirectory, TakesTheTempVariable) {
    test::TempDir dir(L"chosen");
    ScopedTempEnvironment env(dir.path());
    std::wstring expected = dir.path() + L"\\";
    EXPECT_EQ(getTempDirectoryWide(true), expected);
    EXPECT_EQ(getTempDirectory(), wideToAnsi(expected));
}

TEST(FindTempDirectory, PassesOverABangDirectory) {
    test::TempDir root(L"bangtemp");
    std::wstring dir = root.subdir(L"user!");
    ScopedTempEnvironment env(dir);
    std::wstring chosen = getTempDirectoryWide(true);
    EXPECT_FALSE(chosen.empty());
    EXPECT_EQ(chosen.find(L"user!"), std::wstring::npos) << test::wideToUtf8(chosen);
}

TEST(FindTempDirectory, LocalApplicationDataFirstWhenConfigured) {
    test::TempDir dir(L"notchosen");
    ScopedTempEnvironment env(dir.path());
    setConfigValueForTests(ids::kTempInLocalAppData, "1");
    wchar_t folder[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder), S_OK);
    EXPECT_EQ(getTempDirectoryWide(true), std::wstring(folder) + L"\\quandrel\\t");
    EXPECT_TRUE(pathExistsWide(std::wstring(folder) + L"\\quandrel\\t"));
}

TEST(FindTempDirectory, PreferLongAppliesToTheAnsiFormOnly) {
    test::TempDir root(L"preferlong2");
    std::wstring longDir = root.subdir(L"Another Long Directory Name");
    std::wstring shortName = shortForm(longDir);
    ASSERT_NE(shortName, longDir);
    ScopedTempEnvironment env(shortName);
    setConfigValueForTests(ids::kPreferLongTempPath, "1");
    EXPECT_EQ(getTempDirectory(), wideToAnsi(longDir + L"\\"));
    EXPECT_EQ(getTempDirectoryWide(true), shortName + L"\\");
}

TEST(FindTempDirectory, ShortFormOfAnInexpressibleNameLosesToLaterCandidates) {
    test::TempDir root(L"cyrtemp");
    std::wstring dir = root.subdir(L"\x0422\x0435\x043C\x043F");
    std::wstring shortName = shortForm(dir);
    bool substituted = true;
    wideToAnsi(shortName, &substituted);
    if (shortName.empty() || substituted) GTEST_SKIP() << "no expressible short name for a Cyrillic directory";
    ScopedTempEnvironment env(shortName);
    std::wstring chosen = getTempDirectoryWide(true);
    EXPECT_FALSE(chosen.empty());
    EXPECT_EQ(chosen.rfind(shortName, 0), std::wstring::npos) << test::wideToUtf8(chosen);
}

TEST(CreateTempFileName, UniqueFileInTheTemporaryDirectory) {
    test::TempDir dir(L"tempfile");
    ScopedTempEnvironment env(dir.path());
    std::string first = detail::createTempFileName();
    std::string second = detail::createTempFileName();
    std::string prefix = wideToAnsi(dir.path()) + "\\vxl";
    EXPECT_EQ(first.rfind(prefix, 0), 0u) << first;
    EXPECT_NE(first, second);
    EXPECT_TRUE(pathExists(first));
    EXPECT_TRUE(pathExists(second));
}

TEST(LauncherTempDirectory, NamedAfterTheTempFileAndTheTime) {
    test::TempDir dir(L"launchertemp");
    ScopedTempEnvironment env(dir.path());
    long long before = static_cast<long long>(time(nullptr));
    createLauncherTempDirectory();
    long long after = static_cast<long long>(time(nullptr));
    std::string created = launcherTempDir;
    launcherTempDir.clear();

    size_t marker = created.rfind("_dir");
    ASSERT_NE(marker, std::string::npos) << created;
    std::string file = created.substr(0, marker);
    long long seconds = std::stoll(created.substr(marker + 4));
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_EQ(file.rfind(wideToAnsi(dir.path()) + "\\vxl", 0), 0u) << created;
    DWORD fileAttributes = GetFileAttributesA(file.c_str());
    DWORD dirAttributes = GetFileAttributesA(created.c_str());
    ASSERT_NE(fileAttributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_NE(dirAttributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(fileAttributes & FILE_ATTRIBUTE_DIRECTORY);  // the unique file stays beside the directory
    EXPECT_TRUE(dirAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(LauncherTempDirectory, DescriptorIsProtectedAndGrantsOnlyThreeTrustees) {
    local_ptr<void> descriptor = detail::buildLauncherTempDirDescriptor();
    ASSERT_TRUE(descriptor);

    local_ptr<char> sddl;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.get(), SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, sddl.put(), nullptr));
    EXPECT_STREQ(sddl.get(), "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)(A;OICI;FA;;;SY)");

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.get(), &present, &acl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(acl, nullptr);
    ASSERT_EQ(acl->AceCount, 3);
    const WELL_KNOWN_SID_TYPE expected[] = {WinBuiltinAdministratorsSid, WinCreatorOwnerRightsSid, WinLocalSystemSid};
    for (DWORD i = 0; i < 3; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(GetAce(acl, i, &raw));
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
        EXPECT_TRUE(IsWellKnownSid(&ace->SidStart, expected[i])) << i;
    }
}

// Reads the created directory's access list back. Wine keeps its own default list rather than the one given,
// so this checks what holds in both worlds: nobody but administrators, the owner, the system and the current
// user is granted anything.
TEST(LauncherTempDirectory, StoredAccessListGrantsNobodyElse) {
    test::TempDir dir(L"acl");
    ScopedTempEnvironment env(dir.path());
    createLauncherTempDirectory();
    std::string created = launcherTempDir;
    launcherTempDir.clear();

    PACL acl = nullptr;
    local_ptr<void> descriptor;
    ASSERT_EQ(GetNamedSecurityInfoA(created.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                    nullptr, descriptor.put()),
              static_cast<DWORD>(ERROR_SUCCESS));
    local_ptr<char> sddl;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.get(), SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, sddl.put(), nullptr));
    std::cout << "stored access list: " << sddl.get() << "\n";
    RecordProperty("storedSddl", sddl.get());

    unique_handle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    std::vector<char> userBuffer(256);
    DWORD needed = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, userBuffer.data(), 256, &needed));
    PSID user = reinterpret_cast<TOKEN_USER*>(userBuffer.data())->User.Sid;

    ASSERT_NE(acl, nullptr);
    EXPECT_GT(acl->AceCount, 0);
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(GetAce(acl, i, &raw));
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        PSID sid = &ace->SidStart;
        bool allowed = IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
                       IsWellKnownSid(sid, WinCreatorOwnerRightsSid) || IsWellKnownSid(sid, WinLocalSystemSid) ||
                       EqualSid(sid, user);
        EXPECT_TRUE(allowed) << "unexpected trustee in " << sddl.get();
    }
}

TEST(RemoveDirectoryContents, StopsTwoLevelsDown) {
    test::TempDir root(L"removal");
    std::wstring top = root.subdir(L"launcher");
    root.subdir(L"launcher\\A\\B");
    root.subdir(L"launcher\\C");
    root.subdir(L"launcher\\D\\E");
    for (const wchar_t* file :
         {L"launcher\\f0.txt", L"launcher\\A\\f1.txt", L"launcher\\A\\B\\f2.txt", L"launcher\\D\\f3.dll"}) {
        ASSERT_TRUE(test::writeFileBytes(root.file(file), "x"));
    }
    std::vector<std::string> filesLeft, dirsLeft;
    std::string dir = wideToAnsi(top);
    removeDirectoryContents(dir, &filesLeft, &dirsLeft, 1);

    EXPECT_FALSE(test::fileExists(root.file(L"launcher\\f0.txt")));
    EXPECT_FALSE(test::fileExists(root.file(L"launcher\\A\\f1.txt")));
    EXPECT_FALSE(test::fileExists(root.file(L"launcher\\D\\f3.dll")));
    EXPECT_TRUE(test::fileExists(root.file(L"launcher\\A\\B\\f2.txt")));
    EXPECT_FALSE(pathExistsWide(root.file(L"launcher\\C")));
    EXPECT_FALSE(pathExistsWide(root.file(L"launcher\\D")));  // its empty subdirectory went first
    EXPECT_TRUE(filesLeft.empty());
    std::sort(dirsLeft.begin(), dirsLeft.end());
    EXPECT_EQ(dirsLeft, (std::vector<std::string>{dir + "\\A", dir + "\\A\\B"}));

    // The directory itself stays for the caller to remove; it cannot go while B holds a file.
    EXPECT_TRUE(pathExistsWide(top));
    EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
}

TEST(RemoveDirectoryContents, DepthZeroTrailingBackslashAndNoLists) {
    test::TempDir root(L"removal0");
    std::wstring top = root.subdir(L"t");
    root.subdir(L"t\\sub");
    ASSERT_TRUE(test::writeFileBytes(root.file(L"t\\a.txt"), "x"));
    ASSERT_TRUE(test::writeFileBytes(root.file(L"t\\sub\\b.txt"), "x"));
    std::vector<std::string> dirsLeft;
    std::string dir = wideToAnsi(top) + "\\";
    removeDirectoryContents(dir, nullptr, &dirsLeft, 0);
    EXPECT_FALSE(test::fileExists(root.file(L"t\\a.txt")));
    EXPECT_TRUE(test::fileExists(root.file(L"t\\sub\\b.txt")));
    EXPECT_EQ(dirsLeft, std::vector<std::string>{dir + "sub"});

    removeDirectoryContents(dir, nullptr, nullptr, 1);
    EXPECT_TRUE(directoryIsEmpty(top));
}

TEST(RemoveDirectoryContents, RelativeOrEmptyPathIsNeverEmptied) {
    test::TempDir root(L"relative");
    root.subdir(L"inner");
    ASSERT_TRUE(test::writeFileBytes(root.file(L"keep.txt"), "x"));
    ASSERT_TRUE(test::writeFileBytes(root.file(L"inner\\keep2.txt"), "x"));
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(root.path().c_str()));
    std::vector<std::string> filesLeft, dirsLeft;
    removeDirectoryContents(".", &filesLeft, &dirsLeft, 1);
    removeDirectoryContents(".\\inner", &filesLeft, &dirsLeft, 1);
    removeDirectoryContents("..\\" + wideToAnsi(root.path().substr(root.path().rfind(L'\\') + 1)), &filesLeft,
                            &dirsLeft, 1);
    removeDirectoryContents("", &filesLeft, &dirsLeft, 1);
    SetCurrentDirectoryW(saved);
    EXPECT_TRUE(test::fileExists(root.file(L"keep.txt")));
    EXPECT_TRUE(test::fileExists(root.file(L"inner\\keep2.txt")));
    EXPECT_TRUE(filesLeft.empty());
    EXPECT_TRUE(dirsLeft.empty());
}

}  // namespace
}  // namespace vexlo
