#include "common/ModuleFileName.h"

#include <windows.h>

#include <vector>

#include "common/Buffers.h"

namespace vexlo {

std::wstring moduleFileName() {
    std::vector<wchar_t> buffer(kPathCapacity);
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), kPathCapacity);
    if (!fitsBuffer(n)) return std::wstring();
    return std::wstring(buffer.data(), n);
}

}  // namespace vexlo
