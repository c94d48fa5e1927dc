// The GL side of the network's drawing: node spheres with seven levels of detail, the backbone
// cylinders along each chain, the springs, the force arrows and the halos of the atoms under
// force.
//
// The view calls, with its context current and its camera and lights set:
//
//     NetworkDrawing drawing(*network);       // once the network's rendering data are set up
//     drawing.init();                         // cylinder list, atom lists, buffers
//     drawing.generateRenderingBB();          // one segment per pair of neighbours in a chain
//     // every frame:
//     drawing.updateBackboneAngles();         // the positions of this frame
//     drawing.renderBackbone(camLocal);       // camera in the molecule's frame
//     drawing.renderSprings();                // lighting off
//     drawing.renderSelectedAtoms();          // blending on
//
// Each frame reads the published node positions once (updateBackboneAngles), so spheres,
// cylinders and springs of one frame agree whatever the simulation thread does meanwhile.
//
// The nodes are drawn in batches: for each level of detail one vertex array holds every sphere
// of that level, and one more holds every cylinder, so a frame costs a few draw calls however
// many nodes there are. The picture is that of one display-list call per node (which
// setBatched(false) still draws): the same spheres, sizes, colours, levels and cylinders.
// A view that draws with its Phong programs has the batches drawn as impostors instead, one
// quad per sphere and per cylinder (setPhongBatches): the same picture with round shapes, for a
// fraction of the triangles.
#pragma once

#include "common/Vector3d.h"
#include "render/GLHeaders.h"
#include "render/Quaternion.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace vornax {
class ElasticNetworkModel;
struct NodeMap;
class Impostors;
class LitPrograms;

/// One backbone cylinder: from the node at `position` to the next node of its chain, `length`
/// long. Its turn (segmentOrientation towards the next node) is worked out only where a
/// cylinder is drawn: most segments of a large network are drawn as lines or not at all.
struct ELNBackboneRenderingModel {
    Vector3d position;
    float length = 0.0f;
};

/// The GL side of the network object's drawing: one per network, made with the context current.
class NetworkDrawing {
public:
    explicit NetworkDrawing(ElasticNetworkModel& network);
    ~NetworkDrawing(); // frees its lists (context current)
    NetworkDrawing(const NetworkDrawing&) = delete;
    NetworkDrawing& operator=(const NetworkDrawing&) = delete;

    void init();                 // cylinderList (GLU quadric) etc.
    void generateRenderingBB();  // drawing side; once the network's rendering data are set up
    void updateBackboneAngles(); // every frame, before drawing
    void renderBackbone(const Vector3d& camLocal);
    void renderSprings();
    void renderSelectedAtoms();
    ElasticNetworkModel& network();

    /// Sphere level of detail (0 finest … 6) for a squared camera distance in model units²:
    /// bands of 200000 each, closed below and open above; the last band has no end.
    static int levelOfDetail(float squaredDistance);

    /// Batched vertex arrays (the default) or one display-list call per node.
    void setBatched(bool batched) { m_batched = batched; }
    bool isBatched() const { return m_batched; }
    /// For a view that draws with its Phong programs: the batches then draw spheres and
    /// cylinders as impostors (one quad each) with programs of their own, lit the same way for
    /// less (LitPrograms), wherever the driver builds those programs; meshes otherwise.
    void setPhongBatches(bool wanted) { m_phongBatches = wanted; }
    /// True when the last batched frame drew its spheres as impostors.
    bool drewImpostors() const { return m_counts.impostors; }

    /// Distant nodes drawn cheaply: from `kManyNodes` nodes on (Auto), always or never. A
    /// distant node is then one lit-looking point the size its sphere would show, without the
    /// backbone cylinders between distant nodes; near nodes and the nodes under force, in
    /// contact or selected are drawn as ever. The batched drawing only.
    enum class CheapFar { Auto, Always, Never };
    static constexpr int32_t kManyNodes = 20000;
    /// Squared camera distance (model units²) from which a node is distant: the start of the
    /// fourth level of detail (about 77 Å).
    static constexpr float kFarSquaredDistance = 600000.0f;
    void setCheapFarNodes(CheapFar mode) { m_cheapFar = mode; }
    void setFarSquaredDistance(float squared) { m_farSquared = squared; }

    const std::vector<std::vector<ELNBackboneRenderingModel>>& getSegmentModels() const { return m_segmentModels; }
    const std::vector<int32_t>& getChainLengths() const { return m_chainLengths; }

    /// What the last frame drew.
    struct FrameCounts {
        std::array<int32_t, 7> spheres{}; ///< per level of detail
        int32_t cylinders = 0;
        int32_t arrows = 0;
        int32_t springs = 0; ///< spring lines
        int32_t halos = 0;
        bool rigid = false;     ///< drawn before the modes were set up
        bool impostors = false; ///< the spheres and cylinders were impostors
        int32_t points = 0;     ///< distant nodes drawn as points (not counted in `spheres`)
        int32_t lines = 0;      ///< backbone lines between distant nodes (not counted in `cylinders`)
    };
    const FrameCounts& lastFrame() const { return m_counts; }
    /// Displacements (model units, one a node) added to the deformed positions drawn from the
    /// next frame on, such as a mode's swing; null or empty: none. Not owned: it must live until
    /// it is replaced.
    void setFrameOffsets(const std::vector<Vector3d>* offsets) { m_frameOffsets = offsets; }
    /// Colours the nodes by `map` from the next frame on (null: their own colours). A node
    /// whose own colour is not its plain one (a highlighted residue, a coloured chain) keeps it.
    /// Not owned: it must live until it is replaced.
    void setNodeMap(const NodeMap* map) { m_nodeMap = map; }
    /// The colour node `node` is drawn in: its own, or the map's where it is in its plain colour.
    Vector3d nodeColourOf(std::size_t node) const;
    /// Where the last frame drew each node (model units): deformed, plus any offsets.
    const std::vector<Vector3d>& framePositions() const { return m_framePositions; }
    /// The radius (model units) the node spheres were last drawn with.
    float nodeSphereRadius() const;

private:
    struct BatchVertex {
        float position[3];
        float normal[3];
        GLubyte colour[4];
    };
    struct ShadedVertex {
        float position[3];
        float normal[3];
    };

    bool consistent() const;
    /// Marks each node near (drawn in full) or distant (a point) for this frame; false when
    /// every node is drawn in full.
    bool classifyNodes(const Vector3d& camLocal);
    bool isNear(std::size_t node) const { return m_near.empty() || m_near[node] != 0; }
    /// Draws the distant nodes collected this frame as points.
    void drawFarPoints(float sphereRadius);
    void addFarPoint(std::size_t node, const Vector3d& p, const GLubyte colour[4]);
    void addFarLine(const Vector3d& from, const Vector3d& to);
    void takeFramePositions();
    /// Spheres and cylinders as impostors, or false when the view does not want them or the
    /// driver cannot build their programs. `rigid`: as drawn before the modes are set up.
    bool renderImpostors(const Vector3d& camLocal, bool rigid);
    /// The node's colour as the batches take it (alpha 0.5, as glColor has it).
    std::array<GLubyte, 4> nodeColour(std::size_t node) const;
    void renderBatched(const Vector3d& camLocal);
    void renderPerNode(const Vector3d& camLocal);
    void renderRigid();
    void renderArrows();
    void addSphere(int level, const Vector3d& centre, float scale, const GLubyte colour[4]);
    void addCylinder(const ELNBackboneRenderingModel& segment, const Vector3d& next);
    void drawSphereBatches();
    void drawCylinderBatch();
    void buildSpringPairs();

    ElasticNetworkModel& m_network;
    bool m_initialised = false;
    bool m_batched = true;
    bool m_phongBatches = false;
    std::unique_ptr<LitPrograms> m_litPrograms; ///< made at the first frame that wants them
    std::unique_ptr<Impostors> m_sphereImpostors;
    std::unique_ptr<Impostors> m_cylinderImpostors;
    GLuint m_cylinderList = 0;
    std::vector<std::vector<ELNBackboneRenderingModel>> m_segmentModels;
    std::vector<int32_t> m_chainLengths;
    std::vector<Vector3d> m_framePositions; ///< this frame's node positions
    FrameCounts m_counts;
    const std::vector<Vector3d>* m_frameOffsets = nullptr;
    const NodeMap* m_nodeMap = nullptr;

    // Batches: vertices filled each frame, indices made once for a chunk of shapes.
    std::array<std::vector<BatchVertex>, 7> m_sphereVertices;
    std::vector<ShadedVertex> m_cylinderVertices;
    std::array<GLuint, 7> m_sphereIndexBuffers{};
    GLuint m_cylinderIndexBuffer = 0;
    GLuint m_vertexBuffer = 0;
    GLuint m_springIndexBuffer = 0;
    std::vector<uint32_t> m_springPairs;
    CheapFar m_cheapFar = CheapFar::Auto;
    float m_farSquared = kFarSquaredDistance;
    std::vector<uint8_t> m_near; ///< this frame: 1 for a node drawn in full (empty: all are)
    struct PointVertex {
        float position[3];
        float normal[3]; ///< towards the camera: lit as the middle of its sphere
        GLubyte colour[4];
    };
    Vector3d m_frameCamera; ///< this frame's camera in the molecule's frame
    std::vector<PointVertex> m_farPoints;
    std::vector<Vector3d> m_farLines; ///< the backbone between distant nodes, as line ends
    int32_t m_springNodes = -1;       ///< node count the spring pairs were made for
};

} // namespace vornax
