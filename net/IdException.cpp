#include "IdException.h"

namespace vantari {

EIdInvalidPortRange::EIdInvalidPortRange(int32_t min, int32_t max)
    : EIdSocketHandleError(Format("Invalid Port Range (%d - %d)", min, max)) {}

EIdCanNotBindPortInRange::EIdCanNotBindPortInRange(int32_t min, int32_t max)
    : EIdSocketHandleError(Format("Can not bind in port range (%d - %d)", min, max)) {}

} // namespace vantari
