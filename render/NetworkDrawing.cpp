#include "render/NetworkDrawing.h"

#include "enm/NodeMaps.h"
#include "render/ColourRamp.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "molecule/Atom.h"
#include "render/AtomDrawing.h"
#include "render/Impostors.h"
#include "render/LitPrograms.h"
#include "render/Orientation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <tuple>

namespace vornax {

namespace {

constexpr float kGrey = 200.0f / 255.0f;
constexpr float kCylinderGrey = 0.78f;
constexpr float kCylinderRadius = 2.0f;
constexpr int kCylinderSlices = 8;
constexpr int kCylinderStacks = 8;
constexpr int kBatchedCylinderStacks = 1;
/// Shapes per draw call: the index buffers hold this many shapes' triangles.
constexpr std::size_t kChunk = 1024;

/// A shape as indexed triangles: positions, unit normals, three indices per triangle.
struct UnitMesh {
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<uint32_t> triangles;
    uint32_t vertexCount() const { return static_cast<uint32_t>(positions.size() / 3); }
};

/// The sphere list's strip as triangles, with the vertices the strip repeats (seams, poles,
/// band edges) merged and the triangles that then have no area left out: the same surface.
UnitMesh sphereMesh(int p)
{
    const SphereMesh strip = makeSphereStrip(0.0f, 0.0f, 0.0f, kNodeSphereRadius, p);
    UnitMesh mesh;
    std::map<std::tuple<long, long, long>, uint32_t> merged;
    std::vector<uint32_t> remap(strip.indices.size());
    for (std::size_t v = 0; v < strip.indices.size(); ++v) {
        const float* pos = &strip.vertices[3 * v];
        const auto key =
            std::make_tuple(std::lround(pos[0] * 1e4f), std::lround(pos[1] * 1e4f), std::lround(pos[2] * 1e4f));
        auto [it, added] = merged.emplace(key, mesh.vertexCount());
        if (added) {
            mesh.positions.insert(mesh.positions.end(), pos, pos + 3);
            mesh.normals.insert(mesh.normals.end(), &strip.normals[3 * v], &strip.normals[3 * v] + 3);
        }
        remap[v] = it->second;
    }
    for (std::size_t k = 0; k + 2 < strip.indices.size(); ++k) {
        // A strip's odd triangles turn the other way: swap two corners to keep the front face.
        uint32_t a = remap[strip.indices[k]], b = remap[strip.indices[k + 1]];
        const uint32_t c = remap[strip.indices[k + 2]];
        if (k % 2 == 1) std::swap(a, b);
        if (a == b || b == c || a == c) continue;
        mesh.triangles.insert(mesh.triangles.end(), {a, b, c});
    }
    return mesh;
}

/// gluCylinder(radius 2, height 1, 8 slices) as triangles along z from 0 to 1. The stacks of
/// the GLU cylinder only repeat the same side along the axis, where the normals do not change:
/// one stack is the same surface, lit the same, for an eighth of the triangles.
UnitMesh cylinderMesh()
{
    UnitMesh mesh;
    constexpr double kTwoPi = 6.283185307179586;
    for (int j = 0; j <= kBatchedCylinderStacks; ++j) {
        const float z = static_cast<float>(j) / kBatchedCylinderStacks;
        for (int i = 0; i < kCylinderSlices; ++i) {
            const double angle = kTwoPi * i / kCylinderSlices;
            const auto s = static_cast<float>(std::sin(angle)), c = static_cast<float>(std::cos(angle));
            mesh.positions.insert(mesh.positions.end(), {kCylinderRadius * s, kCylinderRadius * c, z});
            mesh.normals.insert(mesh.normals.end(), {s, c, 0.0f});
        }
    }
    auto at = [](int j, int i) { return static_cast<uint32_t>(j * kCylinderSlices + i % kCylinderSlices); };
    for (int j = 0; j < kBatchedCylinderStacks; ++j)
        for (int i = 0; i < kCylinderSlices; ++i) {
            const uint32_t v0 = at(j, i), v1 = at(j + 1, i), v2 = at(j, i + 1), v3 = at(j + 1, i + 1);
            mesh.triangles.insert(mesh.triangles.end(), {v0, v1, v2, v2, v1, v3});
        }
    return mesh;
}

const std::array<UnitMesh, 7>& sphereMeshes()
{
    static const std::array<UnitMesh, 7> meshes = [] {
        std::array<UnitMesh, 7> m;
        for (std::size_t level = 0; level < m.size(); ++level) m[level] = sphereMesh(kSphereLevelSubdivisions[level]);
        return m;
    }();
    return meshes;
}

const UnitMesh& unitCylinder()
{
    static const UnitMesh mesh = cylinderMesh();
    return mesh;
}

/// An element buffer with the triangles of `kChunk` copies of `mesh`, each copy's vertices
/// following the previous copy's.
GLuint makeChunkIndexBuffer(const UnitMesh& mesh)
{
    std::vector<uint32_t> indices;
    indices.reserve(kChunk * mesh.triangles.size());
    for (std::size_t copy = 0; copy < kChunk; ++copy) {
        const auto base = static_cast<uint32_t>(copy * mesh.vertexCount());
        for (uint32_t i : mesh.triangles) indices.push_back(base + i);
    }
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(uint32_t)), indices.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    return buffer;
}

GLubyte toByte(float c) { return static_cast<GLubyte>(std::lround(std::clamp(c, 0.0f, 1.0f) * 255.0f)); }

/// Draws `shapes` copies of a mesh whose vertices are in the bound array buffer, `stride`
/// bytes each, in chunks of kChunk shapes through `indexBuffer`.
template <typename SetPointers>
void drawChunks(std::size_t shapes, uint32_t verticesPerShape, std::size_t trianglesPerShape, GLuint indexBuffer,
                std::size_t stride, SetPointers setPointers)
{
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
    for (std::size_t first = 0; first < shapes; first += kChunk) {
        const std::size_t count = std::min(kChunk, shapes - first);
        setPointers(first * verticesPerShape * stride);
        const auto lastVertex = static_cast<GLuint>(count * verticesPerShape - 1);
        glDrawRangeElements(GL_TRIANGLES, 0, lastVertex, static_cast<GLsizei>(count * trianglesPerShape * 3),
                            GL_UNSIGNED_INT, nullptr);
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

const void* offset(std::size_t bytes) { return reinterpret_cast<const void*>(bytes); }

/// glDrawArrays in runs of at most kChunk primitives. Mesa's software pipeline resets every
/// vertex of a draw call each time its vertex buffer fills, which makes one call of many wide
/// points or lines quadratic in their number; short runs keep it linear (the same picture).
void drawArraysInRuns(GLenum mode, std::size_t vertices, std::size_t verticesPerPrimitive)
{
    const std::size_t run = kChunk * verticesPerPrimitive;
    for (std::size_t first = 0; first < vertices; first += run)
        glDrawArrays(mode, static_cast<GLint>(first), static_cast<GLsizei>(std::min(run, vertices - first)));
}

} // namespace

NetworkDrawing::NetworkDrawing(ElasticNetworkModel& network) : m_network(network) {}

NetworkDrawing::~NetworkDrawing()
{
    if (!m_initialised) return;
    glDeleteLists(m_cylinderList, 1);
    glDeleteBuffers(static_cast<GLsizei>(m_sphereIndexBuffers.size()), m_sphereIndexBuffers.data());
    glDeleteBuffers(1, &m_cylinderIndexBuffer);
    glDeleteBuffers(1, &m_vertexBuffer);
    glDeleteBuffers(1, &m_springIndexBuffer);
}

ElasticNetworkModel& NetworkDrawing::network() { return m_network; }

void NetworkDrawing::init()
{
    if (m_initialised) return;
    makeAtomDisplayLists();
    GLUquadric* quadric = gluNewQuadric();
    gluQuadricNormals(quadric, GLU_SMOOTH);
    m_cylinderList = glGenLists(1);
    glNewList(m_cylinderList, GL_COMPILE);
    gluCylinder(quadric, kCylinderRadius, kCylinderRadius, 1.0, kCylinderSlices, kCylinderStacks);
    glEndList();
    gluDeleteQuadric(quadric);

    for (std::size_t level = 0; level < m_sphereIndexBuffers.size(); ++level)
        m_sphereIndexBuffers[level] = makeChunkIndexBuffer(sphereMeshes()[level]);
    m_cylinderIndexBuffer = makeChunkIndexBuffer(unitCylinder());
    glGenBuffers(1, &m_vertexBuffer);
    glGenBuffers(1, &m_springIndexBuffer);
    m_initialised = true;
}

void NetworkDrawing::generateRenderingBB()
{
    const std::vector<ELNBackboneData>& nodes = m_network.geometry().getBackboneList();
    const auto n = static_cast<int32_t>(nodes.size());
    console::Line() << "Length of array: " << n;
    m_segmentModels.clear();
    m_chainLengths.clear();
    const ChainList& chains = m_network.geometry().getChainList();
    int32_t k = 0;
    for (std::size_t c = 0; c < chains.size() && k < n; ++c) {
        // A chain list that holds more nodes than the network is cut to the network.
        const auto size = std::min(static_cast<int32_t>(chains[c].size()), n - k);
        console::Line() << "new chain size: " << size;
        // An empty chain ends the list where the reader closed its last chain; one between
        // others has nothing to draw, and the chains after it still do.
        if (size == 0) {
            if (c + 1 == chains.size()) console::line("final chain reached so time to exit");
            continue;
        }
        std::vector<ELNBackboneRenderingModel> segments(static_cast<std::size_t>(size));
        for (int32_t j = 0; j < size; ++j) {
            ELNBackboneRenderingModel& s = segments[static_cast<std::size_t>(j)];
            s.position = nodes[static_cast<std::size_t>(k + j)].position;
            // The last node has no cylinder; its record still holds where the node is.
            if (j + 1 < size)
                s.length = s.position.euclideanDistance(nodes[static_cast<std::size_t>(k + j + 1)].position);
        }
        m_chainLengths.push_back(size);
        m_segmentModels.push_back(std::move(segments));
        k += size;
    }
    // Nodes no chain holds form one more chain.
    if (k < n) {
        std::vector<ELNBackboneRenderingModel> segments(static_cast<std::size_t>(n - k));
        for (int32_t j = 0; j < n - k; ++j) segments[static_cast<std::size_t>(j)].position = nodes[k + j].position;
        m_chainLengths.push_back(n - k);
        m_segmentModels.push_back(std::move(segments));
    }
    m_framePositions.clear();
    updateBackboneAngles();
}

bool NetworkDrawing::consistent() const
{
    if (!m_network.deformation().hasNodeAtoms()) return false;
    int64_t total = 0;
    for (int32_t length : m_chainLengths) total += length;
    return total == m_network.getAmountOfAtoms()
        && static_cast<std::size_t>(total) == m_network.geometry().getBackboneList().size();
}

void NetworkDrawing::takeFramePositions()
{
    const int32_t n = m_network.getAmountOfAtoms();
    m_framePositions.resize(static_cast<std::size_t>(n));
    for (int32_t i = 0; i < n; ++i) m_framePositions[static_cast<std::size_t>(i)] = m_network.deformation().getDeformedPosition(i);
    if (m_frameOffsets && m_frameOffsets->size() == m_framePositions.size())
        for (std::size_t i = 0; i < m_framePositions.size(); ++i) m_framePositions[i] += (*m_frameOffsets)[i];
}

void NetworkDrawing::updateBackboneAngles()
{
    if (!consistent()) return;
    takeFramePositions();
    std::size_t k = 0;
    for (std::size_t c = 0; c < m_segmentModels.size(); ++c) {
        auto& segments = m_segmentModels[c];
        for (std::size_t j = 0; j < segments.size(); ++j, ++k) {
            ELNBackboneRenderingModel& s = segments[j];
            s.position = m_framePositions[k];
            if (j + 1 == segments.size()) continue;
            s.length = s.position.euclideanDistance(m_framePositions[k + 1]);
        }
    }
}

int NetworkDrawing::levelOfDetail(float squaredDistance)
{
    for (int level = 0; level < 6; ++level)
        if (squaredDistance < 200000.0f * static_cast<float>(level + 1)) return level;
    return 6;
}

void NetworkDrawing::renderBackbone(const Vector3d& camLocal)
{
    m_counts = FrameCounts{};
    m_near.clear(); // every node in full unless this frame's batched drawing says otherwise
    if (!m_initialised) init();
    // Drawing data made for another network, or none yet: make them now.
    if (!consistent() && m_network.deformation().hasNodeAtoms()) generateRenderingBB();
    if (!consistent() || m_chainLengths.empty()) return;
    if (m_framePositions.size() != static_cast<std::size_t>(m_network.getAmountOfAtoms())) updateBackboneAngles();

    glColor4f(kGrey, kGrey, kGrey, 0.5f);
    if (!m_network.isSetup()) {
        m_counts.rigid = true;
        if (!m_batched || !renderImpostors(camLocal, true)) renderRigid();
        return;
    }
    if (!m_batched) {
        renderPerNode(camLocal); // with the arrows, node by node
        return;
    }
    if (!renderImpostors(camLocal, false)) renderBatched(camLocal);
    if (m_network.isRenderingForces()) renderArrows();
}

void NetworkDrawing::renderRigid()
{
    // Before the modes are set up: one colour, the finest sphere six times its size (a tenth
    // of that without "Show Spheres"), and the cylinders as ever (the sphere's scaling is not
    // theirs, so they still end at the next node).
    m_counts.rigid = true;
    const AtomDisplayLists& lists = atomDisplayLists();
    const float sphereScale = (m_network.isRenderingSpheres() ? 1.0f : 0.1f) * 6.0f;
    for (const auto& segments : m_segmentModels)
        for (std::size_t j = 0; j < segments.size(); ++j) {
            ELNBackboneRenderingModel s = segments[j];
            if (!s.position.isFinite()) continue;
            glPushMatrix();
            glTranslatef(s.position.x, s.position.y, s.position.z);
            glPushMatrix();
            glScalef(sphereScale, sphereScale, sphereScale);
            glCallList(lists.sphere[0]);
            glPopMatrix();
            ++m_counts.spheres[0];
            if (j + 1 < segments.size() && std::isfinite(s.length)) {
                Quaternion turn = segmentOrientation(s.position, segments[j + 1].position);
                glMultMatrixd(turn.getMatrix());
                glRotatef(90.0f, 0.0f, 1.0f, 0.0f);
                glScalef(1.0f, 1.0f, s.length);
                glCallList(m_cylinderList);
                ++m_counts.cylinders;
            }
            glPopMatrix();
        }
}

void NetworkDrawing::renderPerNode(const Vector3d& camLocal)
{
    const AtomDisplayLists& lists = atomDisplayLists();
    const float sphereScale = (m_network.isRenderingSpheres() ? 1.0f : 0.3f) * m_network.deformation().getCurrentZoom();
    const bool arrows = m_network.isRenderingForces();
    std::size_t k = 0;
    for (auto& segments : m_segmentModels)
        for (std::size_t j = 0; j < segments.size(); ++j, ++k) {
            const Vector3d p = m_framePositions[k];
            const Atom* atom = m_network.getAtom(static_cast<int32_t>(k));
            if (p.isFinite()) {
                const Vector3d colour = nodeColourOf(k);
                const int level = levelOfDetail(p.squaredEuclideanDistance(camLocal));
                glPushMatrix();
                glTranslatef(p.x, p.y, p.z);
                glColor4f(colour.x, colour.y, colour.z, 0.5f);
                glScalef(sphereScale, sphereScale, sphereScale);
                glCallList(lists.sphere[static_cast<std::size_t>(level)]);
                glPopMatrix();
                ++m_counts.spheres[static_cast<std::size_t>(level)];
            }
            ELNBackboneRenderingModel& s = segments[j];
            if (j + 1 < segments.size() && s.position.isFinite() && std::isfinite(s.length)) {
                glPushMatrix();
                glTranslatef(s.position.x, s.position.y, s.position.z);
                glColor4f(kCylinderGrey, kCylinderGrey, kCylinderGrey, 0.5f);
                Quaternion turn = segmentOrientation(s.position, segments[j + 1].position);
                glMultMatrixd(turn.getMatrix());
                glRotatef(90.0f, 0.0f, 1.0f, 0.0f);
                glScalef(1.0f, 1.0f, s.length);
                glCallList(m_cylinderList);
                glPopMatrix();
                ++m_counts.cylinders;
            }
            if (arrows && atom->getMyApplyingForce() != Vector3d()) {
                renderForces(*atom);
                ++m_counts.arrows;
            }
        }
}

float NetworkDrawing::nodeSphereRadius() const
{
    const bool spheres = m_network.isRenderingSpheres();
    const float scale =
        m_counts.rigid ? (spheres ? 6.0f : 0.6f) : (spheres ? 1.0f : 0.3f) * m_network.deformation().getCurrentZoom();
    return kNodeSphereRadius * scale;
}

Vector3d NetworkDrawing::nodeColourOf(std::size_t node) const
{
    const Vector3d own = m_network.getAtom(static_cast<int32_t>(node))->getMyResidueColour();
    if (!m_nodeMap || node >= m_nodeMap->values.size()) return own;
    // Highlights stay on top of the map: only a node in its plain colour takes the map's.
    const bool nucleic = m_network.geometry().getBackboneList()[node].isNucleic;
    if (!(own == kPlainNodeColour || (nucleic && own == kNucleicNodeColour))) return own;
    const std::array<float, 3> c = rampColour(m_nodeMap->fraction(m_nodeMap->values[node]));
    return Vector3d(c[0], c[1], c[2]);
}

std::array<GLubyte, 4> NetworkDrawing::nodeColour(std::size_t node) const
{
    const Vector3d c = nodeColourOf(node);
    return {toByte(c.x), toByte(c.y), toByte(c.z), toByte(0.5f)};
}

bool NetworkDrawing::renderImpostors(const Vector3d& camLocal, bool rigid)
{
    if (!m_phongBatches) return false;
    if (!m_litPrograms) {
        m_litPrograms = std::make_unique<LitPrograms>();
        m_sphereImpostors = std::make_unique<Impostors>();
        m_cylinderImpostors = std::make_unique<Impostors>();
    }
    const LitPrograms::Programs programs = m_litPrograms->programsForLights();
    if (!m_sphereImpostors->prepare(programs.sphere) || !m_cylinderImpostors->prepare(programs.cylinder)) return false;
    m_counts.impostors = true;
    m_sphereImpostors->clear();
    m_cylinderImpostors->clear();
    // Before the modes are set up everything is one grey and the spheres are six times their
    // size (a tenth of that without "Show Spheres"), as the rigid drawing has them.
    const float sphereScale = rigid ? (m_network.isRenderingSpheres() ? 6.0f : 0.6f)
                                    : (m_network.isRenderingSpheres() ? 1.0f : 0.3f) * m_network.deformation().getCurrentZoom();
    const float sphereRadius = kNodeSphereRadius * sphereScale;
    // A tube runs inside a sphere up to `hidden` from its centre: the rest of it is what shows,
    // and all there is to shade.
    const float hidden = sphereRadius > kCylinderRadius
        ? std::sqrt(sphereRadius * sphereRadius - kCylinderRadius * kCylinderRadius)
        : 0.0f;
    const GLubyte rigidGrey[4] = {toByte(kGrey), toByte(kGrey), toByte(kGrey), toByte(0.5f)};
    const GLubyte tubeGrey[4] = {toByte(kCylinderGrey), toByte(kCylinderGrey), toByte(kCylinderGrey), toByte(0.5f)};
    const bool cheap = !rigid && classifyNodes(camLocal);
    std::size_t k = 0;
    for (const auto& segments : m_segmentModels)
        for (std::size_t j = 0; j < segments.size(); ++j, ++k) {
            const Vector3d p = m_framePositions[k];
            if (p.isFinite()) {
                const std::array<GLubyte, 4> colour = nodeColour(k);
                if (!isNear(k)) {
                    addFarPoint(k, p, colour.data());
                } else {
                    m_sphereImpostors->addSphere(p, sphereRadius, rigid ? rigidGrey : colour.data());
                    ++m_counts.spheres[static_cast<std::size_t>(
                        rigid ? 0 : levelOfDetail(p.squaredEuclideanDistance(camLocal)))];
                }
            }
            if (j + 1 == segments.size()) continue;
            const Vector3d next = m_framePositions[k + 1];
            if (!p.isFinite() || !next.isFinite()) continue;
            if (!isNear(k) && !isNear(k + 1)) { // between two distant nodes: a line
                addFarLine(p, next);
                continue;
            }
            const float length = p.euclideanDistance(next);
            if (length > 2.0f * hidden) {
                const Vector3d along = (next - p) * (hidden / length);
                m_cylinderImpostors->addCylinder(p + along, next - along, kCylinderRadius,
                                                 rigid ? rigidGrey : tubeGrey);
            }
            ++m_counts.cylinders;
        }
    m_sphereImpostors->draw();
    m_cylinderImpostors->draw();
    if (cheap) drawFarPoints(sphereRadius);
    return true;
}

void NetworkDrawing::renderBatched(const Vector3d& camLocal)
{
    const float sphereScale = (m_network.isRenderingSpheres() ? 1.0f : 0.3f) * m_network.deformation().getCurrentZoom();
    for (auto& vertices : m_sphereVertices) vertices.clear();
    m_cylinderVertices.clear();
    const bool cheap = classifyNodes(camLocal);
    std::size_t k = 0;
    for (const auto& segments : m_segmentModels)
        for (std::size_t j = 0; j < segments.size(); ++j, ++k) {
            const Vector3d p = m_framePositions[k];
            if (p.isFinite()) {
                const std::array<GLubyte, 4> colour = nodeColour(k);
                if (isNear(k))
                    addSphere(levelOfDetail(p.squaredEuclideanDistance(camLocal)), p, sphereScale, colour.data());
                else
                    addFarPoint(k, p, colour.data());
            }
            if (j + 1 == segments.size()) continue;
            if (isNear(k) || isNear(k + 1))
                addCylinder(segments[j], segments[j + 1].position);
            else if (p.isFinite() && m_framePositions[k + 1].isFinite())
                addFarLine(p, m_framePositions[k + 1]);
        }
    drawSphereBatches();
    glColor4f(kCylinderGrey, kCylinderGrey, kCylinderGrey, 0.5f);
    drawCylinderBatch();
    if (cheap) drawFarPoints(kNodeSphereRadius * sphereScale);
}

bool NetworkDrawing::classifyNodes(const Vector3d& camLocal)
{
    m_near.clear();
    m_farPoints.clear();
    m_farLines.clear();
    const std::size_t n = m_framePositions.size();
    const bool wanted =
        m_cheapFar == CheapFar::Always || (m_cheapFar == CheapFar::Auto && n >= static_cast<std::size_t>(kManyNodes));
    if (!wanted) return false;
    m_near.assign(n, 1);
    m_frameCamera = camLocal;
    for (std::size_t k = 0; k < n; ++k) {
        if (m_framePositions[k].squaredEuclideanDistance(camLocal) < m_farSquared) continue;
        // What the user works on stays whole wherever it is.
        const Atom* atom = m_network.getAtom(static_cast<int32_t>(k));
        if (atom->isSelected() || atom->isInContact() || atom->getMyApplyingForce() != Vector3d()) continue;
        m_near[k] = 0;
    }
    return true;
}

void NetworkDrawing::addFarPoint(std::size_t /*node*/, const Vector3d& p, const GLubyte colour[4])
{
    // The point is lit as the middle of its sphere, whose normal faces the camera.
    Vector3d towards = m_frameCamera - p;
    towards.normalize();
    PointVertex v{{p.x, p.y, p.z}, {towards.x, towards.y, towards.z}, {colour[0], colour[1], colour[2], 255}};
    m_farPoints.push_back(v);
    ++m_counts.points;
}

void NetworkDrawing::addFarLine(const Vector3d& from, const Vector3d& to)
{
    m_farLines.push_back(from);
    m_farLines.push_back(to);
    ++m_counts.lines;
}

void NetworkDrawing::drawFarPoints(float sphereRadius)
{
    if (!m_farLines.empty()) {
        // Unlit grey lines, as the springs are drawn, darker than the tubes' grey as a lit tube
        // mostly shows. They keep out of the depth buffer: the points drawn next cover them
        // where a node covers its tube's ends.
        GLint program = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        if (program != 0) glUseProgram(0);
        glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_DEPTH_BUFFER_BIT);
        glDisable(GL_LIGHTING);
        glDisable(GL_BLEND);
        glDepthMask(GL_FALSE);
        glColor3f(0.5f, 0.5f, 0.5f);
        glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_farLines.size() * sizeof(Vector3d)), m_farLines.data(),
                     GL_STREAM_DRAW);
        glEnableClientState(GL_VERTEX_ARRAY);
        glVertexPointer(3, GL_FLOAT, sizeof(Vector3d), nullptr);
        drawArraysInRuns(GL_LINES, m_farLines.size(), 2);
        glDisableClientState(GL_VERTEX_ARRAY);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glPopAttrib();
        if (program != 0) glUseProgram(static_cast<GLuint>(program));
    }
    if (m_farPoints.empty()) return;
    // Fixed-function points, each as wide on the screen as its sphere: the size given is the
    // sphere's diameter in pixels at an eye distance of 1, divided by the eye distance.
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    if (program != 0) glUseProgram(0);
    glPushAttrib(GL_ENABLE_BIT | GL_POINT_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_NORMALIZE);
    // Round points: the rasteriser's coverage in alpha, the corners left out. Points of a pixel
    // or two cover each of their pixels only in part: a low threshold keeps them.
    glEnable(GL_POINT_SMOOTH);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.2f);
    GLfloat modelview[16], projection[16];
    GLint viewport[4] = {0, 0, 1, 1};
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    const float scale =
        std::sqrt(modelview[0] * modelview[0] + modelview[1] * modelview[1] + modelview[2] * modelview[2]);
    const float diameterAtOne = 2.0f * sphereRadius * scale * projection[5] * 0.5f * static_cast<float>(viewport[3]);
    if (glPointParameterfv && glPointParameterf) {
        const GLfloat attenuation[3] = {0.0f, 0.0f, 1.0f};
        glPointParameterfv(GL_POINT_DISTANCE_ATTENUATION, attenuation);
        glPointParameterf(GL_POINT_SIZE_MIN, 1.0f);
        glPointParameterf(GL_POINT_SIZE_MAX, 64.0f);
        glPointSize(std::max(1.0f, diameterAtOne));
    } else {
        glPointSize(2.0f);
    }
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_farPoints.size() * sizeof(PointVertex)), m_farPoints.data(),
                 GL_STREAM_DRAW);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    constexpr auto stride = static_cast<GLsizei>(sizeof(PointVertex));
    glVertexPointer(3, GL_FLOAT, stride, offset(offsetof(PointVertex, position)));
    glNormalPointer(GL_FLOAT, stride, offset(offsetof(PointVertex, normal)));
    glColorPointer(4, GL_UNSIGNED_BYTE, stride, offset(offsetof(PointVertex, colour)));
    drawArraysInRuns(GL_POINTS, m_farPoints.size(), 1);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    if (glPointParameterfv) {
        const GLfloat none[3] = {1.0f, 0.0f, 0.0f};
        glPointParameterfv(GL_POINT_DISTANCE_ATTENUATION, none);
    }
    glPointSize(1.0f);
    glPopAttrib();
    if (program != 0) glUseProgram(static_cast<GLuint>(program));
}

void NetworkDrawing::addSphere(int level, const Vector3d& centre, float scale, const GLubyte colour[4])
{
    const UnitMesh& mesh = sphereMeshes()[static_cast<std::size_t>(level)];
    auto& out = m_sphereVertices[static_cast<std::size_t>(level)];
    const std::size_t first = out.size();
    out.resize(first + mesh.vertexCount());
    BatchVertex* v = out.data() + first;
    const float* pos = mesh.positions.data();
    const float* nrm = mesh.normals.data();
    for (uint32_t i = 0; i < mesh.vertexCount(); ++i, ++v, pos += 3, nrm += 3) {
        v->position[0] = centre.x + scale * pos[0];
        v->position[1] = centre.y + scale * pos[1];
        v->position[2] = centre.z + scale * pos[2];
        v->normal[0] = nrm[0];
        v->normal[1] = nrm[1];
        v->normal[2] = nrm[2];
        std::copy(colour, colour + 4, v->colour);
    }
    ++m_counts.spheres[static_cast<std::size_t>(level)];
}

void NetworkDrawing::addCylinder(const ELNBackboneRenderingModel& segment, const Vector3d& next)
{
    if (!segment.position.isFinite() || !std::isfinite(segment.length)) return;
    // translate · orientation · (90° about y) · scale(1, 1, length): the unit cylinder's
    // (x, y, z) lands at position + R·(z·length, y, −x), its normal (nx, ny, 0) on R·(0, ny, −nx).
    Quaternion orientation = segmentOrientation(segment.position, next);
    const double* m = orientation.getMatrix();
    const float ax = static_cast<float>(m[0]) * segment.length, ay = static_cast<float>(m[1]) * segment.length,
                az = static_cast<float>(m[2]) * segment.length;
    const auto ux = static_cast<float>(m[4]), uy = static_cast<float>(m[5]), uz = static_cast<float>(m[6]);
    const auto wx = static_cast<float>(m[8]), wy = static_cast<float>(m[9]), wz = static_cast<float>(m[10]);
    const UnitMesh& mesh = unitCylinder();
    const std::size_t first = m_cylinderVertices.size();
    m_cylinderVertices.resize(first + mesh.vertexCount());
    ShadedVertex* v = m_cylinderVertices.data() + first;
    const Vector3d p = segment.position;
    const float* pos = mesh.positions.data();
    const float* nrm = mesh.normals.data();
    for (uint32_t i = 0; i < mesh.vertexCount(); ++i, ++v, pos += 3, nrm += 3) {
        const float x = -pos[0], y = pos[1], z = pos[2];
        v->position[0] = p.x + ax * z + ux * y + wx * x;
        v->position[1] = p.y + ay * z + uy * y + wy * x;
        v->position[2] = p.z + az * z + uz * y + wz * x;
        const float nx = -nrm[0], ny = nrm[1];
        v->normal[0] = ux * ny + wx * nx;
        v->normal[1] = uy * ny + wy * nx;
        v->normal[2] = uz * ny + wz * nx;
    }
    ++m_counts.cylinders;
}

void NetworkDrawing::drawSphereBatches()
{
    // The spheres are closed and opaque here: their far halves never show, and need not be
    // rasterised.
    const GLboolean culling = glIsEnabled(GL_CULL_FACE);
    GLint cullFace = GL_BACK, frontFace = GL_CCW;
    glGetIntegerv(GL_CULL_FACE_MODE, &cullFace);
    glGetIntegerv(GL_FRONT_FACE, &frontFace);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glEnable(GL_CULL_FACE);
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    for (std::size_t level = 0; level < m_sphereVertices.size(); ++level) {
        const auto& vertices = m_sphereVertices[level];
        if (vertices.empty()) continue;
        const UnitMesh& mesh = sphereMeshes()[level];
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(BatchVertex)), vertices.data(),
                     GL_STREAM_DRAW);
        constexpr auto stride = static_cast<GLsizei>(sizeof(BatchVertex));
        drawChunks(vertices.size() / mesh.vertexCount(), mesh.vertexCount(), mesh.triangles.size() / 3,
                   m_sphereIndexBuffers[level], sizeof(BatchVertex), [&](std::size_t base) {
                       glVertexPointer(3, GL_FLOAT, stride, offset(base + offsetof(BatchVertex, position)));
                       glNormalPointer(GL_FLOAT, stride, offset(base + offsetof(BatchVertex, normal)));
                       glColorPointer(4, GL_UNSIGNED_BYTE, stride, offset(base + offsetof(BatchVertex, colour)));
                   });
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glCullFace(static_cast<GLenum>(cullFace));
    glFrontFace(static_cast<GLenum>(frontFace));
    if (!culling) glDisable(GL_CULL_FACE);
}

void NetworkDrawing::drawCylinderBatch()
{
    if (m_cylinderVertices.empty()) return;
    const UnitMesh& mesh = unitCylinder();
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_cylinderVertices.size() * sizeof(ShadedVertex)),
                 m_cylinderVertices.data(), GL_STREAM_DRAW);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    constexpr auto stride = static_cast<GLsizei>(sizeof(ShadedVertex));
    drawChunks(m_cylinderVertices.size() / mesh.vertexCount(), mesh.vertexCount(), mesh.triangles.size() / 3,
               m_cylinderIndexBuffer, sizeof(ShadedVertex), [&](std::size_t base) {
                   glVertexPointer(3, GL_FLOAT, stride, offset(base + offsetof(ShadedVertex, position)));
                   glNormalPointer(GL_FLOAT, stride, offset(base + offsetof(ShadedVertex, normal)));
               });
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void NetworkDrawing::renderArrows()
{
    const int32_t n = m_network.getAmountOfAtoms();
    for (int32_t i = 0; i < n; ++i) {
        const Atom* atom = m_network.getAtom(i);
        if (atom->getMyApplyingForce() == Vector3d()) continue;
        renderForces(*atom);
        ++m_counts.arrows;
    }
}

void NetworkDrawing::buildSpringPairs()
{
    // Every spring stands in the neighbour lists of both its ends (each list starting with the
    // node itself): one line per spring is the same picture.
    const int32_t n = m_network.getAmountOfAtoms();
    m_springPairs.clear();
    for (int32_t i = 0; i < n; ++i) {
        const Atom* a = m_network.getAtom(i);
        for (int32_t c = 0; c < a->getAmountOfConnectedAtoms(); ++c) {
            const int32_t j = a->getConnectedAtom(c)->getMyPositionInOriginalList();
            if (j > i && j < n)
                m_springPairs.insert(m_springPairs.end(), {static_cast<uint32_t>(i), static_cast<uint32_t>(j)});
        }
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_springIndexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_springPairs.size() * sizeof(uint32_t)),
                 m_springPairs.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    m_springNodes = n;
}

void NetworkDrawing::renderSprings()
{
    m_counts.springs = 0;
    if (!m_initialised) init();
    const int32_t n = m_network.getAmountOfAtoms();
    if (n == 0 || !m_network.deformation().hasNodeAtoms()) return;
    if (m_springNodes != n) buildSpringPairs();
    if (m_framePositions.size() != static_cast<std::size_t>(n)) takeFramePositions();
    if (m_springPairs.empty()) return;
    glColor3f(0.5f, 0.5f, 0.5f);
    glBindBuffer(GL_ARRAY_BUFFER, m_vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m_framePositions.size() * sizeof(Vector3d)),
                 m_framePositions.data(), GL_STREAM_DRAW);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(Vector3d), nullptr);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m_springIndexBuffer);
    // In runs, as drawArraysInRuns does and for the same reason.
    for (std::size_t first = 0; first < m_springPairs.size(); first += 2 * kChunk)
        glDrawRangeElements(GL_LINES, 0, static_cast<GLuint>(n - 1),
                            static_cast<GLsizei>(std::min(2 * kChunk, m_springPairs.size() - first)), GL_UNSIGNED_INT,
                            offset(first * sizeof(uint32_t)));
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glDisableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    m_counts.springs = static_cast<int32_t>(m_springPairs.size() / 2);
}

void NetworkDrawing::renderSelectedAtoms()
{
    m_counts.halos = 0;
    if (!m_initialised) init();
    const float scale = m_network.deformation().getCurrentZoom() * 6.0f + 1.5f;
    for (const Atom* atom : m_network.getContactList()) {
        if (!atom) continue;
        const Vector3d p = atom->getMyDeformedPosition();
        if (!p.isFinite()) continue;
        // The arrow's colour for the atom's force now, also when the arrows are not drawn.
        const Vector3d colour = atom->refreshArrowColour();
        glPushMatrix();
        glColor4f(colour.x, colour.y, colour.z, 0.5f);
        glTranslatef(p.x, p.y, p.z);
        glScalef(scale, scale, scale);
        callHapticRadiusSphere();
        glPopMatrix();
        ++m_counts.halos;
    }
}

} // namespace vornax
