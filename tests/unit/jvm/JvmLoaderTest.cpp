#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "common/Environment.h"
#include "common/ProcAddress.h"
#include "config/ConfigBlock.h"
#include "config/ConfigIds.h"
#include "jvm/JvmLoader.h"
#include "jvm/SelectedRuntime.h"
#include "paths/ExecutablePath.h"

namespace vexlo {
namespace {

using test::TempDir;

std::string processPath() { return environmentValue("PATH").value_or(std::string()); }

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string runtimeLibraryPath() {
    const char* value = std::getenv("PATH");
    return value ? value : "<unset>";
}

// A bin directory with stand-in libraries below it; loaded libraries are freed again so the files can go.
class JvmLoaderTest : public ::testing::Test {
protected:
    TempDir dir_{L"loader"};
    std::string savedPath_;

    void SetUp() override {
        resetConfigForTests();
        savedPath_ = processPath();
        setRuntimeBinDirectory("");
    }
    void TearDown() override {
        setPathEverywhere(savedPath_, nullptr);
        for (HMODULE library : loaded_) FreeLibrary(library);
        resetConfigForTests();
    }

    std::string bin() const { return test::wideToUtf8(dir_.path()) + "\\bin"; }
    void placeLibrary(const std::string& relative, const wchar_t* standin = L"standin_jvm.dll") {
        std::wstring target = dir_.path() + L"\\" + test::utf8ToWide(relative);
        dir_.subdir(test::utf8ToWide(relative.substr(0, relative.find_last_of('\\'))));
        ASSERT_TRUE(CopyFileW((test::binDir() + L"\\" + standin).c_str(), target.c_str(), FALSE));
    }
    HMODULE keep(HMODULE library) {
        if (library) loaded_.push_back(library);
        return library;
    }

private:
    std::vector<HMODULE> loaded_;
};

TEST(JavaExeDirectoryLength, DropsTheExecutableNameAndItsBackslash) {
    EXPECT_EQ(detail::javaExeDirectoryLength("c:\\rt\\bin\\java.exe"), 9u);
    EXPECT_EQ(detail::javaExeDirectoryLength("c:\\rt\\bin\\javaw.exe"), 9u);
    EXPECT_EQ(detail::javaExeDirectoryLength("\\java.exe"), 0u);
    // Too short to hold a name: no directory rather than a wrapped-around length.
    EXPECT_EQ(detail::javaExeDirectoryLength("java"), 0u);
    EXPECT_EQ(detail::javaExeDirectoryLength(""), 0u);
}

TEST(PublishSelectedRuntime, HomeIsTheBinDirectoryAndItsParentStep) {
    publishSelectedRuntime("c:\\rt\\bin\\javaw.exe", "17.0.2");
    EXPECT_EQ(selectedJavaHome(), "c:\\rt\\bin\\..");
    EXPECT_EQ(selectedJavaVersion(), "17.0.2");
    publishSelectedRuntime("c:\\jdk\\jre\\bin\\java.exe", "1.8.0_202");
    EXPECT_EQ(selectedJavaHome(), "c:\\jdk\\jre\\bin\\..");
    EXPECT_EQ(selectedJavaVersion(), "1.8.0_202");
}

TEST_F(JvmLoaderTest, LibraryLoadsFromItsSubdirectoryAndBecomesTheRuntimeBinDirectory) {
    placeLibrary("bin\\client\\jvm.dll");
    EXPECT_EQ(keep(detail::tryJvmLibrary(bin(), "server")), nullptr);
    EXPECT_EQ(runtimeBinDirectory(), "");
    EXPECT_NE(keep(detail::tryJvmLibrary(bin(), "client")), nullptr);
    EXPECT_EQ(runtimeBinDirectory(), bin());
}

TEST_F(JvmLoaderTest, CreateJavaVMIsResolvedOnlyWhereItIsExported) {
    placeLibrary("bin\\server\\jvm.dll");
    placeLibrary("other\\server\\jvm.dll", L"standin_jvm_noexport.dll");
    EXPECT_FALSE(resolveCreateJavaVM(nullptr));

    HMODULE without = keep(detail::tryJvmLibrary(test::wideToUtf8(dir_.path()) + "\\other", "server"));
    ASSERT_NE(without, nullptr);
    EXPECT_FALSE(resolveCreateJavaVM(without));

    HMODULE with = keep(detail::tryJvmLibrary(bin(), "server"));
    ASSERT_NE(with, nullptr);
    ASSERT_TRUE(resolveCreateJavaVM(with));
    EXPECT_EQ(createJavaVMEntry(), procAddress<CreateJavaVMFunction>(with, "JNI_CreateJavaVM"));
}

TEST_F(JvmLoaderTest, ConfiguredSubdirectoryGoesBeforeTheFixedList) {
    placeLibrary("bin\\server\\jvm.dll");
    placeLibrary("bin\\custom\\jvm.dll");
    setConfigValueForTests(ids::kJvmSubdirectory, "custom");
    HMODULE library = keep(detail::loadJvmFromBinDirectory(bin() + "\\java.exe"));
    ASSERT_NE(library, nullptr);
    char loadedFrom[MAX_PATH];
    GetModuleFileNameA(library, loadedFrom, MAX_PATH);
    EXPECT_EQ(lowerAscii(loadedFrom), lowerAscii(bin() + "\\custom\\jvm.dll"));
}

TEST_F(JvmLoaderTest, BinDirectoryStaysInFrontOfPathOnlyWhenALibraryLoaded) {
    const std::string before = processPath();
    EXPECT_EQ(keep(detail::loadJvmFromBinDirectory(bin() + "\\java.exe")), nullptr);
    EXPECT_EQ(processPath(), before);
    EXPECT_EQ(runtimeLibraryPath(), before);

    placeLibrary("bin\\j9vm\\jvm.dll");
    EXPECT_NE(keep(detail::loadJvmFromBinDirectory(bin() + "\\javaw.exe")), nullptr);
    EXPECT_EQ(processPath(), bin() + ";" + before);
    EXPECT_EQ(runtimeLibraryPath(), processPath());
}

TEST_F(JvmLoaderTest, RuntimeLibraryCopyOfAVeryLongPathIsSetInFull) {
    const std::string longPath = std::string(30000, 'p');
    setPathEverywhere(longPath, nullptr);
    placeLibrary("bin\\server\\jvm.dll");
    EXPECT_NE(keep(detail::loadJvmFromBinDirectory(bin() + "\\java.exe")), nullptr);
    EXPECT_EQ(processPath(), bin() + ";" + longPath);
    EXPECT_EQ(runtimeLibraryPath(), processPath());
}

TEST_F(JvmLoaderTest, JdkLayoutLoadsFromItsJreFolder) {
    placeLibrary("jre\\bin\\hotspot\\jvm.dll");
    const std::string before = processPath();
    EXPECT_NE(keep(loadJvmForJavaExe(bin() + "\\java.exe")), nullptr);
    const std::string jreBin = bin() + "\\..\\jre\\bin";
    EXPECT_EQ(runtimeBinDirectory(), jreBin);
    EXPECT_EQ(processPath(), jreBin + ";" + before);
}

TEST_F(JvmLoaderTest, ExecutableWithAnOverlongDirectoryIsSkipped) {
    const std::string before = processPath();
    std::string javaExe = "c:\\" + std::string(kBinDirectoryCapacity, 'd') + "\\java.exe";
    EXPECT_EQ(keep(detail::loadJvmFromBinDirectory(javaExe)), nullptr);
    EXPECT_EQ(processPath(), before);
}

TEST(JvmLoaderDllDirectories, AreRegisteredOnlyWhenConfigured) {
    resetConfigForTests();
    const std::string directory = exeDirAnsi();
    EXPECT_EQ(addConfiguredDllDirectory(directory), nullptr);
    setConfigValueForTests(ids::kAddDllDirectories, "1");
    DllDirectoryCookie cookie = addConfiguredDllDirectory(directory);
    EXPECT_NE(cookie, nullptr);
    EXPECT_TRUE(removeDllDirectory(cookie));
    EXPECT_FALSE(removeDllDirectory(nullptr));  // nothing registered: nothing to take back
    resetConfigForTests();
}

}  // namespace
}  // namespace vexlo
