// Rotation as a quaternion with its 4 × 4 matrix in OpenGL's column order; orients the
// backbone cylinders and the force arrows.
#pragma once

namespace vornax {

class Quaternion {
public:
    /// w = 1, x = 1, y = 0, z = 0 and an identity matrix.
    Quaternion();

    /// A turn of `degrees` about (x, y, z); the axis is taken as given, not normalised.
    void CreateFromAxisAngle(double x, double y, double z, double degrees);
    /// The rotation matrix of (w, x, y, z), column order, element 15 = 1.
    const double* getMatrix();

    double getW() const { return w; }
    double getX() const { return x; }
    double getY() const { return y; }
    double getZ() const { return z; }

private:
    // Stored in the order w, z, y, x.
    double w;
    double z;
    double y;
    double x;
    double matrix[16];
};

} // namespace vornax
