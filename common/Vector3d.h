// Three-component single-precision vector used for positions, forces and colours.
#pragma once

#include <cmath>
#include <ostream>

namespace vornax {

/// A 3-vector of floats. Positions are in model units (0.1 Å) unless stated otherwise;
/// colours are RGB in 0..1.
struct Vector3d {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Vector3d() = default;
    constexpr Vector3d(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    constexpr Vector3d operator+(const Vector3d& o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr Vector3d operator-(const Vector3d& o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr Vector3d operator-() const { return {-x, -y, -z}; }
    constexpr Vector3d operator*(float s) const { return {x * s, y * s, z * s}; }
    constexpr Vector3d operator/(float s) const { return {x / s, y / s, z / s}; }
    /// Cross product.
    constexpr Vector3d operator*(const Vector3d& o) const
    {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    constexpr Vector3d& operator+=(const Vector3d& o)
    {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    constexpr Vector3d& operator-=(const Vector3d& o)
    {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    constexpr Vector3d& operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    constexpr Vector3d& operator/=(float s)
    {
        x /= s;
        y /= s;
        z /= s;
        return *this;
    }

    /// Component by index: 0 x, 1 y, anything else z.
    constexpr float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
    constexpr float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

    constexpr bool operator==(const Vector3d& o) const { return x == o.x && y == o.y && z == o.z; }
    /// Every component is a finite number.
    bool isFinite() const { return std::isfinite(x) && std::isfinite(y) && std::isfinite(z); }
    constexpr bool operator!=(const Vector3d& o) const { return !(*this == o); }

    constexpr float dotProduct(const Vector3d& o) const { return x * o.x + y * o.y + z * o.z; }
    float size() const { return std::sqrt(sizeSqr()); }
    constexpr float sizeSqr() const { return x * x + y * y + z * z; }

    /// Scales to unit length; a zero vector is left unchanged.
    Vector3d& normalize()
    {
        const float len = size();
        if (len > 0.0f) {
            x /= len;
            y /= len;
            z /= len;
        }
        return *this;
    }
    /// Unit vector in the same direction (zero stays zero).
    Vector3d normalized() const
    {
        Vector3d v = *this;
        v.normalize();
        return v;
    }

    float euclideanDistance(const Vector3d& o) const { return (*this - o).size(); }
    constexpr float squaredEuclideanDistance(const Vector3d& o) const { return (*this - o).sizeSqr(); }

    /// True when every component differs by at most `threshold`.
    bool isEqual(const Vector3d& o, float threshold) const
    {
        return std::fabs(x - o.x) <= threshold && std::fabs(y - o.y) <= threshold && std::fabs(z - o.z) <= threshold;
    }
    /// Exact component-wise equality.
    constexpr bool testEquality(const Vector3d& o) const { return *this == o; }

    /// Scales the vector down to length `maxLength` when it is longer; shorter vectors are kept.
    Vector3d& limitVector(float maxLength)
    {
        const float len = size();
        if (len > maxLength && len > 0.0f) {
            *this *= maxLength / len;
        }
        return *this;
    }

    /// Angle in radians (0..π) between this vector and `o`; 0 when either is a zero vector.
    float angleBetweenVectors(const Vector3d& o) const
    {
        const float denom = size() * o.size();
        if (denom <= 0.0f) return 0.0f;
        float c = dotProduct(o) / denom;
        c = c > 1.0f ? 1.0f : (c < -1.0f ? -1.0f : c);
        return std::acos(c);
    }
};

constexpr Vector3d operator*(float s, const Vector3d& v) { return v * s; }

inline std::ostream& operator<<(std::ostream& os, const Vector3d& v)
{
    return os << '(' << v.x << ", " << v.y << ", " << v.z << ')';
}

} // namespace vornax
