#include "render/Impostors.h"

#include "render/LitPrograms.h"

#include <algorithm>
#include <cstddef>

namespace vornax {

namespace {

/// Quads per draw call: the index buffer holds this many quads' two triangles.
constexpr std::size_t kChunk = 16384;

const void* offset(std::size_t bytes) { return reinterpret_cast<const void*>(bytes); }

} // namespace

Impostors::~Impostors()
{
    if (m_vertexBuffer != 0) glDeleteBuffers(1, &m_vertexBuffer);
    if (m_indexBuffer != 0) glDeleteBuffers(1, &m_indexBuffer);
}

bool Impostors::prepare(GLuint program)
{
    m_program = program;
    if (m_program == 0 || !glGenBuffers || !glDrawRangeElements) return false;
    if (m_indexBuffer == 0) {
        std::vector<uint32_t> indices;
        indices.reserve(kChunk * 6);
        for (uint32_t quad = 0; quad < kChunk; ++quad) {
            const uint32_t v = quad * 4;
            indices.insert(indices.end(), {v, v + 1, v + 2, v + 2, v + 1, v + 3});
        }
        glGenBuffers(1, &m_vertexBuffer);
        glGenBuffers(1, &m_indexBuffer);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_indexBuffer);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(uint32_t)),
                     indices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }
    return true;
}

void Impostors::addQuad(const Vector3d& point, const Vector3d& end, float radius, const float corners[4][2],
                        const GLubyte colour[4])
{
    for (int i = 0; i < 4; ++i) {
        Vertex v{{point.x, point.y, point.z}, {end.x, end.y, end.z}, {corners[i][0], corners[i][1], radius}, {}};
        std::copy(colour, colour + 4, v.colour);
        m_vertices.push_back(v);
    }
}

void Impostors::addSphere(const Vector3d& centre, float radius, const GLubyte colour[4])
{
    static constexpr float kCorners[4][2] = {{-1.0f, -1.0f}, {1.0f, -1.0f}, {-1.0f, 1.0f}, {1.0f, 1.0f}};
    addQuad(centre, centre, radius, kCorners, colour);
}

void Impostors::addCylinder(const Vector3d& start, const Vector3d& end, float radius, const GLubyte colour[4])
{
    // Across the tube (±1), and along it from its start (0) to its end (1).
    static constexpr float kCorners[4][2] = {{-1.0f, 0.0f}, {1.0f, 0.0f}, {-1.0f, 1.0f}, {1.0f, 1.0f}};
    addQuad(start, end, radius, kCorners, colour);
}

void Impostors::draw()
{
    if (m_program == 0 || m_indexBuffer == 0 || m_vertices.empty()) return;
    const GLboolean culling = glIsEnabled(GL_CULL_FACE);
    glDisable(GL_CULL_FACE); // the quads face the eye whichever way their corners run
    // A view may keep alpha out of its picture with the colour mask; a masked write costs the
    // software rasteriser a read of every pixel. The impostors write alpha 1 (they are opaque),
    // which is what such a view keeps, so all four channels can be written.
    GLboolean mask[4] = {GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE};
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    const bool opaque = !glIsEnabled(GL_BLEND);
    if (opaque) glColorMask(mask[0], mask[1], mask[2], GL_TRUE);
    ProgramScope scope(m_program);
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_vertices.size() * sizeof(Vertex)), m_vertices.data(),
                 GL_STREAM_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_indexBuffer);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    for (GLenum unit : {GL_TEXTURE0, GL_TEXTURE1}) {
        glClientActiveTexture(unit);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    constexpr auto stride = static_cast<GLsizei>(sizeof(Vertex));
    const std::size_t quads = size();
    for (std::size_t first = 0; first < quads; first += kChunk) {
        const std::size_t count = std::min(kChunk, quads - first);
        const std::size_t base = first * 4 * sizeof(Vertex);
        glVertexPointer(3, GL_FLOAT, stride, offset(base + offsetof(Vertex, point)));
        glClientActiveTexture(GL_TEXTURE0);
        glTexCoordPointer(3, GL_FLOAT, stride, offset(base + offsetof(Vertex, end)));
        glClientActiveTexture(GL_TEXTURE1);
        glTexCoordPointer(3, GL_FLOAT, stride, offset(base + offsetof(Vertex, corner)));
        glColorPointer(4, GL_UNSIGNED_BYTE, stride, offset(base + offsetof(Vertex, colour)));
        glDrawRangeElements(GL_TRIANGLES, 0, static_cast<GLuint>(count * 4 - 1), static_cast<GLsizei>(count * 6),
                            GL_UNSIGNED_INT, nullptr);
    }
    for (GLenum unit : {GL_TEXTURE1, GL_TEXTURE0}) {
        glClientActiveTexture(unit);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    if (opaque) glColorMask(mask[0], mask[1], mask[2], mask[3]);
    if (culling) glEnable(GL_CULL_FACE);
}

} // namespace vornax
