// Text conversion, temporary directories, files and launcher copies for the tests.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "TestSupport.h"

namespace vexlo::test {

std::wstring utf8ToWide(std::string_view text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string wideToUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

TempDir::TempDir(std::wstring_view hint) {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, base);
    std::wstring root = n ? std::wstring(base, n) : std::wstring(L"C:\\");
    if (root.back() != L'\\') root += L'\\';
    for (;;) {
        std::wstring candidate = root + L"vt" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                 std::to_wstring(counter++) + L"_" + std::wstring(hint);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create temporary directory " << wideToUtf8(candidate) << ": " << GetLastError();
            path_ = candidate;
            return;
        }
    }
}

TempDir::~TempDir() { removeTree(path_); }

std::wstring TempDir::file(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

std::wstring TempDir::subdir(std::wstring_view name) const {
    std::wstring p = file(name);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(p), ec);
    if (ec) ADD_FAILURE() << "cannot create " << wideToUtf8(p) << ": " << ec.message();
    return p;
}

bool removeTree(const std::wstring& path) {
    if (path.empty()) return true;
    std::error_code ec;
    // Read-only files would stop the removal.
    for (auto it = std::filesystem::recursive_directory_iterator(std::filesystem::path(path), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    ec.clear();
    std::filesystem::remove_all(std::filesystem::path(path), ec);
    return !ec;
}

bool writeFileBytes(const std::wstring& path, std::string_view bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

std::optional<std::string> readFileBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring binDir() {
    // The test programs live beside vexlo.exe.
    std::wstring module(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    module.resize(n);
    size_t slash = module.find_last_of(L"\\/");
    if (n != 0 && slash != std::wstring::npos) return module.substr(0, slash);
    // Fallback: Wine shows the Linux root as drive Z:.
    std::wstring dir = L"Z:" + utf8ToWide(VEXLO_BIN_DIR);
    for (auto& c : dir)
        if (c == L'/') c = L'\\';
    return dir;
}

std::wstring launcherPath() { return binDir() + L"\\vexlo.exe"; }

std::wstring makeLauncherWithBytes(const std::wstring& dir, const std::wstring& name,
                                   const std::vector<uint8_t>& bytes) {
    std::wstring target = dir + L"\\" + name;
    std::string error;
    if (!pack::appendBlockAt(std::filesystem::path(launcherPath()), std::filesystem::path(target), bytes, &error)) {
        ADD_FAILURE() << "cannot write launcher " << wideToUtf8(target) << ": " << error;
        return {};
    }
    return target;
}

std::wstring makeLauncher(const std::wstring& dir, const std::wstring& name, const pack::Block& block) {
    return makeLauncherWithBytes(dir, name, pack::serializeBlock(block));
}

std::vector<uint8_t> minimalPeImage() {
    std::vector<uint8_t> image(kMinimalImageBlockOffset, 0);
    auto put16 = [&](size_t at, uint16_t v) {
        image[at] = static_cast<uint8_t>(v);
        image[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) image[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    const size_t e = 0x40, optionalSize = 0xF0;
    image[0] = 'M', image[1] = 'Z';
    put32(0x3C, e);
    image[e] = 'P', image[e + 1] = 'E';
    put16(e + 4, 0x8664);  // x64
    put16(e + 6, 1);       // one section
    put16(e + 20, optionalSize);
    put16(e + 24, 0x20B);  // PE32+
    const size_t section = e + 24 + optionalSize;
    std::memcpy(&image[section], ".data", 5);
    put32(section + 8, 0x200);    // virtual size
    put32(section + 12, 0x1000);  // virtual address
    put32(section + 16, 0x200);   // raw size
    put32(section + 20, 0x200);   // raw offset: the section ends the image at 0x400
    return image;
}

std::wstring writeBlockFileBytes(const std::wstring& path, const std::vector<uint8_t>& blockBytes) {
    std::vector<uint8_t> image = minimalPeImage();
    image.insert(image.end(), blockBytes.begin(), blockBytes.end());
    if (!writeFileBytes(path, std::string_view(reinterpret_cast<const char*>(image.data()), image.size())))
        ADD_FAILURE() << "cannot write " << wideToUtf8(path);
    return path;
}

std::wstring writeBlockFile(const std::wstring& path, const pack::Block& block) {
    return writeBlockFileBytes(path, pack::serializeBlock(block));
}

}  // namespace vexlo::test

namespace vexlo::test {
namespace {

class LogInPrivateTemp : public ::testing::Environment {
public:
    explicit LogInPrivateTemp(std::wstring_view hint) : hint_(hint) {}
    void SetUp() override {
        // A child test program started with the log already on keeps the directory its parent chose.
        wchar_t value[8];
        if (GetEnvironmentVariableW(L"VEXLO_LOG", value, 8) == 3 && std::wstring_view(value) == L"yes") return;
        dir_ = std::make_unique<TempDir>(hint_);
        SetEnvironmentVariableW(L"TEMP", dir_->path().c_str());
        SetEnvironmentVariableW(L"TMP", dir_->path().c_str());
        SetEnvironmentVariableW(L"VEXLO_LOG", L"yes");
    }
    void TearDown() override { dir_.reset(); }

private:
    std::wstring hint_;
    std::unique_ptr<TempDir> dir_;
};

}  // namespace

void logIntoPrivateTemp(std::wstring_view hint) { ::testing::AddGlobalTestEnvironment(new LogInPrivateTemp(hint)); }

}  // namespace vexlo::test
