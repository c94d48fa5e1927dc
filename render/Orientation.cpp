#include "render/Orientation.h"

#include "common/AxisAngle.h"

namespace vornax {

Quaternion orientationTowards(const Vector3d& direction)
{
    const AxisAngle turn = turnFromXAxis(direction);
    Quaternion q;
    q.CreateFromAxisAngle(turn.x, turn.y, turn.z, turn.degrees);
    return q;
}

} // namespace vornax
