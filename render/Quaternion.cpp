#include "render/Quaternion.h"

#include <cmath>
#include <numbers>

namespace vornax {

Quaternion::Quaternion() : w(1.0), z(0.0), y(0.0), x(1.0), matrix{}
{
    matrix[0] = matrix[5] = matrix[10] = matrix[15] = 1.0;
}

void Quaternion::CreateFromAxisAngle(double ax, double ay, double az, double degrees)
{
    const double half = degrees / 180.0 * std::numbers::pi / 2.0;
    const double s = std::sin(half);
    w = std::cos(half);
    x = ax * s;
    y = ay * s;
    z = az * s;
}

const double* Quaternion::getMatrix()
{
    // Column 0
    matrix[0] = 1.0 - 2.0 * (y * y + z * z);
    matrix[1] = 2.0 * (x * y + z * w);
    matrix[2] = 2.0 * (x * z - y * w);
    matrix[3] = 0.0;
    // Column 1
    matrix[4] = 2.0 * (x * y - z * w);
    matrix[5] = 1.0 - 2.0 * (x * x + z * z);
    matrix[6] = 2.0 * (z * y + x * w);
    matrix[7] = 0.0;
    // Column 2
    matrix[8] = 2.0 * (x * z + y * w);
    matrix[9] = 2.0 * (y * z - x * w);
    matrix[10] = 1.0 - 2.0 * (x * x + y * y);
    matrix[11] = 0.0;
    // Column 3
    matrix[12] = 0.0;
    matrix[13] = 0.0;
    matrix[14] = 0.0;
    matrix[15] = 1.0;
    return matrix;
}

} // namespace vornax
