#include "instance/SingleInstance.h"

namespace vexlo {

std::string instanceSemaphoreName;

}  // namespace vexlo
