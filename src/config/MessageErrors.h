// Errors told in the configured messages: the message of an id, with its detail in place of "{0}".
#pragma once

#include <string>

namespace vexlo {

void showMessageError(int messageId);
void showMessageError(int messageId, const std::wstring& detail);
void showMessageError(int messageId, const std::string& detail);  // 8-bit detail, widened byte by byte
[[noreturn]] void fatalMessageError(int messageId);
[[noreturn]] void fatalMessageError(int messageId, const std::wstring& detail);
[[noreturn]] void fatalMessageError(int messageId, const std::string& detail);

// Steps of the operations above, declared for their tests.
namespace detail {
// Composes the configured message of the id: the first "{0}" is replaced by the detail text.
std::wstring composeMessage(int messageId, const std::wstring* detail);
}  // namespace detail

}  // namespace vexlo
