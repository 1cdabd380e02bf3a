// Showing an error to the user (message box or console, with the log's path) and the fatal exit. Beside the
// launcher state and below the configuration, so that every layer that can fail, the block reader included,
// may end the launch through it.
#pragma once

#include <string>

namespace vexlo {

// How errors are shown: in a message box with this title, or as text on the console.
struct ErrorDisplay {
    bool messageBox = true;
    std::wstring title;
};

// The configuration, which lies above, answers the display through this hook once it is linked in; until
// then errors go to a message box without a title, as they do before any configuration is read.
void setErrorDisplaySource(ErrorDisplay (*source)());

void showErrorMessage(const std::wstring& text);
[[noreturn]] void fatalError(const std::wstring& text);

}  // namespace vexlo
