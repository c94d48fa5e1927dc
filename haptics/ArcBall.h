// Rotation helpers shared by the device object and the view: the arc-ball that turns a drag in
// window pixels into a rotation, the axis-angle quaternion, and small column-major matrices.
//
// Matrices are column-major float arrays as OpenGL takes them: element (row r, column c) of a
// 3 × 3 matrix is m[c * 3 + r], of a 4 × 4 matrix m[c * 4 + r].
#pragma once

#include <array>

namespace vornax {

using Matrix3f = std::array<float, 9>;
using Matrix4f = std::array<float, 16>;

/// Quaternion of an arc-ball drag: (x, y, z) the vector part, w the scalar part.
struct Quat4f {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
};

Matrix3f identity3();
Matrix4f identity4();

/// Rotation matrix of `q`; a zero quaternion gives the identity.
Matrix3f rotationFromQuat(const Quat4f& q);
/// a · b.
Matrix3f multiply3(const Matrix3f& a, const Matrix3f& b);
/// a · b.
Matrix4f multiply4(const Matrix4f& a, const Matrix4f& b);
/// Writes `rotation` into the upper-left 3 × 3 block of `m`, leaving the rest.
void setRotation(Matrix4f& m, const Matrix3f& rotation);

/// Axis-angle rotation (the force arrows and backbone orientation use it).
class Quaternion {
public:
    Quaternion();
    /// w = cos(half), (x, y, z) = sin(half) · axis with half = degrees / 180 · π / 2.
    /// The axis is used as given, not normalised.
    void CreateFromAxisAngle(double x, double y, double z, double degrees);
    /// The rotation matrix of (w, x, y, z), column-major, row and column 3 zero but element 15.
    const double* getMatrix();

    double getW() const { return w; }
    double getX() const { return x; }
    double getY() const { return y; }
    double getZ() const { return z; }

private:
    double w, z, y, x; // stored in this order
    double matrix[16];
};

/// Mouse arc-ball: window points are mapped onto a unit sphere over the window.
class ArcBall_t {
public:
    ArcBall_t(float width, float height);
    /// Recomputes the scale factors for a window of `width` × `height` pixels.
    void setBounds(float width, float height);
    /// Maps a window point onto the sphere (onto its rim when it lies outside).
    void mapToSphere(float x, float y, float out[3]) const;
    /// Starts a drag at (x, y).
    void click(float x, float y);
    /// Continues the drag to (x, y); the rotation from the click point, or the zero quaternion
    /// when the two points are (nearly) the same.
    Quat4f drag(float x, float y);

    const float* getClickVector() const { return clickVector; }
    const float* getDragVector() const { return dragVector; }

private:
    float clickVector[3] = {0.0f, 0.0f, 0.0f};
    float dragVector[3] = {0.0f, 0.0f, 0.0f};
    float adjustWidth = 1.0f;
    float adjustHeight = 1.0f;
};

} // namespace vornax
