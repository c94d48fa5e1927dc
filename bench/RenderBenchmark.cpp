// Frames per second of the network's drawing at 1000, 5000 and 20000 nodes, with springs off
// and on and the spheres full-size and small, in an offscreen GL context (Xvfb and Mesa's
// llvmpipe on a machine without a GPU: bench/render-fps.sh).
//
// The networks are synthetic: chains of 250 C-alpha nodes 3.8 Å apart, wandering inside a
// globule of a protein's size for that many residues (radius 2.2·N^0.38 Å), springs within
// 11 Å. The camera is the view's without a device: the molecule's centre sits its radius behind
// the origin, the eye 306 model units in front, 40° field of view; one light, depth test and
// back-face culling on. Each frame is what the view does per frame: clear, updateBackboneAngles,
// renderBackbone, optionally renderSprings (lighting off), renderSelectedAtoms (blending on),
// then glFinish so that the rasteriser's work is counted.
//
//     render_benchmark [--seconds S] [--nodes N]... [--per-node] [--pdb FILE [--assembly ID
//                      [--copies LIST]]] [--view] [--quick] [--map]
//
// --view also times the view's whole frame (COpenGL: Idle and Render_ELNET_Backbone, with the
// Phong shader programs where the driver runs them, as the program draws), springs off and on.
// --per-node also times one display-list call per node, the way the spheres used to be drawn.
// --pdb FILE cuts the networks from a real structure instead: its first N C-alpha records (the
// globule radius is then the cut's largest distance from its centre); with --assembly ID (and
// --copies LIST) the whole biological assembly of it, or those of its copies, once.
// The drawings timed: batched meshes, impostors, and impostors with the distant nodes as points
// ("cheap-far", NetworkDrawing::CheapFar::Always). --quick times springs off and full spheres
// only, and saves each drawing's last frame as render-bench-N-DRAWING.png (build/test-pictures).
// --map draws every frame as the window does with a colour map and a mode swinging: each node
// coloured from its value on the ramp, and the swing's displacements made again per frame.
#include "GLTestContext.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/NodeMaps.h"
#include "enm/io/NetworkFileHandle.h"
#include "haptics/Workbench.h"
#include "molecule/Atom.h"
#include "molecule/StructureFile.h"
#include "render/COpenGL.h"
#include "render/GLHeaders.h"
#include "render/NetworkDrawing.h"

#include <QGuiApplication>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vornax;

namespace {

struct Options {
    double seconds = 2.0;
    std::vector<int> nodes;
    bool perNode = false;
    std::string pdb;   ///< cut the networks from this structure instead
    bool view = false; ///< also the view's whole frame
    AssemblyRequest assembly; ///< with --pdb: the whole assembly (or the copies asked for) instead of a cut
    bool quick = false;       ///< springs off and full spheres only
    bool map = false;         ///< a colour map and a swing on every frame
};

/// A colour map over the nodes and a swing to add per frame.
struct MapAndSwing {
    NodeMap map;
    std::vector<Vector3d> shape, offsets;
    int frame = 0;
};

std::string atomLine(int serial, char chain, int resSeq, double x, double y, double z)
{
    char buf[100];
    std::snprintf(buf, sizeof buf, "ATOM  %5d  CA  ALA %c%4d    %8.3f%8.3f%8.3f  1.00 20.00           C  ",
                  serial % 100000, chain, resSeq % 10000, x, y, z);
    return buf;
}

/// Chains of 250 nodes inside a globule of radius 2.2·N^0.38 Å; the PDB text and the radius.
std::string syntheticStructure(int n, double& radius)
{
    radius = 2.2 * std::pow(n, 0.38);
    std::mt19937 random(12345u + static_cast<unsigned>(n));
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::string text = "HEADER    SYNTHETIC GLOBULE\n";
    double p[3] = {0, 0, 0};
    for (int i = 0; i < n; ++i) {
        if (i % 250 == 0) {
            if (i > 0) text += "TER\n";
            // A new chain starts anywhere inside the globule.
            do
                for (double& c : p) c = uniform(random) * radius;
            while (p[0] * p[0] + p[1] * p[1] + p[2] * p[2] > radius * radius);
        } else {
            // A step of 3.8 Å in a random direction, turned back towards the centre outside.
            for (int attempt = 0;; ++attempt) {
                double d[3] = {normal(random), normal(random), normal(random)};
                const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                double q[3];
                for (int k = 0; k < 3; ++k) q[k] = p[k] + 3.8 * d[k] / len;
                if (q[0] * q[0] + q[1] * q[1] + q[2] * q[2] <= radius * radius || attempt > 50) {
                    std::copy(q, q + 3, p);
                    break;
                }
            }
        }
        const char chain = static_cast<char>('A' + (i / 250) % 26);
        text += atomLine(i + 1, chain, i % 250 + 1, p[0], p[1], p[2]) + "\n";
    }
    return text + "TER\nEND\n";
}

/// The first `n` C-alpha records of the first model of `file`, chains kept (fewer when the file
/// has fewer); `n` becomes the count taken.
std::string cutOfStructure(const std::string& file, int& n, double& radius)
{
    std::ifstream in(file);
    std::string line, text;
    int taken = 0;
    double sum[3] = {0, 0, 0};
    std::vector<std::array<double, 3>> positions;
    while (taken < n && std::getline(in, line)) {
        const std::string record = line.substr(0, 6);
        if (record.rfind("ENDMDL", 0) == 0) break;
        if (record.rfind("TER", 0) == 0) text += "TER\n";
        if ((record != "ATOM  " && record != "HETATM") || line.size() < 54 || line.substr(12, 4) != " CA "
            || line.substr(17, 3) == " CA")
            continue;
        std::array<double, 3> p{std::atof(line.substr(30, 8).c_str()), std::atof(line.substr(38, 8).c_str()),
                                std::atof(line.substr(46, 8).c_str())};
        positions.push_back(p);
        for (int k = 0; k < 3; ++k) sum[k] += p[static_cast<std::size_t>(k)];
        text += line + "\n";
        ++taken;
    }
    n = taken;
    radius = 0.0;
    for (const auto& p : positions) {
        double r2 = 0.0;
        for (int k = 0; k < 3; ++k) r2 += std::pow(p[static_cast<std::size_t>(k)] - sum[k] / taken, 2);
        radius = std::max(radius, std::sqrt(r2));
    }
    return text + "TER\nEND\n";
}

/// Every node of `file` (as assembly `assembly` when it names one) as C-alpha records, one chain
/// letter per chain in turn; `n` becomes the node count, `radius` the largest distance (Å) from
/// the centre.
std::string assemblyStructure(const std::string& file, const AssemblyRequest& assembly, int& n, double& radius)
{
    NetworkFileHandle reader;
    n = 0;
    if (!reader.openStructure(file, assembly)) return {};
    std::string text;
    double sum[3] = {0, 0, 0};
    std::vector<std::array<double, 3>> positions;
    int chainIndex = 0;
    for (const auto& chain : reader.getChainList()) {
        if (chain.empty()) continue;
        const char letter = static_cast<char>('A' + chainIndex++ % 26);
        int residue = 0;
        for (const ELNBackboneData& node : chain) {
            const auto& c = node.coordinates;
            text += atomLine(n + 1, letter, ++residue, c[0], c[1], c[2]) + "\n";
            positions.push_back(c);
            for (int k = 0; k < 3; ++k) sum[k] += c[static_cast<std::size_t>(k)];
            ++n;
        }
        text += "TER\n";
    }
    radius = 0.0;
    for (const auto& p : positions) {
        double r2 = 0.0;
        for (int k = 0; k < 3; ++k) r2 += std::pow(p[static_cast<std::size_t>(k)] - sum[k] / n, 2);
        radius = std::max(radius, std::sqrt(r2));
    }
    return text + "END\n";
}

/// The network of `pdbText` with nodes and springs and one ElNemo-style mode, so that it is
/// drawn as a network ready to be pulled (without solving it).
struct BenchNetwork {
    NetworkFileHandle reader;
    std::vector<Atom*> atoms;
    std::unique_ptr<ElasticNetworkModel> network;
    ~BenchNetwork()
    {
        for (Atom* a : atoms) delete a;
    }
};

std::unique_ptr<BenchNetwork> makeNetwork(const std::string& pdbText)
{
    const auto folder = std::filesystem::temp_directory_path();
    const auto pdb = folder / ("vornax-render-bench-" + std::to_string(::getpid()) + ".pdb");
    const auto mode = folder / ("vornax-render-bench-" + std::to_string(::getpid()) + "-mode7.pdb");
    std::ofstream(pdb) << pdbText;
    auto b = std::make_unique<BenchNetwork>();
    if (!b->reader.openFile(pdb)) return nullptr;
    b->atoms = b->reader.getAtomList();
    b->network.reset(b->reader.getElasticNetwork());
    b->reader.enterResDataToELN();
    ElasticNetworkModel& eln = *b->network;
    eln.setRc(11.0f);
    eln.setRenderingDataUp();
    // One mode read from a file of the ElNemo kind: the structure itself, so a zero vector.
    std::ofstream(mode) << "REMARK MODE    7\n" << pdbText;
    eln.setupBlankArrays();
    const bool read = eln.calculateEigenFromElnemo(mode.string());
    eln.setupSelectedELNemoModes();
    std::filesystem::remove(pdb);
    std::filesystem::remove(mode);
    if (!read || !eln.isSetup()) return nullptr;
    eln.generateColourListOverSeq();
    return b;
}

void setUpView(int width, int height)
{
    glViewport(0, 0, width, height);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_CULL_FACE);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glShadeModel(GL_SMOOTH);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const double nearDist = 1.0 / std::tan(0.3490658503988659);
    gluPerspective(40.0, static_cast<double>(width) / height, nearDist, nearDist + 18000.0);
    glMatrixMode(GL_MODELVIEW);
}

/// Frames per second of `frame` over at least `seconds` and 5 frames, after 3 to warm up
/// (buffers grown, lists made); `frames` is how many were timed.
template <typename Frame>
double timeFrames(Frame&& frame, double seconds, int& frames)
{
    for (int i = 0; i < 3; ++i) frame();
    const auto start = std::chrono::steady_clock::now();
    frames = 0;
    double elapsed = 0.0;
    while (elapsed < seconds || frames < 5) {
        frame();
        ++frames;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return frames / elapsed;
}

/// Pulls the middle node, so that an arrow and a halo are drawn as during use.
Atom* pullMiddleNode(ElasticNetworkModel& eln)
{
    Atom* pulled = eln.getAtom(eln.getAmountOfAtoms() / 2);
    pulled->setSelected(true);
    pulled->addAForce(Vector3d(0.0f, 1.0f, 0.0f), 1.0f);
    pulled->setScaledForce(Vector3d(0.0f, -20.0f, 0.0f));
    pulled->setInitEQForce(0.5f);
    eln.addAtomToList(pulled);
    return pulled;
}

enum class Drawing { Batched, Impostors, Cheap, PerNode };

const char* drawingName(Drawing d)
{
    switch (d) {
    case Drawing::Batched: return "batched";
    case Drawing::Impostors: return "impostors";
    case Drawing::Cheap: return "cheap-far";
    default: return "per-node";
    }
}

struct Case {
    int nodes;
    bool springs;
    bool spheres;
    Drawing drawing;
};

double framesPerSecond(NetworkDrawing& drawing, const Case& c, float sphereRadius, double seconds, int& frames,
                       MapAndSwing* extra = nullptr)
{
    ElasticNetworkModel& eln = drawing.network();
    GLint size[4] = {};
    glGetIntegerv(GL_VIEWPORT, size);
    setUpView(size[2], size[3]); // the view's projection and state (a view run may have changed them)
    eln.setRenderingSpheres(c.spheres);
    drawing.setBatched(c.drawing != Drawing::PerNode);
    drawing.setPhongBatches(c.drawing == Drawing::Impostors || c.drawing == Drawing::Cheap);
    drawing.setCheapFarNodes(c.drawing == Drawing::Cheap ? NetworkDrawing::CheapFar::Always
                                                         : NetworkDrawing::CheapFar::Never);
    const Vector3d eye(0.0f, 0.0f, 266.0f + 40.0f);
    const Vector3d translation(0.0f, 0.0f, -sphereRadius);
    const Vector3d camLocal = eye - translation;
    auto frame = [&] {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
        const GLfloat light[] = {0.0f, 60.0f, 0.0f, 0.0f};
        gluLookAt(eye.x, eye.y, eye.z, 0.0, 0.0, 1.0, 0.0, 1.0, 0.0);
        glLightfv(GL_LIGHT0, GL_POSITION, light);
        if (extra) {
            const auto f = static_cast<float>(std::sin(0.1 * ++extra->frame));
            for (std::size_t i = 0; i < extra->shape.size(); ++i) extra->offsets[i] = extra->shape[i] * f;
            drawing.setFrameOffsets(&extra->offsets);
            drawing.setNodeMap(&extra->map);
        }
        drawing.updateBackboneAngles();
        glPushMatrix();
        glTranslatef(translation.x, translation.y, translation.z);
        drawing.renderBackbone(camLocal);
        if (c.springs) {
            glDisable(GL_LIGHTING);
            drawing.renderSprings();
            glEnable(GL_LIGHTING);
        }
        glEnable(GL_BLEND);
        drawing.renderSelectedAtoms();
        glDisable(GL_BLEND);
        glPopMatrix();
        glFinish();
    };
    return timeFrames(frame, seconds, frames);
}

/// The view's whole frame on a network built from `pdbText`, one node pulled.
double viewFramesPerSecond(const std::string& pdbText, bool springs, double seconds, int& frames)
{
    auto b = makeNetwork(pdbText);
    if (!b) return 0.0;
    ElasticNetworkModel& eln = *b->network;
    pullMiddleNode(eln);
    GLint size[4] = {};
    glGetIntegerv(GL_VIEWPORT, size);
    double fps = 0.0;
    // The view leaves its lights, fog and programs set: keep them from the cases timed after.
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    {
        Workbench bench;
        COpenGL view(bench, size[2], size[3], 1.52f);
        const Placement placement = Placement::ofNodes(*b->network);
        bench.handOver(std::move(b->network), {}, placement);
        bench.start();
        view.resetALL();
        view.renderSprings(springs);
        auto frame = [&] {
            view.Idle();
            view.Render_ELNET_Backbone();
            glFinish();
        };
        fps = timeFrames(frame, seconds, frames);
        static bool told = false;
        if (!told) {
            std::printf("# view: shaders %s\n",
                        view.isShaderEnabled() ? "on (Phong programs)" : "off (fixed function)");
            told = true;
        }
    }
    glPopClientAttrib();
    glPopAttrib();
    glUseProgram(0);
    return fps;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_XCB_GL_INTEGRATION")) setenv("QT_XCB_GL_INTEGRATION", "xcb_glx", 1);
    QGuiApplication app(argc, argv);
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            options.seconds = std::atof(argv[++i]);
        else if (a == "--nodes" && i + 1 < argc)
            options.nodes.push_back(std::atoi(argv[++i]));
        else if (a == "--per-node")
            options.perNode = true;
        else if (a == "--pdb" && i + 1 < argc)
            options.pdb = argv[++i];
        else if (a == "--view")
            options.view = true;
        else if (a == "--quick")
            options.quick = true;
        else if (a == "--map")
            options.map = true;
        else if (a == "--assembly" && i + 1 < argc)
            options.assembly.id = argv[++i];
        else if (a == "--copies" && i + 1 < argc) {
            std::string error;
            auto copies = parseCopyList(argv[++i], error);
            if (!copies) {
                std::fprintf(stderr, "render_benchmark: --copies: %s\n", error.c_str());
                return 2;
            }
            options.assembly.copies = *copies;
        }
        else {
            std::fprintf(
                stderr,
                "usage: render_benchmark [--seconds S] [--nodes N]... [--per-node] [--map] [--pdb FILE [--assembly ID "
                "[--copies LIST]]] [--view] [--quick]\n");
            return 2;
        }
    }
    if (options.assembly.wanted() && options.pdb.empty()) {
        std::fprintf(stderr, "render_benchmark: --assembly goes with --pdb FILE\n");
        return 2;
    }
    if (options.assembly.wanted()) options.nodes = {0}; // the whole assembly, once
    if (options.nodes.empty()) options.nodes = {1000, 5000, 20000};

    constexpr int kWidth = 1024, kHeight = 768;
    gltest::GLTestContext gl(kWidth, kHeight);
    if (!gl.valid()) {
        std::fprintf(stderr, "render_benchmark: %s\n", gl.problem().c_str());
        return 1;
    }
    std::printf("GL_RENDERER: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::printf("GL_VERSION: %s\n", reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    std::printf("framebuffer %d x %d, %.1f s per case\n\n", kWidth, kHeight, options.seconds);
    std::printf("%7s %8s %8s %10s %9s %7s %9s\n", "nodes", "springs", "spheres", "drawing", "fps", "frames",
                "ms/frame");

    console::Capture quiet; // the load's console lines
    for (int n : options.nodes) {
        double radius = 0.0;
        const std::string text = options.assembly.wanted() ? assemblyStructure(options.pdb, options.assembly, n, radius)
            : options.pdb.empty()                          ? syntheticStructure(n, radius)
                                                           : cutOfStructure(options.pdb, n, radius);
        if (n < 3) {
            std::fprintf(stderr, "render_benchmark: no C-alpha records in %s\n", options.pdb.c_str());
            return 1;
        }
        auto b = makeNetwork(text);
        if (!b) {
            std::fprintf(stderr, "render_benchmark: the %d-node network could not be built\n", n);
            return 1;
        }
        pullMiddleNode(*b->network);

        NetworkDrawing drawing(*b->network);
        drawing.init();
        drawing.generateRenderingBB();
        MapAndSwing extra;
        if (options.map) {
            extra.map.values.resize(static_cast<std::size_t>(n));
            extra.shape.resize(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) {
                extra.map.values[static_cast<std::size_t>(i)] = i;
                extra.shape[static_cast<std::size_t>(i)] =
                    Vector3d(std::sin(0.3f * i), std::cos(0.2f * i), 0.5f) * 5.0f;
            }
            extra.map.low = 0.0;
            extra.map.high = n - 1.0;
            extra.offsets = extra.shape;
        }
        int frames = 0;
        framesPerSecond(drawing, Case{n, true, true, Drawing::Batched}, static_cast<float>(radius * 10.0), 0.0,
                        frames);
        const NetworkDrawing::FrameCounts& counts = drawing.lastFrame();
        std::printf("# %d nodes: globule radius %.1f A, %d springs, %d cylinders, spheres per level 0-6:", n, radius,
                    counts.springs, counts.cylinders);
        for (int32_t c : counts.spheres) std::printf(" %d", c);
        std::printf("\n");
        for (Drawing d : {Drawing::Batched, Drawing::Impostors, Drawing::Cheap, Drawing::PerNode}) {
            if (d == Drawing::PerNode && !options.perNode) continue;
            for (bool springs : {false, true})
                for (bool spheres : {true, false}) {
                    if (options.quick && (springs || !spheres)) continue;
                    const Case c{n, springs, spheres, d};
                    const double fps = framesPerSecond(drawing, c, radius * 10.0f, options.seconds, frames,
                                                       options.map ? &extra : nullptr);
                    // The last frame, to look at (with --quick: one per drawing).
                    if (options.quick)
                        gl.savePng(gltest::picturePath("render-bench-" + std::to_string(n) + "-" + drawingName(d)
                                                       + ".png"));
                    const bool fellBack = d != Drawing::Batched && d != Drawing::PerNode && !drawing.drewImpostors();
                    char points[48] = "";
                    if (drawing.lastFrame().points > 0)
                        std::snprintf(points, sizeof points, "  (%d nodes as points)", drawing.lastFrame().points);
                    std::printf("%7d %8s %8s %10s %9.1f %7d %9.2f%s%s%s\n", n, springs ? "on" : "off",
                                spheres ? "full" : "small", drawingName(d), fps, frames, 1000.0 / fps,
                                options.map ? "  (map and swing)" : "",
                                fellBack ? "  (meshes: no impostor program)" : "", points);
                    std::fflush(stdout);
                }
        }
        b->network->deselectAll();
        if (options.view) {
            for (bool springs : {false, true}) {
                const double fps = viewFramesPerSecond(text, springs, options.seconds, frames);
                std::printf("%7d %8s %8s %10s %9.1f %7d %9.2f\n", n, springs ? "on" : "off", "full", "view", fps,
                            frames, 1000.0 / fps);
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
