// The process's library search: PATH reduction and the application's native library directories.
#pragma once

namespace vexlo {

// Reduces PATH to its entries below the Windows directory when the configuration asks for it.
void reducePath();

}  // namespace vexlo
