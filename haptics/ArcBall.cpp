#include "haptics/ArcBall.h"

#include <cmath>
#include <numbers>

namespace vornax {

Matrix3f identity3() { return {1, 0, 0, 0, 1, 0, 0, 0, 1}; }
Matrix4f identity4() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Matrix3f rotationFromQuat(const Quat4f& q)
{
    const float n = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
    const float s = n > 0.0f ? 2.0f / n : 0.0f;
    const float xs = q.x * s, ys = q.y * s, zs = q.z * s;
    const float wx = q.w * xs, wy = q.w * ys, wz = q.w * zs;
    const float xx = q.x * xs, xy = q.x * ys, xz = q.x * zs;
    const float yy = q.y * ys, yz = q.y * zs, zz = q.z * zs;
    Matrix3f m{};
    auto at = [&m](int r, int c) -> float& { return m[static_cast<std::size_t>(c * 3 + r)]; };
    at(0, 0) = 1.0f - (yy + zz);
    at(0, 1) = xy - wz;
    at(0, 2) = xz + wy;
    at(1, 0) = xy + wz;
    at(1, 1) = 1.0f - (xx + zz);
    at(1, 2) = yz - wx;
    at(2, 0) = xz - wy;
    at(2, 1) = yz + wx;
    at(2, 2) = 1.0f - (xx + yy);
    return m;
}

Matrix3f multiply3(const Matrix3f& a, const Matrix3f& b)
{
    Matrix3f m{};
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) {
            float sum = 0.0f;
            for (int k = 0; k < 3; ++k)
                sum += a[static_cast<std::size_t>(k * 3 + r)] * b[static_cast<std::size_t>(c * 3 + k)];
            m[static_cast<std::size_t>(c * 3 + r)] = sum;
        }
    return m;
}

Matrix4f multiply4(const Matrix4f& a, const Matrix4f& b)
{
    Matrix4f m{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a[static_cast<std::size_t>(k * 4 + r)] * b[static_cast<std::size_t>(c * 4 + k)];
            m[static_cast<std::size_t>(c * 4 + r)] = sum;
        }
    return m;
}

void setRotation(Matrix4f& m, const Matrix3f& rotation)
{
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            m[static_cast<std::size_t>(c * 4 + r)] = rotation[static_cast<std::size_t>(c * 3 + r)];
}

// ---- Quaternion -------------------------------------------------------------------------------

Quaternion::Quaternion() : w(1.0), z(0.0), y(0.0), x(1.0)
{
    for (int i = 0; i < 16; ++i) matrix[i] = (i % 5 == 0) ? 1.0 : 0.0;
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
    // Column-major: matrix[c * 4 + r].
    matrix[0] = 1.0 - 2.0 * (y * y + z * z);
    matrix[1] = 2.0 * (x * y + z * w);
    matrix[2] = 2.0 * (x * z - y * w);
    matrix[3] = 0.0;
    matrix[4] = 2.0 * (x * y - z * w);
    matrix[5] = 1.0 - 2.0 * (x * x + z * z);
    matrix[6] = 2.0 * (z * y + x * w);
    matrix[7] = 0.0;
    matrix[8] = 2.0 * (x * z + y * w);
    matrix[9] = 2.0 * (y * z - x * w);
    matrix[10] = 1.0 - 2.0 * (x * x + y * y);
    matrix[11] = 0.0;
    matrix[12] = matrix[13] = matrix[14] = 0.0;
    matrix[15] = 1.0;
    return matrix;
}

// ---- ArcBall_t --------------------------------------------------------------------------------

ArcBall_t::ArcBall_t(float width, float height) { setBounds(width, height); }

void ArcBall_t::setBounds(float width, float height)
{
    // A window one pixel wide (or less) has no extent to map: keep a finite scale.
    adjustWidth = width > 1.0f ? 1.0f / ((width - 1.0f) * 0.5f) : 1.0f;
    adjustHeight = height > 1.0f ? 1.0f / ((height - 1.0f) * 0.5f) : 1.0f;
}

void ArcBall_t::mapToSphere(float px, float py, float out[3]) const
{
    const float x = px * adjustWidth - 1.0f;
    const float y = 1.0f - py * adjustHeight;
    const float length = x * x + y * y;
    if (length > 1.0f) {
        const float norm = 1.0f / std::sqrt(length);
        out[0] = x * norm;
        out[1] = y * norm;
        out[2] = 0.0f;
    } else {
        out[0] = x;
        out[1] = y;
        out[2] = std::sqrt(1.0f - length);
    }
}

void ArcBall_t::click(float x, float y) { mapToSphere(x, y, clickVector); }

Quat4f ArcBall_t::drag(float x, float y)
{
    mapToSphere(x, y, dragVector);
    const float* c = clickVector;
    const float* d = dragVector;
    const float perp[3] = {c[1] * d[2] - c[2] * d[1], c[2] * d[0] - c[0] * d[2], c[0] * d[1] - c[1] * d[0]};
    Quat4f q;
    if (std::sqrt(perp[0] * perp[0] + perp[1] * perp[1] + perp[2] * perp[2]) > 1e-5f) {
        q.x = perp[0];
        q.y = perp[1];
        q.z = perp[2];
        q.w = c[0] * d[0] + c[1] * d[1] + c[2] * d[2];
    }
    return q;
}

} // namespace vornax
