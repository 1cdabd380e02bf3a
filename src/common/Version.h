// The launcher's own version, written where an administrator reads what ran (the service log).
#pragma once

namespace vexlo {

inline constexpr wchar_t kVexloVersion[] = L"0.9.0";

}  // namespace vexlo
