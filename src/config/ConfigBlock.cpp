#include "config/ConfigBlock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/Format.h"
#include "common/Handles.h"
#include "config/ConfigIds.h"
#include "config/Language.h"
#include "launcher/Errors.h"
#include "log/Log.h"
#include "paths/ExecutablePath.h"

namespace vexlo {
namespace {

constexpr int kMagic = static_cast<int>(0xE8E413D5u);

std::map<int, std::string> configTable;
std::map<int, std::wstring> messageTable;
std::string language;
std::string country;
DWORD filesOffset = 0;
bool messageBoxMode = true;
std::wstring sharedWide;

// Reads exactly `size` bytes; a short read is reported through `got`.
bool readExact(HANDLE file, void* buffer, DWORD size, DWORD* got) {
    DWORD total = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (total < size) {
        DWORD n = 0;
        if (!ReadFile(file, bytes + total, size - total, &n, nullptr) || n == 0) break;
        total += n;
    }
    if (got) *got = total;
    return total == size;
}

// Positions are 32-bit; one outside the file's first 2 GiB leaves the handle at the end, so the next read fails.
void seekTo(HANDLE file, long long position) {
    if (position < 0 || position > 0x7FFFFFFF) {
        SetFilePointer(file, 0, nullptr, FILE_END);
        return;
    }
    SetFilePointer(file, static_cast<LONG>(position), nullptr, FILE_BEGIN);
}

// A length field is trusted only as far as the file really holds bytes, so a damaged block cannot make
// us allocate or read more than the file's size.
bool lengthFits(HANDLE file, int length) {
    if (length < 0) return false;
    LARGE_INTEGER size, position, zero;
    zero.QuadPart = 0;
    if (!GetFileSizeEx(file, &size) || !SetFilePointerEx(file, zero, &position, FILE_CURRENT)) return false;
    return static_cast<long long>(length) <= size.QuadPart - position.QuadPart;
}

unique_file openForReading(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        logError(L"Could not open %p %d %s", h, static_cast<int>(GetLastError()), path.c_str());
        fatalError(L"Error opening media file.");
    }
    return unique_file(h);
}

void checkHeader(HANDLE file) {
    seekConfigBlock(file);
    if (readInt(file) != kMagic) fatalError(L"Internal Error: magic");
    readInt(file);
    readInt(file);
    readLong(file);
}

void firstPass(const std::wstring& path) {
    unique_file file = openForReading(path);
    checkHeader(file.get());
    int count = readInt(file.get());
    for (int i = 0; i < count; ++i) {
        int id = readInt(file.get());
        configTable[id] = readString(file.get());
    }
}

void secondPass(const std::wstring& path, const std::vector<std::wstring>* args) {
    unique_file file = openForReading(path);
    HANDLE h = file.get();
    checkHeader(h);
    int configCount = readInt(h);
    for (int i = 0; i < configCount; ++i) {
        readInt(h);
        skipBytes(h);
    }
    int messageCount = readInt(h);
    for (int i = 0; i < messageCount; ++i) {
        int id = readInt(h);
        messageTable[id] = readWString(h);
    }

    std::string locale = languageSelection(args);
    language.clear();
    country.clear();
    if (locale.size() >= 2) language = locale.substr(0, 2);
    if (locale.size() == 5) country = locale.substr(3, 2);

    int groupCount = readInt(h);
    for (int g = 0; g < groupCount; ++g) {
        std::string prefix = readString(h);
        bool matches = locale.compare(0, prefix.size(), prefix) == 0 && locale.size() >= prefix.size();
        int entries = readInt(h);
        for (int i = 0; i < entries; ++i) {
            int id = readInt(h);
            std::wstring text = readWString(h);
            if (matches) messageTable[id] = std::move(text);
        }
    }

    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    SetFilePointerEx(h, zero, &position, FILE_CURRENT);
    filesOffset = static_cast<DWORD>(position.QuadPart);
    file.reset();

    int type = getConfigInt(ids::kExecutableType);
    if (type != ids::kExeTypeGui && type != ids::kExeTypeMessageBox) messageBoxMode = false;
}

}  // namespace

HANDLE openOwnExecutable() { return openForReading(executablePathLong()).release(); }

void seekConfigBlock(HANDLE file) {
    seekTo(file, 60);
    long long e = readInt(file);
    seekTo(file, e + 6);
    long long sections = readShort(file);
    seekTo(file, e + 20);
    long long optionalHeader = readShort(file);
    long long entry = e + optionalHeader + 40 * sections;
    seekTo(file, entry);
    long long rawSize = readInt(file);
    seekTo(file, entry + 4);
    long long rawOffset = readInt(file);
    seekTo(file, rawOffset + rawSize);
}

int readInt(HANDLE file) {
    int value = 0;
    DWORD got = 0;
    if (!readExact(file, &value, 4, &got)) {
        logMessage(L"error %d %d\n", static_cast<int>(GetLastError()), static_cast<int>(got));
        fatalError(L"Internal Error: readInt");
    }
    return value;
}

long long readLong(HANDLE file) {
    long long value = 0;
    if (!readExact(file, &value, 8, nullptr)) {
        logMessage(L"error %d\n", static_cast<int>(GetLastError()));
        fatalError(L"Internal Error: readLong");
    }
    return value;
}

short readShort(HANDLE file) {
    short value = 0;
    if (!readExact(file, &value, 2, nullptr)) {
        logMessage(L"error %d\n", static_cast<int>(GetLastError()));
        fatalError(L"Internal Error: readShort");
    }
    return value;
}

std::string readString(HANDLE file) {
    int length = readInt(file);
    if (length == 0) return std::string();
    if (!lengthFits(file, length)) fatalError(L"Internal Error: readString");
    std::string value(static_cast<size_t>(length), '\0');
    if (!readExact(file, value.data(), static_cast<DWORD>(length), nullptr)) fatalError(L"Internal Error: readString");
    return value;
}

std::wstring readWString(HANDLE file) {
    int length = readInt(file);
    if (length == 0) return std::wstring();
    if (!lengthFits(file, length)) fatalError(L"Internal Error: readWString");
    std::wstring value(static_cast<size_t>(length) / 2, L'\0');
    std::string raw(static_cast<size_t>(length), '\0');
    if (!readExact(file, raw.data(), static_cast<DWORD>(length), nullptr)) fatalError(L"Internal Error: readWString");
    std::memcpy(value.data(), raw.data(), value.size() * 2);
    return value;
}

// A length that is negative or runs past the end leaves the position at the end, so the next read fails.
void skipBytes(HANDLE file) {
    int length = readInt(file);
    if (lengthFits(file, length)) {
        SetFilePointer(file, length, nullptr, FILE_CURRENT);
    } else {
        SetFilePointer(file, 0, nullptr, FILE_END);
    }
}

void readConfigFirstPass() { firstPass(executablePathLong()); }
void readConfigSecondPass(const std::vector<std::wstring>* args) { secondPass(executablePathLong(), args); }
void readConfigFirstPassFrom(const std::wstring& path) { firstPass(path); }
void readConfigSecondPassFrom(const std::wstring& path, const std::vector<std::wstring>* args) {
    secondPass(path, args);
}

int getConfigString(int id, char* buffer, int capacity) {
    if (capacity <= 0) return 0;
    buffer[0] = '\0';
    auto it = configTable.find(id);
    if (it == configTable.end()) return 0;
    const std::string& value = it->second;
    size_t copied = value.size();
    if (copied > static_cast<size_t>(capacity - 1)) {
        copied = static_cast<size_t>(capacity - 1);
        logError(L"config string %d truncated (%d %d)", id, capacity, static_cast<int>(value.size()));
    }
    std::memcpy(buffer, value.data(), copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied);
}

int getConfigInt(int id) {
    char buffer[6000];
    getConfigString(id, buffer, sizeof buffer);
    return std::atoi(buffer);
}

std::string copyConfigString(int id) {
    auto it = configTable.find(id);
    return it == configTable.end() ? std::string() : it->second;
}

void appendConfigText(int id, std::string& target) {
    auto it = configTable.find(id);
    if (it != configTable.end()) target += it->second;
}

void appendConfigWide(int id, std::wstring& target) {
    auto it = configTable.find(id);
    if (it != configTable.end()) target += widenBytes(it->second);
}

// A value that does not fit is cut to the capacity, like the 8-bit lookup, instead of overrunning.
int getConfigWide(int id, wchar_t* buffer, int capacity) {
    if (capacity <= 0) return 0;
    std::wstring value = getConfigWide(id);
    size_t length = std::min(value.size(), static_cast<size_t>(capacity - 1));
    if (length < value.size())
        logError(L"config string %d truncated (%d %d)", id, capacity, static_cast<int>(value.size()));
    std::memcpy(buffer, value.data(), length * sizeof(wchar_t));
    buffer[length] = L'\0';
    return static_cast<int>(length);
}

std::wstring getConfigWide(int id) {
    std::wstring value;
    appendConfigWide(id, value);
    return value;
}

std::wstring getMessageText(int id) {
    auto it = messageTable.find(id);
    std::wstring text = it != messageTable.end() ? it->second : std::wstring();
    if (text.empty()) appendConfigWide(id, text);
    // Message texts are shorter than 6000 code units.
    if (text.size() > 5999) text.resize(5999);
    return text;
}

std::wstring getMessageTableText(int id) {
    auto it = messageTable.find(id);
    return it != messageTable.end() ? it->second : std::wstring();
}

const wchar_t* widenShared(const char* text) {
    sharedWide = text ? widenBytes(text) : std::wstring();
    return sharedWide.c_str();
}

const std::string& selectedLanguage() { return language; }
const std::string& selectedCountry() { return country; }
DWORD includedFilesOffset() { return filesOffset; }
bool errorDisplayIsMessageBox() { return messageBoxMode; }

void resetConfigForTests() {
    configTable.clear();
    messageTable.clear();
    language.clear();
    country.clear();
    filesOffset = 0;
    messageBoxMode = true;
}

void setConfigValueForTests(int id, const std::string& value) { configTable[id] = value; }
void setMessageForTests(int id, const std::wstring& text) { messageTable[id] = text; }

}  // namespace vexlo
