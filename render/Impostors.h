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

class Impostors {
public:
    Impostors() = default;
    ~Impostors(); // frees its buffers (context current)
    Impostors(const Impostors&) = delete;
    Impostors& operator=(const Impostors&) = delete;

    /// The program to draw with (from LitPrograms, for the frame's lights; context current);
    /// false when there is none, and the caller then draws meshes.
    bool prepare(GLuint program);
    void clear() { m_vertices.clear(); }
    /// A sphere of `radius` model units about `centre` (with a sphere program).
    void addSphere(const Vector3d& centre, float radius, const GLubyte colour[4]);
    /// An open tube of `radius` model units from `start` to `end` (with a cylinder program).
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

    GLuint m_program = 0;
    GLuint m_vertexBuffer = 0;
    GLuint m_indexBuffer = 0;
    std::vector<Vertex> m_vertices;
};

} // namespace vornax
