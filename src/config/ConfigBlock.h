// The configuration block appended to the executable: its two read passes and the lookups by id.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace vexlo {

// First pass: configuration table. Second pass: messages, language, override groups, included-files offset,
// error display mode. Both read the executable's own file and end the launcher on any read failure.
void readConfigFirstPass();
void readConfigSecondPass(const std::vector<std::wstring>* args);

// The same passes on any file, so that tests can read a block from a file of their own.
void readConfigFirstPassFrom(const std::wstring& path);
void readConfigSecondPassFrom(const std::wstring& path, const std::vector<std::wstring>* args);

HANDLE openOwnExecutable();
void seekConfigBlock(HANDLE file);

// Read primitives: each ends the launcher with its own fatal text when the bytes are not there.
int readInt(HANDLE file);
long long readLong(HANDLE file);
short readShort(HANDLE file);
std::string readString(HANDLE file);
std::wstring readWString(HANDLE file);
void skipBytes(HANDLE file);

// Lookups; an absent id is never an error.
int getConfigString(int id, char* buffer, int capacity);
int getConfigInt(int id);
std::string copyConfigString(int id);
void appendConfigText(int id, std::string& target);
void appendConfigWide(int id, std::wstring& target);
int getConfigWide(int id, wchar_t* buffer, int capacity);
std::wstring getConfigWide(int id);
std::wstring getMessageText(int id);
// The message table's own text of the id, without falling back to the configuration table.
std::wstring getMessageTableText(int id);
const wchar_t* widenShared(const char* text);

// State filled by the second pass.
const std::string& selectedLanguage();
const std::string& selectedCountry();
DWORD includedFilesOffset();
bool errorDisplayIsMessageBox();

// Tests only: empties both tables and resets the state of the second pass.
void resetConfigForTests();
// Tests only: sets a configuration value or a message as if it came from a block.
void setConfigValueForTests(int id, const std::string& value);
void setMessageForTests(int id, const std::wstring& text);

}  // namespace vexlo
