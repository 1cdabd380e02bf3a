// The configuration and message tables filled from the block, the lookups by id, and the state of the second
// pass. Below the block reader; the error display below both reads its title and kind from here.
#pragma once

#include <windows.h>

#include <string>

namespace vexlo {

// Lookups; an absent id is never an error.
int getConfigString(int id, char* buffer, int capacity);
int getConfigInt(int id);
// Whether the block set the id at all (an empty value counts as set).
bool hasConfigValue(int id);
std::string copyConfigString(int id);
void appendConfigText(int id, std::string& target);
void appendConfigWide(int id, std::wstring& target);
int getConfigWide(int id, wchar_t* buffer, int capacity);
std::wstring getConfigWide(int id);
std::wstring getMessageText(int id);
// The message table's own text of the id, without falling back to the configuration table.
std::wstring getMessageTableText(int id);

// State filled by the second pass.
const std::string& selectedLanguage();
const std::string& selectedCountry();
DWORD includedFilesOffset();

// Written by the block reader only: a later entry of the same id replaces the earlier one.
void storeConfigValue(int id, std::string value);
void storeMessage(int id, std::wstring text);
void storeSecondPassState(std::string language, std::string country, DWORD filesOffset, bool messageBox);

// Tests only: empties both tables and resets the state of the second pass.
void resetConfigForTests();
// Tests only: sets a configuration value or a message as if it came from a block.
void setConfigValueForTests(int id, const std::string& value);
void setMessageForTests(int id, const std::wstring& text);

// Steps of the operations above, declared for their tests.
namespace detail {
// Whether the second pass chose the message box as the error display.
bool errorDisplayIsMessageBox();
}  // namespace detail

}  // namespace vexlo
