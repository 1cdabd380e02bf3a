#include "config/ConfigBlock.h"

#include <cstring>

#include "common/Handles.h"
#include "common/ModuleFileName.h"
#include "config/BlockFormat.h"
#include "config/ConfigIds.h"
#include "config/Language.h"
#include "log/Log.h"
#include "process/Errors.h"

namespace vexlo {

namespace {
void seekConfigBlock(HANDLE file);

void skipBytes(HANDLE file);
int readInt(HANDLE file);
short readShort(HANDLE file);
std::string readString(HANDLE file);
std::wstring readWString(HANDLE file);
}  // namespace
namespace {

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
    if (readInt(file) != static_cast<int>(blockformat::kMagic)) fatalError(L"Internal Error: magic");
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
        storeConfigValue(id, readString(file.get()));
    }
}

void secondPass(const std::wstring& path) {
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
        storeMessage(id, readWString(h));
    }

    std::string locale = languageSelection();

    int groupCount = readInt(h);
    for (int g = 0; g < groupCount; ++g) {
        std::string prefix = readString(h);
        bool matches = locale.compare(0, prefix.size(), prefix) == 0 && locale.size() >= prefix.size();
        int entries = readInt(h);
        for (int i = 0; i < entries; ++i) {
            int id = readInt(h);
            std::wstring text = readWString(h);
            if (matches) storeMessage(id, std::move(text));
        }
    }

    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    SetFilePointerEx(h, zero, &position, FILE_CURRENT);
    file.reset();

    int type = getConfigInt(ids::kExecutableType);
    storeSecondPassState(locale.size() >= 2 ? locale.substr(0, 2) : std::string(),
                         locale.size() == 5 ? locale.substr(3, 2) : std::string(),
                         static_cast<DWORD>(position.QuadPart),
                         type == ids::kExeTypeGui || type == ids::kExeTypeMessageBox);
}

}  // namespace

// The module name names the same file as the executable's long path form, which the paths compute later.
HANDLE openOwnExecutable() { return openForReading(moduleFileName()).release(); }

namespace {

void seekConfigBlock(HANDLE file) {
    seekTo(file, blockformat::blockOffset([file](long long position, int size) -> long long {
               seekTo(file, position);
               return size == 2 ? readShort(file) : readInt(file);
           }));
}

}  // namespace

namespace {

int readInt(HANDLE file) {
    int value = 0;
    DWORD got = 0;
    if (!readExact(file, &value, 4, &got)) {
        logMessage(L"error %d %d\n", static_cast<int>(GetLastError()), static_cast<int>(got));
        fatalError(L"Internal Error: readInt");
    }
    return value;
}

}  // namespace

long long readLong(HANDLE file) {
    long long value = 0;
    if (!readExact(file, &value, 8, nullptr)) {
        logMessage(L"error %d\n", static_cast<int>(GetLastError()));
        fatalError(L"Internal Error: readLong");
    }
    return value;
}

namespace {

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

}  // namespace

void readConfigFirstPass() { firstPass(moduleFileName()); }
void readConfigSecondPass() { secondPass(moduleFileName()); }
void detail::readConfigFirstPassFrom(const std::wstring& path) { firstPass(path); }
void detail::readConfigSecondPassFrom(const std::wstring& path) { secondPass(path); }

}  // namespace vexlo
