// The configuration block appended to the executable: its two read passes and the read primitives. The tables
// they fill and the lookups by id are declared in ConfigTables.h, included here for the block's readers.
#pragma once

#include <windows.h>

#include <string>

#include "config/ConfigTables.h"

namespace vexlo {

// First pass: configuration table. Second pass: messages, language, override groups, included-files offset,
// error display mode. Both read the executable's own file and end the launcher on any read failure.
void readConfigFirstPass();
void readConfigSecondPass();

HANDLE openOwnExecutable();

// Reads a 64-bit value (an included file's length); ends the launcher with its own fatal text when the bytes
// are not there.
long long readLong(HANDLE file);

// Steps of the operations above, declared for their tests.
namespace detail {
// The same passes on any file, so that tests can read a block from a file of their own.
void readConfigFirstPassFrom(const std::wstring& path);
void readConfigSecondPassFrom(const std::wstring& path);
}  // namespace detail

}  // namespace vexlo
