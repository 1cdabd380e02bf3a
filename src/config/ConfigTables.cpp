#include "config/ConfigTables.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "common/Buffers.h"
#include "common/Format.h"
#include "config/ConfigIds.h"
#include "log/Log.h"
#include "process/Errors.h"

namespace vexlo {
namespace {

std::map<int, std::string> configTable;
std::map<int, std::wstring> messageTable;
std::string language;
std::string country;
DWORD filesOffset = 0;
bool messageBoxMode = true;
ErrorDisplay configuredErrorDisplay() { return {messageBoxMode, getMessageText(ids::kMsgErrorTitle)}; }

// The error display lies below the configuration; whatever links the tables shows errors as they say.
[[maybe_unused]] const bool errorDisplayConfigured = (setErrorDisplaySource(&configuredErrorDisplay), true);

}  // namespace

void storeConfigValue(int id, std::string value) { configTable[id] = std::move(value); }
void storeMessage(int id, std::wstring text) { messageTable[id] = std::move(text); }

void storeSecondPassState(std::string selectedLanguageCode, std::string selectedCountryCode, DWORD offset,
                          bool messageBox) {
    language = std::move(selectedLanguageCode);
    country = std::move(selectedCountryCode);
    filesOffset = offset;
    messageBoxMode = messageBox;
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
    char buffer[kPathCapacity];
    getConfigString(id, buffer, sizeof buffer);
    return std::atoi(buffer);
}

bool hasConfigValue(int id) { return configTable.find(id) != configTable.end(); }

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
    // Message texts are shorter than the buffer.
    if (text.size() >= kPathCapacity) text.resize(kPathCapacity - 1);
    return text;
}

std::wstring getMessageTableText(int id) {
    auto it = messageTable.find(id);
    return it != messageTable.end() ? it->second : std::wstring();
}

const std::string& selectedLanguage() { return language; }
const std::string& selectedCountry() { return country; }
DWORD includedFilesOffset() { return filesOffset; }
bool detail::errorDisplayIsMessageBox() { return messageBoxMode; }

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
