#include "molecule/Atom.h"
#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "molecule/AtomLinkedList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace vornax;

namespace {
std::unique_ptr<Atom> makeAtom(int key = 0, const Vector3d& pos = Vector3d(10, 20, 30))
{
    auto a = std::make_unique<Atom>(pos, Vector3d(1, 0, 0), "CA  ALA A   1", 6.0f, key, "C", "  12 ", " ALA", " A");
    a->init();
    return a;
}
} // namespace

TEST(AtomTest, ConstructionDefaults)
{
    auto a = makeAtom(7);
    EXPECT_EQ(a->getResidue(), "12");       // trimmed
    EXPECT_EQ(a->getResidueName(), " ALA"); // unchanged
    EXPECT_EQ(a->getChainID(), " A");       // unchanged
    EXPECT_EQ(a->getMyLocalPosition(), Vector3d(10, 20, 30));
    EXPECT_EQ(a->getMyDeformedPosition(), Vector3d(10, 20, 30));
    EXPECT_EQ(a->getPressed(), 3);
    EXPECT_FALSE(a->isSelected());
    EXPECT_FALSE(a->isWater());
    EXPECT_FALSE(a->isInContact());
    EXPECT_EQ(a->getMyPositionInOriginalList(), 7);
    EXPECT_EQ(a->getCurrentArrowColour(), Vector3d(0, 1, 1));
    EXPECT_FLOAT_EQ(a->getMyResidueColour().x, 0.78431374f);
    EXPECT_EQ(a->getCamZoom(), 1.0f);
    for (int v : a->getGridIndices()) EXPECT_EQ(v, -1);
    for (int i = 0; i < 22; ++i) EXPECT_EQ(a->getStatePosition(i), 0);
}

TEST(AtomTest, ForcesAndSelection)
{
    auto a = makeAtom();
    a->addAForce(Vector3d(1, 0, 0), 2.0f);
    EXPECT_FALSE(a->hasForceApplied()); // only an applying force
    EXPECT_FALSE(a->hasForce());
    a->saveForce();
    EXPECT_TRUE(a->hasForceApplied());
    EXPECT_TRUE(a->hasForce());
    a->addAForce(Vector3d(), 0.0f);
    EXPECT_FALSE(a->hasForce()); // only a saved force
    EXPECT_TRUE(a->hasForceApplied());

    a->addAForce(Vector3d(0, 2, 0), 2.0f);
    a->setSelected(true);
    EXPECT_EQ(a->getMyApplyingForce(), Vector3d(0, 2, 0));
    EXPECT_EQ(a->getMyForceApplied(), Vector3d(1, 0, 0));
    a->setSelected(false);
    EXPECT_EQ(a->getMyApplyingForce(), Vector3d());
    EXPECT_EQ(a->getMyForceApplied(), Vector3d());

    a->addAForce(Vector3d(3, 4, 0), 5.0f);
    a->setEQForce(2.0, 5.0);
    EXPECT_FLOAT_EQ(a->getEQForce(), 0.5f);
    a->setOldKcalForce(1.5, -2.25, 1e-3);
    EXPECT_EQ(a->getOLDKcalForce(), Vector3d(1.5f, -2.25f, 1e-3f));
}

TEST(AtomTest, ModeStateArray)
{
    auto a = makeAtom();
    ElasticNetworkModel eln; // the record is written under a network's mode change
    const ModeChangeToken token = eln.beginModeChange();
    const int32_t modes[20] = {7, 8, 9};
    a->setArrayOfValues(token, modes, 3);
    EXPECT_EQ(a->getStatePosition(1), 3);
    EXPECT_EQ(a->getStatePosition(2), 7);
    EXPECT_EQ(a->getStatePosition(4), 9);
    EXPECT_EQ(a->getStatePosition(5), 0);
    a->setModeSelectState(token, 2);
    a->setSliderAmount(token, 40);
    EXPECT_EQ(a->getStateArray()[0], 2);
    EXPECT_EQ(a->getStateArray()[1], 40);
    // Out-of-range indices are ignored rather than written past the array.
    a->setStatePosition(token, 22, 5);
    a->setStatePosition(token, -1, 5);
    EXPECT_EQ(a->getStatePosition(22), 0);
    const int32_t grid[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    a->setIndicesToGrid(grid, 10);
    EXPECT_EQ(a->getGridIndexCount(), 8);
    EXPECT_EQ(a->getGridIndices()[7], 8);
}

TEST(AtomTest, ConnectedListIsCached)
{
    auto a = makeAtom(0), b = makeAtom(1), c = makeAtom(2);
    a->addToMyConnectedList(a.get());
    a->addToMyConnectedList(c.get());
    a->createConnectedListPtr();
    ASSERT_EQ(a->getAmountOfConnectedAtoms(), 2);
    EXPECT_EQ(a->getConnectedAtom(0), a.get());
    EXPECT_EQ(a->getConnectedAtom(1), c.get());
    EXPECT_EQ(b->getAmountOfConnectedAtoms(), 0);
}

TEST(AtomLinkedListTest, KeepsFileOrderAndRefusesDuplicates)
{
    auto a5 = makeAtom(5), a2 = makeAtom(2), a9 = makeAtom(9), a7 = makeAtom(7), other5 = makeAtom(5);
    AtomLinkedList list;
    EXPECT_TRUE(list.insert(a5.get()));
    EXPECT_TRUE(list.insert(a2.get()));
    EXPECT_TRUE(list.insert(a9.get()));
    EXPECT_TRUE(list.insert(a7.get()));
    EXPECT_FALSE(list.insert(a5.get()));
    EXPECT_FALSE(list.insert(other5.get()));
    EXPECT_FALSE(list.insert(a9.get()));
    EXPECT_FALSE(list.insert(a2.get()));
    std::vector<int> keys;
    for (auto* n = list.getHead(); n; n = n->next) keys.push_back(n->atom->getMyPositionInOriginalList());
    EXPECT_EQ(keys, (std::vector<int>{2, 5, 7, 9}));
}

TEST(AtomTest, HSVtoRGB)
{
    int r, g, b;
    HSVtoRGB(r, g, b, 0, 255, 200);
    EXPECT_EQ(std::make_tuple(r, g, b), std::make_tuple(200, 0, 0));
    HSVtoRGB(r, g, b, 240, 255, 200);
    EXPECT_EQ(std::make_tuple(r, g, b), std::make_tuple(0, 0, 200));
    HSVtoRGB(r, g, b, 120, 0, 77);
    EXPECT_EQ(std::make_tuple(r, g, b), std::make_tuple(77, 77, 77));
    // Hue 90: i = 1, f = 127, q = (256 − 127·255/256)·200/256 = 101.
    HSVtoRGB(r, g, b, 90, 255, 200);
    EXPECT_EQ(std::make_tuple(r, g, b), std::make_tuple(101, 200, 0));
    HSVtoRGB(r, g, b, 359, 255, 200); // i = 5: (v, p, q)
    EXPECT_EQ(r, 200);
    EXPECT_EQ(g, 0);
}

TEST(AtomTest, ContactWithDeformedSphere)
{
    auto a = makeAtom(0, Vector3d(0, 0, 0));
    a->setMyDeformedPosition(Vector3d(100, 0, 0));
    // Boundary radius 6·camZoom + radius = 12: strictly inside only.
    EXPECT_TRUE(a->pointToSphereDeformed(Vector3d(111.9f, 0, 0)));
    EXPECT_FALSE(a->pointToSphereDeformed(Vector3d(112, 0, 0)));
    EXPECT_FALSE(a->pointToSphereDeformed(Vector3d(0, 0, 0))); // the undeformed place no longer counts
    a->setCamZoom(2.0f);
    EXPECT_TRUE(a->pointToSphereDeformed(Vector3d(117, 0, 0)));

    // Constraint sphere of radius 12·camZoom = 24 around the deformed position.
    const Vector3d pushed = a->constrainPointToSphereDeformed(Vector3d(100, 10, 0));
    EXPECT_NEAR(pushed.x, 100.0f, 1e-4);
    EXPECT_NEAR(pushed.y, 24.0f, 1e-4);
    EXPECT_EQ(a->constrainPointToSphereDeformed(Vector3d(100, 30, 0)), Vector3d(100, 30, 0));
    const Vector3d fromCentre = a->constrainPointToSphereDeformed(Vector3d(100, 0, 0));
    EXPECT_FALSE(std::isnan(fromCentre.x));
    EXPECT_NEAR(fromCentre.euclideanDistance(Vector3d(100, 0, 0)), 24.0f, 1e-4);
}

TEST(AtomTest, ForceArrowGeometry)
{
    auto a = makeAtom(0, Vector3d(0, 0, 0));
    EXPECT_FALSE(a->computeForceArrow().visible);

    for (const Vector3d& force : {Vector3d(0, 0, 5), Vector3d(-3, 4, 0), Vector3d(1, 1, 1), Vector3d(0, -2, 0)}) {
        a->addAForce(Vector3d(1, 0, 0), 1.0f);
        a->addAKcalForce(force);
        a->setInitEQForce(0.0f);
        const ForceArrowGeometry g = a->computeForceArrow();
        ASSERT_TRUE(g.visible);
        const Vector3d d = (-force).normalized();
        EXPECT_TRUE(g.direction.isEqual(d, 1e-6f));
        // Turning x about the axis by the angle must land on d.
        const double th = g.angleDegrees * M_PI / 180.0;
        const Vector3d x(1, 0, 0), k = g.axis;
        const Vector3d turned = x * static_cast<float>(std::cos(th)) + (k * x) * static_cast<float>(std::sin(th))
            + k * (k.dotProduct(x) * static_cast<float>(1 - std::cos(th)));
        EXPECT_TRUE(turned.isEqual(d, 1e-5f)) << force;
        EXPECT_FLOAT_EQ(a->getM(), force.size());
        EXPECT_EQ(g.colour, Vector3d(0, 0, 200 / 255.0f)); // unstrained: blue
        // Shaft starts behind the atom by radius + magnitude, along −d.
        EXPECT_TRUE(g.start.isEqual(-d * (6.0f + force.size()), 1e-4f));
        EXPECT_EQ(g.shaftYRotation, 90.0f);
        EXPECT_EQ(g.shaftScale, Vector3d(1, 1, force.size()));
        EXPECT_EQ(g.headScale, Vector3d(1, 1, 2));
    }

    a->setInitEQForce(1.0f);
    EXPECT_EQ(a->computeForceArrow().colour, Vector3d(200 / 255.0f, 0, 0)); // at the maximum: red
    EXPECT_EQ(a->getCurrentArrowColour(), Vector3d(200 / 255.0f, 0, 0));
    a->changeForceRenderMode(true);
    const ForceArrowGeometry g = a->computeForceArrow();
    EXPECT_TRUE(g.start.isEqual(g.direction * 8.0f, 1e-4f));
    EXPECT_EQ(g.shaftYRotation, -90.0f);
}

TEST(AtomTest, SphereStrip)
{
    const SphereMesh m = makeSphereStrip(1, 2, 3, 6, 18);
    const std::size_t expected = 2 * 19 * 9;
    ASSERT_EQ(m.indices.size(), expected);
    ASSERT_EQ(m.vertices.size(), 3 * expected);
    ASSERT_EQ(m.normals.size(), 3 * expected);
    for (std::size_t i = 0; i < expected; ++i) {
        EXPECT_EQ(m.indices[i], i);
        const Vector3d n(m.normals[3 * i], m.normals[3 * i + 1], m.normals[3 * i + 2]);
        const Vector3d v(m.vertices[3 * i], m.vertices[3 * i + 1], m.vertices[3 * i + 2]);
        EXPECT_NEAR(n.size(), 1.0f, 1e-6);
        EXPECT_TRUE((v - Vector3d(1, 2, 3)).isEqual(n * 6.0f, 1e-5f));
    }
    // The strip starts at the south pole and the first band's second vertex is one step up.
    EXPECT_NEAR(m.normals[1], -1.0f, 1e-6);
    EXPECT_NEAR(m.normals[4], std::sin(2 * M_PI / 18 - M_PI / 2), 1e-6);
    // The last band ends at the north pole.
    EXPECT_NEAR(m.normals[3 * expected - 2], 1.0f, 1e-6);

    EXPECT_TRUE(makeSphereStrip(0, 0, 0, 1, 0).indices.empty());
}
