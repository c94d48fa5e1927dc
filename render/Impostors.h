// Node spheres and backbone cylinders as impostors: one quad per shape, facing the eye, on
// which a fragment program finds the shape's surface, lights it as the Phong programs light a
// mesh and writes its true depth (LitPrograms). A frame of thousands of shapes then costs two
// triangles per shape instead of tens or hundreds, and every shape is round at any distance.
#pragma once

#include "common/Vector3d.h"
#include "render/GLHeaders.h"

#include <cstdint>
#include <vector>

namespace vornax {
class LitPrograms;

class Impostors {
public:
    enum class Shape { Sphere, Cylinder };

    explicit Impostors(Shape shape) : m_shape(shape) {}
    ~Impostors(); // frees its buffers (context current)
    Impostors(const Impostors&) = delete;
    Impostors& operator=(const Impostors&) = delete;

    /// Picks the program for the lights as they are set now (context current); false when the
    /// driver cannot build it, and the caller then draws meshes.
    bool prepare(LitPrograms& programs);
    void clear() { m_vertices.clear(); }
    /// A sphere of `radius` model units about `centre` (Shape::Sphere).
    void addSphere(const Vector3d& centre, float radius, const GLubyte colour[4]);
    /// An open tube of `radius` model units from `start` to `end` (Shape::Cylinder).
    void addCylinder(const Vector3d& start, const Vector3d& end, float radius, const GLubyte colour[4]);
    std::size_t size() const { return m_vertices.size() / 4; }
    /// Draws the shapes added since clear() with the current matrices, lights and fog and the
    /// program prepare() picked, then puts back the program that was current.
    void draw();

private:
    struct Vertex {
        float point[3]; ///< the sphere's centre, or the cylinder's start
        float end[3];   ///< the cylinder's end
        float corner[3]; ///< which corner of the quad (two coordinates, ±1 or 0 and 1), and the radius
        GLubyte colour[4];
    };

    void addQuad(const Vector3d& point, const Vector3d& end, float radius, const float corners[4][2],
                 const GLubyte colour[4]);

    Shape m_shape;
    GLuint m_program = 0;
    GLuint m_vertexBuffer = 0;
    GLuint m_indexBuffer = 0;
    std::vector<Vertex> m_vertices;
};

} // namespace vornax
