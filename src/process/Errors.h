// Showing an error to the user (message box or console, with the log's path) and the fatal variants. Beside
// the launcher state, so that every layer that can fail may end the launch through it.
#pragma once

#include <string>

namespace vexlo {

void showErrorMessage(const std::wstring& text);
[[noreturn]] void fatalError(const std::wstring& text);

// Composes the configured message of the id: the first "{0}" is replaced by the detail text.
std::wstring composeMessage(int messageId, const std::wstring* detail);
void showMessageError(int messageId);
void showMessageError(int messageId, const std::wstring& detail);
void showMessageError(int messageId, const std::string& detail);  // 8-bit detail, widened byte by byte
[[noreturn]] void fatalMessageError(int messageId);
[[noreturn]] void fatalMessageError(int messageId, const std::wstring& detail);
[[noreturn]] void fatalMessageError(int messageId, const std::string& detail);

}  // namespace vexlo
