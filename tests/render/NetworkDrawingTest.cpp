// The network's colourings, and its drawing in a real GL context: chains in their hues, the
// batched picture against one display list per node, a pulled node's arrow and halo, springs,
// the rigid drawing, and the level-of-detail bands.
#include "DrawingTestSupport.h"

#include "../haptics/HapticsTestSupport.h"
#include "common/Console.h"
#include "molecule/Atom.h"
#include "render/AtomDrawing.h"
#include "render/LitPrograms.h"
#include "render/NetworkDrawing.h"
#include "render/ShaderHandler.h"

#include <QColor>

#include <gtest/gtest.h>

#include <numeric>

#include <array>
#include <map>
#include <memory>
#include <set>

using namespace vornax;
using namespace vornax::testing;
using namespace vornax::gltest;

namespace {

Vector3d blue() { return Vector3d(0.0f, 0.0f, 200.0f / 255.0f); }

int hueOfColour(const Vector3d& c) { return QColor::fromRgbF(c.x, c.y, c.z).hsvHue(); }

std::unique_ptr<LoadedStructure> built(const char* name)
{
    const auto path = findPdb(name);
    if (path.empty()) return nullptr;
    auto s = buildNetwork(path);
    s->reader->enterResDataToELN(); // the chain identifiers, as a load hands them over
    return s;
}

/// Two chains: A of one node at the centre of the structure, B of four nodes around it.
std::string oneNodeAndFourNodeChains()
{
    std::string text;
    const double b[4][3] = {{10, 5, 0}, {13.8, 5, 0}, {-10, -10, 3}, {-13.8, 0, -3}};
    text += atomLine("ATOM", 1, " CA ", "ALA", 'A', 1, 0, 0, 0) + "\nTER\n";
    for (int i = 0; i < 4; ++i)
        text += atomLine("ATOM", i + 2, " CA ", "GLY", 'B', i + 1, b[i][0], b[i][1], b[i][2]) + "\n";
    return text + "TER\nEND\n";
}

/// The network of `text` with its modes set up without the load's checks.
std::unique_ptr<LoadedStructure> solvedFromText(const std::string& text)
{
    auto s = buildNetworkFromText(text, 50.0f);
    if (!s || !s->network) return nullptr;
    ElasticNetworkModel& eln = *s->network;
    if (eln.constructHessianMatrix(nullptr) != EnmStatus::Ok || eln.calculateEigen(nullptr) != EnmStatus::Ok
        || eln.calculateForceScaler(1.0f, false) != EnmStatus::Ok)
        return nullptr;
    eln.modes().setUpAllModes(eln.geometry(), eln.deformation());
    return s;
}

/// The middle of the nodes' bounding box (structures are not all centred on the origin).
Vector3d middle(const ElasticNetworkModel& eln)
{
    Vector3d lo(1e30f, 1e30f, 1e30f), hi(-1e30f, -1e30f, -1e30f);
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) {
        const Vector3d p = eln.deformation().getDeformedPosition(i);
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    }
    return (lo + hi) * 0.5f;
}

} // namespace

// ---- Colourings (no GL) ---------------------------------------------------------------------

TEST(NetworkColours, ColourChainsGivesEveryChainItsOwnHue)
{
    auto s = built("4hhb.pdb");
    if (!s) GTEST_SKIP() << "4hhb.pdb is not available";
    ElasticNetworkModel& eln = *s->network;
    eln.generateColourList();
    const auto& ids = eln.geometry().getChainIDs();
    ASSERT_EQ(ids.size(), 4u);
    std::set<int> hues;
    for (std::size_t c = 0; c < ids.size(); ++c) {
        const int hue = 240 - static_cast<int>(c) * (240 / 4);
        for (int i = 0; i < eln.getAmountOfAtoms(); ++i) {
            if (eln.getAtom(i)->getChainID() == ids[c]) {
                ASSERT_EQ(eln.getAtom(i)->getMyResidueColour(), NetworkGeometry::hueColour(hue));
            }
        }
        hues.insert(hue);
    }
    EXPECT_EQ(hues.size(), 4u);
    EXPECT_EQ(eln.getAtom(0)->getMyResidueColour(), blue()); // the first chain is blue
}

TEST(NetworkColours, OneChainIsAllBlueAndColoursReset)
{
    auto s = built("1ubq.pdb");
    if (!s) GTEST_SKIP() << "1ubq.pdb is not available";
    ElasticNetworkModel& eln = *s->network;
    eln.generateColourList();
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) ASSERT_EQ(eln.getAtom(i)->getMyResidueColour(), blue()) << i;
    eln.setBBColour(Vector3d(1, 0, 0));
    EXPECT_EQ(eln.getAtom(7)->getMyResidueColour(), Vector3d(1, 0, 0));
    eln.clearAllResCols();
    EXPECT_EQ(eln.getAtom(7)->getMyResidueColour(), Vector3d(200 / 255.0f, 200 / 255.0f, 200 / 255.0f));
}

TEST(NetworkColours, ChainbowRunsFromBlueToRedAlongEachChain)
{
    for (const char* name : {"1ubq.pdb", "4hhb.pdb"}) {
        auto s = built(name);
        if (!s) continue;
        ElasticNetworkModel& eln = *s->network;
        eln.generateColourListOverSeq();
        // Per chain identifier, in node order: blue first, then hues falling towards red (until
        // the run wraps past red on a chain longer than the mean).
        std::map<std::string, int> previous;
        for (int i = 0; i < eln.getAmountOfAtoms(); ++i) {
            const Atom* a = eln.getAtom(i);
            const Vector3d c = a->getMyResidueColour();
            for (float v : {c.x, c.y, c.z}) ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << name << " node " << i;
            const int hue = hueOfColour(c);
            auto it = previous.find(a->getChainID());
            if (it == previous.end()) {
                EXPECT_EQ(c, blue()) << name << ": chain " << a->getChainID() << " starts blue";
                previous[a->getChainID()] = hue;
                continue;
            }
            if (it->second > 40 && it->second <= 240) {
                EXPECT_LE(hue, it->second) << name << " node " << i;
            }
            it->second = hue;
        }
    }
    auto s = built("1ubq.pdb");
    if (!s) GTEST_SKIP() << "1ubq.pdb is not available";
    s->network->generateColourListOverSeq();
    const int last = s->network->getAmountOfAtoms() - 1;
    EXPECT_LE(hueOfColour(s->network->getAtom(last)->getMyResidueColour()), 10); // red at the end
}

// ---- Drawing -------------------------------------------------------------------------------

namespace {

class DrawingTest : public ::testing::Test {
protected:
    /// Draws the backbone of `eln` as the frame does (springs and halos when asked).
    void frame(NetworkDrawing& target, const Vector3d& eye, const Vector3d& centre = Vector3d(), bool springs = false,
               bool halos = false)
    {
        beginFrame(gl, eye, centre);
        target.updateBackboneAngles();
        target.renderBackbone(eye);
        if (springs) {
            glDisable(GL_LIGHTING);
            target.renderSprings();
            glEnable(GL_LIGHTING);
        }
        if (halos) {
            glEnable(GL_BLEND);
            target.renderSelectedAtoms();
            glDisable(GL_BLEND);
        }
    }

    /// `name` solved, coloured by `colouring` when given, with its drawing ready; false (and
    /// the test should skip) when the structure is not available.
    bool load(const char* name, void (ElasticNetworkModel::*colouring)() = nullptr)
    {
        const auto path = findPdb(name);
        if (path.empty()) return false;
        s = solvedStructure(path);
        if (!s) return false;
        if (colouring) ((*s->network).*colouring)();
        drawing = std::make_unique<NetworkDrawing>(*s->network);
        drawing->init();
        drawing->generateRenderingBB();
        return true;
    }

    /// How two pictures of one scene differ: pixels drawn in `a`, pixels drawn in one and not
    /// the other, pixels whose colours differ by more than `tolerance` (sum over channels).
    struct Difference {
        int covered = 0, coverage = 0, colour = 0;
    };
    static Difference compare(const QImage& a, const QImage& b, int tolerance)
    {
        Difference d;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
                d.covered += drawn(p);
                d.coverage += drawn(p) != drawn(q);
                d.colour += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                        std::abs(p.blue() - q.blue()) > tolerance;
            }
        return d;
    }

    GLTestContext gl{480, 480};
    std::unique_ptr<LoadedStructure> s;
    std::unique_ptr<NetworkDrawing> drawing;
};

} // namespace

TEST_F(DrawingTest, ChainsOf4hhbInTheirHues)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    if (!load("4hhb.pdb", &ElasticNetworkModel::generateColourList)) GTEST_SKIP() << "4hhb.pdb is not available";
    const Vector3d centre = middle(*s->network);
    frame(*drawing, centre + Vector3d(0, 0, 1300), centre);
    const QImage image = savePicture(gl, "4hhb-chains.png");
    EXPECT_FALSE(drawing->lastFrame().rigid);
    const auto& chains = drawing->getChainLengths(); // four, and the reader's chain of two stray nodes
    EXPECT_EQ(drawing->lastFrame().cylinders, s->network->getAmountOfAtoms() - static_cast<int>(chains.size()));
    for (int hue : {240, 180, 120, 60}) EXPECT_GT(pixelsOfHue(image, hue), 1500) << "hue " << hue;
}

TEST_F(DrawingTest, BatchedPictureIsTheOneListPerNodePicture)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    if (!load("1ubq.pdb", &ElasticNetworkModel::generateColourListOverSeq)) GTEST_SKIP() << "1ubq.pdb is not available";
    // Near enough for the three finest levels, with small spheres and with full ones.
    for (bool spheres : {true, false}) {
        s->network->setRenderingSpheres(spheres);
        const Vector3d centre = middle(*s->network);
        const Vector3d eye = centre + Vector3d(0, 0, spheres ? 520.0f : 420.0f);
        drawing->setBatched(false);
        frame(*drawing, eye, centre);
        const QImage perNode = readRgb(gl);
        const auto perNodeCounts = drawing->lastFrame();
        drawing->setBatched(true);
        frame(*drawing, eye, centre);
        const QImage batched = savePicture(gl, spheres ? "1ubq-batched.png" : "1ubq-batched-small.png");
        EXPECT_EQ(drawing->lastFrame().spheres, perNodeCounts.spheres);
        EXPECT_EQ(drawing->lastFrame().cylinders, perNodeCounts.cylinders);
        const Difference d = compare(batched, perNode, 24);
        EXPECT_GT(d.covered, 8000);
        EXPECT_LT(d.colour, d.covered / 50) << "spheres " << spheres; // edges may fall differently
    }
}

TEST_F(DrawingTest, ImpostorsDrawThePhongMeshPicture)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    if (!load("1ubq.pdb", &ElasticNetworkModel::generateColourListOverSeq)) GTEST_SKIP() << "1ubq.pdb is not available";
    console::Capture quiet;
    std::unique_ptr<GLSL::GLShader> phong(
        ShaderHandler().loadFromFile("Shaders/PhongMultiLight.vert", "", "Shaders/PhongMultiLight.frag"));
    ASSERT_TRUE(phong->isLinked());
    const Vector3d centre = middle(*s->network);
    // Lights as the view has them: some from one place (with attenuation), one from a
    // direction, highlights on a shiny material, fog.
    auto lightsAndDraw = [&](const Vector3d& eye, bool impostors) {
        beginFrame(gl, eye, centre);
        const GLfloat atEye[] = {eye.x, eye.y, eye.z, 1.0f}, fromAbove[] = {0.3f, 1.0f, 0.5f, 0.0f};
        const GLfloat white[] = {1, 1, 1, 1}, dim[] = {0.1f, 0.1f, 0.1f, 1}, blue[] = {0, 0, 1, 1};
        glLightfv(GL_LIGHT0, GL_SPECULAR, white);
        glLightf(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, 1e-7f);
        glLightfv(GL_LIGHT1, GL_POSITION, fromAbove);
        glLightfv(GL_LIGHT1, GL_AMBIENT, dim);
        glLightfv(GL_LIGHT1, GL_DIFFUSE, dim);
        glLightfv(GL_LIGHT2, GL_POSITION, atEye);
        glLightfv(GL_LIGHT2, GL_SPECULAR, blue);
        const GLfloat specular[] = {0.5f, 0.5f, 0.5f, 1};
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 32.0f);
        glFogf(GL_FOG_DENSITY, 0.0025f);
        phong->use();
        drawing->setPhongBatches(impostors);
        drawing->updateBackboneAngles();
        drawing->renderBackbone(eye);
        phong->stop();
        for (GLenum light : {GL_LIGHT1, GL_LIGHT2}) {
            glLightfv(light, GL_AMBIENT, std::array<GLfloat, 4>{0, 0, 0, 1}.data());
            glLightfv(light, GL_DIFFUSE, std::array<GLfloat, 4>{0, 0, 0, 1}.data());
            glLightfv(light, GL_SPECULAR, std::array<GLfloat, 4>{0, 0, 0, 1}.data());
        }
        glLightf(GL_LIGHT0, GL_QUADRATIC_ATTENUATION, 0.0f);
        glLightfv(GL_LIGHT0, GL_SPECULAR, std::array<GLfloat, 4>{0, 0, 0, 1}.data());
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, std::array<GLfloat, 4>{0, 0, 0, 1}.data());
        glFogf(GL_FOG_DENSITY, 1.0f);
    };
    for (bool spheres : {true, false}) {
        s->network->setRenderingSpheres(spheres);
        const Vector3d eye = centre + Vector3d(0, 0, spheres ? 520.0f : 420.0f);
        lightsAndDraw(eye, false);
        EXPECT_FALSE(drawing->drewImpostors());
        const auto meshCounts = drawing->lastFrame();
        const QImage meshes = readRgb(gl);
        lightsAndDraw(eye, true);
        ASSERT_TRUE(drawing->drewImpostors());
        const QImage impostors = savePicture(gl, spheres ? "1ubq-impostors.png" : "1ubq-impostors-small.png");
        EXPECT_EQ(drawing->lastFrame().spheres, meshCounts.spheres);
        EXPECT_EQ(drawing->lastFrame().cylinders, meshCounts.cylinders);
        const Difference d = compare(impostors, meshes, 30);
        EXPECT_GT(d.covered, 8000);
        // A round outline against a polygon's, and tubes for 8-sided prisms: edges move by a pixel.
        EXPECT_LT(d.coverage, d.covered / 25) << "spheres " << spheres;
        EXPECT_LT(d.colour, d.covered / 8) << "spheres " << spheres;
    }
}

// Distant nodes of a large network: points where the spheres were, of about their size and
// colour, thin lines for the tubes between them; a selected node stays a sphere with its tubes.
TEST_F(DrawingTest, DistantNodesArePointsInPlaceOfTheirSpheres)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    if (!load("1ubq.pdb", &ElasticNetworkModel::generateColourListOverSeq)) GTEST_SKIP() << "1ubq.pdb is not available";
    const Vector3d centre = middle(*s->network);
    const Vector3d eye = centre + Vector3d(0, 0, 1300.0f); // every node beyond 77 Å
    const int32_t n = s->network->getAmountOfAtoms();
    const int32_t tubes = n - static_cast<int32_t>(drawing->getChainLengths().size());
    frame(*drawing, eye, centre);
    EXPECT_EQ(drawing->lastFrame().points, 0) << "76 nodes are drawn in full";
    const QImage full = savePicture(gl, "1ubq-distant-full.png");

    drawing->setCheapFarNodes(NetworkDrawing::CheapFar::Always);
    frame(*drawing, eye, centre);
    const QImage cheap = savePicture(gl, "1ubq-distant-points.png");
    EXPECT_EQ(drawing->lastFrame().points, n);
    EXPECT_EQ(drawing->lastFrame().lines, tubes);
    // Lines for tubes: less is covered, but the nodes' hues show as much as before.
    const Difference d = compare(cheap, full, 90);
    EXPECT_GT(d.covered, 1000);
    EXPECT_LT(d.coverage, d.covered);
    for (int hue : {240, 180, 120, 60}) {
        const int before = pixelsOfHue(full, hue), now = pixelsOfHue(cheap, hue);
        EXPECT_GT(before, 20) << "hue " << hue;
        EXPECT_GT(now, before / 2) << "hue " << hue;
        EXPECT_LT(now, before * 2) << "hue " << hue;
    }

    Atom* held = s->network->getAtom(40);
    held->setSelected(true);
    frame(*drawing, eye, centre);
    held->setSelected(false);
    EXPECT_EQ(drawing->lastFrame().points, n - 1);
    EXPECT_EQ(std::accumulate(drawing->lastFrame().spheres.begin(), drawing->lastFrame().spheres.end(), 0), 1);
    EXPECT_EQ(drawing->lastFrame().cylinders + drawing->lastFrame().lines, tubes);
    EXPECT_EQ(drawing->lastFrame().cylinders, 2);
}

TEST_F(DrawingTest, PulledNodeShowsItsArrowAndAHaloOfItsColour)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    const auto path = findPdb("1ubq.pdb");
    if (path.empty()) GTEST_SKIP() << "1ubq.pdb is not available";
    auto s = solvedStructure(path);
    ASSERT_TRUE(s);
    VirtualDeviceSession session(*s->network, s->atoms, testOptions(true));
    ASSERT_TRUE(session.ok());
    ElasticNetworkModel& eln = *s->network;
    const int node = 47;
    session.tick(Vector3d(0, 0, 1000), 0);
    ASSERT_EQ(session.hold(session.nodeInDevice(node) + Vector3d(11, 0, 0), 0, 1).atom, node);
    session.hold(session.nodeInDevice(node) + Vector3d(11, 0, 0), 1, 1);
    session.hold(session.nodeInDevice(node) + Vector3d(11, 60, 0), 1, 200); // upwards, across the chain
    Atom* atom = eln.getAtom(node);
    ASSERT_NE(atom->getMyApplyingForce(), Vector3d());
    ASSERT_EQ(eln.getContactList().size(), 1u);

    NetworkDrawing drawing(eln);
    drawing.init();
    drawing.generateRenderingBB();
    const Vector3d p = eln.deformation().getDeformedPosition(node);
    frame(drawing, p + Vector3d(0, 0, 250), p, false, true);
    savePicture(gl, "1ubq-pulled.png");
    EXPECT_EQ(drawing.lastFrame().arrows, 1);

    EXPECT_EQ(drawing.lastFrame().halos, 1);
    const Vector3d arrowColour = atom->getCurrentArrowColour();
    EXPECT_GT(pixelsOfHue(readRgb(gl), hueOfColour(arrowColour), 10), 300);
    EXPECT_EQ(atom->getCurrentArrowColour(),
              NetworkGeometry::hueColour(static_cast<int>((1 - atom->getEQForce()) * 240)));

    // The halo follows the arrow: blue for a weak pull, red at the maximum force. Without the
    // arrows drawn too.
    eln.setRenderForces(false);
    const Vector3d eye = p + Vector3d(0, 0, 150);
    for (const auto& [eq, hue] : {std::pair{0.0f, 240}, std::pair{1.0f, 0}}) {
        atom->setInitEQForce(eq);
        frame(drawing, eye, p, false, true);
        EXPECT_EQ(drawing.lastFrame().arrows, 0);
        EXPECT_EQ(atom->getCurrentArrowColour(), NetworkGeometry::hueColour(hue));
        EXPECT_GT(pixelsOfHue(readRgb(gl), hue, 20), 1500) << "eqForce " << eq;
    }
}

TEST_F(DrawingTest, SpringsAppearWhenSwitchedOn)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    if (!load("1ubq.pdb")) GTEST_SKIP() << "1ubq.pdb is not available";
    s->network->setRenderingSpheres(false);
    auto greyLines = [](const QImage& image) {
        return countPixels(image, [](const QColor& c) {
            return std::abs(c.red() - 128) < 6 && std::abs(c.green() - 128) < 6 && std::abs(c.blue() - 128) < 6;
        });
    };
    const Vector3d centre = middle(*s->network);
    frame(*drawing, centre + Vector3d(0, 0, 700), centre);
    const int without = greyLines(readRgb(gl));
    frame(*drawing, centre + Vector3d(0, 0, 700), centre, true);
    const int with = greyLines(readRgb(gl));
    EXPECT_EQ(drawing->lastFrame().springs * 2, s->network->geometry().getAmountOfSprings());
    EXPECT_GT(with, without + 2000);
}

TEST_F(DrawingTest, RigidDrawingBeforeTheModesAndAOneNodeChain)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    {
        // Read but not set up: no node atoms yet, nothing to draw.
        TempFile file(oneNodeAndFourNodeChains());
        LoadedStructure read(file.path());
        NetworkDrawing early(*read.network);
        early.generateRenderingBB();
        frame(early, Vector3d(0, 0, 1300), Vector3d(), true, true);
        EXPECT_EQ(early.lastFrame().spheres[0] + early.lastFrame().springs, 0);
    }
    auto s = buildNetworkFromText(oneNodeAndFourNodeChains(), 50.0f);
    ASSERT_TRUE(s && s->network);
    ElasticNetworkModel& eln = *s->network;
    ASSERT_FALSE(eln.isSetup());
    NetworkDrawing drawing(eln);
    drawing.init();
    drawing.generateRenderingBB();
    EXPECT_EQ(drawing.getChainLengths(), (std::vector<int32_t>{1, 4}));
    const Vector3d centre = middle(*s->network);
    frame(drawing, centre + Vector3d(0, 0, 1300), centre);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_TRUE(drawing.lastFrame().rigid);
    EXPECT_EQ(drawing.lastFrame().spheres[0], 5);
    EXPECT_EQ(drawing.lastFrame().cylinders, 3);
    // The one-node chain's sphere (six times the node size before the modes) at the centre.
    const QImage image = savePicture(gl, "rigid-two-chains.png");
    EXPECT_TRUE(drawn(image.pixelColor(240, 240)));
    // As impostors: the same shapes in the same places.
    drawing.setPhongBatches(true);
    frame(drawing, centre + Vector3d(0, 0, 1300), centre);
    ASSERT_TRUE(drawing.drewImpostors());
    EXPECT_TRUE(drawing.lastFrame().rigid);
    EXPECT_EQ(drawing.lastFrame().spheres[0], 5);
    EXPECT_EQ(drawing.lastFrame().cylinders, 3);
    const Difference d = compare(savePicture(gl, "rigid-two-chains-impostors.png"), image, 60);
    EXPECT_LT(d.coverage, d.covered / 25);
}

TEST_F(DrawingTest, LevelBandsAndAOneNodeChainOnceTheModesAreSetUp)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    auto s = solvedFromText(oneNodeAndFourNodeChains());
    ASSERT_TRUE(s);
    ElasticNetworkModel& eln = *s->network;
    ASSERT_TRUE(eln.isSetup());
    NetworkDrawing drawing(eln);
    drawing.init();
    drawing.generateRenderingBB();
    // The camera exactly 200000 model units² from the lone node: level 1, not 0.
    const Vector3d lone = eln.deformation().getDeformedPosition(0);
    const Vector3d cam = lone + Vector3d(400, 200, 0);
    ASSERT_EQ(lone.squaredEuclideanDistance(cam), 200000.0f);
    for (bool batched : {true, false}) {
        drawing.setBatched(batched);
        beginFrame(gl, cam);
        drawing.updateBackboneAngles();
        drawing.renderBackbone(cam);
        std::array<int32_t, 7> expected{};
        for (int i = 0; i < eln.getAmountOfAtoms(); ++i)
            ++expected[static_cast<std::size_t>(
                NetworkDrawing::levelOfDetail(eln.deformation().getDeformedPosition(i).squaredEuclideanDistance(cam)))];
        EXPECT_EQ(drawing.lastFrame().spheres, expected);
        EXPECT_GE(drawing.lastFrame().spheres[1], 1);
        EXPECT_EQ(drawing.lastFrame().cylinders, 3); // none for the one-node chain
    }
}

TEST_F(DrawingTest, ArrowsRunFromTheSurfaceAwayAlongEveryAxis)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    // One atom at the origin, radius 6, seen from +z through a parallel projection of 10 pixels
    // per model unit. A force f gives d = −f/|f|; the arrow starts |f| + 6 out along −d, its
    // shaft runs back to the surface and its head (2 long, stretched twice) points away: along
    // −d from 6 to 10 + |f|. Along ±x the rotation axis vanishes; the arrow must still point the right way.
    Atom atom(Vector3d(), Vector3d(0.5f, 0.5f, 0.5f), "C Alpha", 6.0f, 0, "C", "1", "ALA", "A");
    const float m = 5.0f;
    const std::pair<Vector3d, Vector3d> cases[] = {
        {{m, 0, 0}, {1, 0, 0}}, {{-m, 0, 0}, {-1, 0, 0}}, {{0, m, 0}, {0, 1, 0}}, {{0, -m, 0}, {0, -1, 0}}};
    for (const auto& [kcal, away] : cases) {
        atom.addAForce(kcal, m);
        atom.setScaledForce(kcal);
        atom.setInitEQForce(1.0f);
        beginFrame(gl, Vector3d(0, 0, 50));
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-24.0, 24.0, -24.0, 24.0, -100.0, 100.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_LIGHTING);
        renderForces(atom);
        const QImage image = readRgb(gl);
        // Extent of the red arrow along `away`, in model units from the atom's centre.
        float lo = 1e9f, hi = -1e9f;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                if (hueOf(image.pixelColor(x, y)) != 0) continue;
                const float u = (x + 0.5f - 240.0f) / 10.0f, v = (240.0f - y - 0.5f) / 10.0f;
                const float along = u * away.x + v * away.y;
                lo = std::min(lo, along);
                hi = std::max(hi, along);
            }
        EXPECT_NEAR(lo, 6.0f, 0.3f) << "force " << kcal;
        EXPECT_NEAR(hi, 10.0f + m, 0.3f) << "force " << kcal;
    }
}

TEST_F(DrawingTest, ShowSpheresOffShrinksTheSpheresOnly)
{
    VORNAX_REQUIRE_CONTEXT(gl);
    // The lone node of the two-chain network, seen through a parallel projection of 2 pixels
    // per model unit: the width of its sphere across the middle row of the picture.
    auto rigid = buildNetworkFromText(oneNodeAndFourNodeChains(), 50.0f);
    auto solved = solvedFromText(oneNodeAndFourNodeChains());
    ASSERT_TRUE(rigid && solved);
    auto sphereWidth = [&](ElasticNetworkModel& eln, bool spheres) {
        eln.setRenderingSpheres(spheres);
        NetworkDrawing drawing(eln);
        drawing.init();
        drawing.generateRenderingBB();
        const Vector3d lone = eln.deformation().getDeformedPosition(0);
        beginFrame(gl, lone + Vector3d(0, 0, 500), lone);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-120.0, 120.0, -120.0, 120.0, 1.0, 2000.0);
        glMatrixMode(GL_MODELVIEW);
        drawing.updateBackboneAngles();
        drawing.renderBackbone(lone + Vector3d(0, 0, 500));
        const QImage image = readRgb(gl);
        int left = 240, right = 240;
        while (left > 0 && drawn(image.pixelColor(left - 1, 240))) --left;
        while (right < 479 && drawn(image.pixelColor(right + 1, 240))) ++right;
        return drawing.lastFrame().cylinders == 3 ? (right - left + 1) / 2.0f : -1.0f; // model units
    };
    // Radius 6: six times that before the modes are set up, 0.1 of it without "Show Spheres";
    // once they are, 0.3 of it without. The cylinders are drawn either way.
    EXPECT_NEAR(sphereWidth(*rigid->network, true), 72.0f, 2.0f);
    EXPECT_NEAR(sphereWidth(*rigid->network, false), 7.2f, 1.5f);
    EXPECT_NEAR(sphereWidth(*solved->network, true), 12.0f, 1.5f);
    EXPECT_NEAR(sphereWidth(*solved->network, false), 3.6f, 1.5f);
}
