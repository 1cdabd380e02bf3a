#include "config/MessageErrors.h"

#include "common/Buffers.h"
#include "common/Format.h"
#include "config/ConfigTables.h"
#include "process/Errors.h"
#include "process/LauncherState.h"

namespace vexlo {
namespace {

constexpr size_t kMessageLimit = kPathCapacity - 1;

}  // namespace

std::wstring detail::composeMessage(int messageId, const std::wstring* detailText) {
    std::wstring text = getMessageText(messageId);
    if (detailText) {
        size_t at = text.find(L"{0}");
        if (at != std::wstring::npos) text.replace(at, 3, *detailText);
    }
    if (text.size() > kMessageLimit) text.resize(kMessageLimit);
    return text;
}

void showMessageError(int messageId) { showErrorMessage(detail::composeMessage(messageId, nullptr)); }

void showMessageError(int messageId, const std::wstring& detailText) {
    showErrorMessage(detail::composeMessage(messageId, &detailText));
}

void showMessageError(int messageId, const std::string& detailText) {
    std::wstring wide = widenBytes(detailText);
    if (wide.size() > kPathCapacity) wide.resize(kPathCapacity);
    showErrorMessage(detail::composeMessage(messageId, &wide));
}

void fatalMessageError(int messageId) {
    showMessageError(messageId);
    exitLauncher(1);
}

void fatalMessageError(int messageId, const std::wstring& detail) {
    showMessageError(messageId, detail);
    exitLauncher(1);
}

void fatalMessageError(int messageId, const std::string& detail) {
    showMessageError(messageId, detail);
    exitLauncher(1);
}

}  // namespace vexlo
