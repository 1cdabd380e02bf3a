#include "extract/IncludedFiles.h"

namespace vexlo {

std::int32_t unextractedPosition = 0;

}  // namespace vexlo
