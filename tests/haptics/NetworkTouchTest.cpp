// Touching and pulling the network on the virtual device in manual mode: every tick is one
// servo tick followed by one simulation step of the real network.
#include "HapticsTestSupport.h"

#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vornax;
using namespace vornax::testing;

namespace {

class NetworkTouchTest : public ::testing::Test {
protected:
    void open(const char* pdb = "1crn.pdb", bool saving = false, float factor = 1.0f)
    {
        const auto path = findPdb(pdb);
        if (path.empty()) GTEST_SKIP() << pdb << " is not available";
        s = solvedStructure(path);
        ASSERT_TRUE(s);
        session = std::make_unique<VirtualDeviceSession>(*s->network, s->atoms, testOptions(saving, factor));
        ASSERT_TRUE(session->ok());
        eln = s->network.get();
        dev = &session->device();
    }

    TickRecord at(int node, float dx, int buttons, int64_t ticks = 1)
    {
        return session->hold(session->nodeInDevice(node) + Vector3d(dx, 0.0f, 0.0f), buttons, ticks);
    }

    /// Touches `node` from +x, presses the front button and pulls to `distance` mm from it.
    void pull(int node, float distance, int64_t ticks)
    {
        session->tick(Vector3d(0.0f, 0.0f, 1000.0f), 0); // away from everything: no contact
        ASSERT_EQ(at(node, 11.0f, 0).atom, node);
        at(node, 11.0f, 1);
        at(node, distance, 1, ticks);
    }

    /// Non-saving release: button up (output freezes), press again, and let go far away.
    void releaseFar(int node, float distance)
    {
        at(node, distance, 0);
        at(node, distance, 1);
        at(node, distance, 0);
    }

    std::unique_ptr<LoadedStructure> s;
    std::unique_ptr<VirtualDeviceSession> session;
    ElasticNetworkModel* eln = nullptr;
    SensableHaptics* dev = nullptr;
};

} // namespace

TEST_F(NetworkTouchTest, SetUpAsAfterALoad)
{
    open();
    // The virtual device is no listed model: the safe parameters.
    EXPECT_FLOAT_EQ(dev->getDeviceParams().maxForce, 3.0f);
    EXPECT_FLOAT_EQ(dev->getHapticScale(), static_cast<float>(std::sqrt(160.0 * 160 + 120 * 120 + 80 * 80) / 10.0));
    EXPECT_FLOAT_EQ(dev->getZoom(), 1.0f);
    const Vector3d t = dev->getTranslation();
    EXPECT_EQ(t, Vector3d(0.0f, 0.0f, -session->sphereRadius()));
    EXPECT_GT(session->sphereRadius(), 0.0f);
    // Network nodes are indexed by their place in the network list.
    for (int i = 0; i < eln->getAmountOfAtoms(); ++i) ASSERT_EQ(eln->getAtom(i)->getMyPositionInOriginalList(), i);
}

TEST_F(NetworkTouchTest, ContactStartsInsideTheBoundaryNotOnIt)
{
    open();
    dev->reset(Vector3d()); // model and device coordinates coincide
    dev->setModelCentre(Vector3d());
    // A node whose x + 12 is exact in single precision, so that the probe lies on the boundary.
    int node = -1;
    Vector3d c;
    for (int i = 0; i < eln->getAmountOfAtoms() && node < 0; ++i) {
        c = eln->getAtom(i)->getMyLocalPosition();
        if (static_cast<double>(c.x + 12.0f) - c.x == 12.0) node = i;
    }
    ASSERT_GE(node, 0);
    const Vector3d boundary(c.x + 12.0f, c.y, c.z);
    EXPECT_EQ(session->tick(boundary, 0).atom, -1);
    EXPECT_FALSE(eln->getAtom(node)->isInContact());
    const Vector3d inside(std::nextafter(boundary.x, c.x), c.y, c.z);
    const TickRecord r = session->tick(inside, 0);
    EXPECT_EQ(r.atom, node);
    EXPECT_TRUE(eln->getAtom(node)->isInContact());
    EXPECT_EQ(eln->getAtom(node)->getInitialPosition(), eln->getAtom(node)->getMyDeformedPosition());
    // Sliding along the surface keeps contact; leaving to 12 mm or more ends it.
    at(node, 11.5f, 0, 5);
    EXPECT_EQ(dev->getCurrentAtom(), eln->getAtom(node));
    at(node, 12.5f, 0, 3);
    EXPECT_FALSE(eln->getAtom(node)->isInContact());
}

TEST_F(NetworkTouchTest, OverlappingSpheresTouchTheEarlierNode)
{
    // Nodes 1.6 Å apart: their contact spheres (1.2 Å) overlap.
    const std::vector<Vector3d> positions{
        {0, 0, 0}, {1.6f, 0, 0}, {3.2f, 0.6f, 0}, {4.2f, 1.5f, 0.8f}, {5.0f, 0.2f, 1.6f}};
    s = buildNetworkFromText(cAlphaChain(positions));
    ASSERT_TRUE(s && s->ok);
    session = std::make_unique<VirtualDeviceSession>(*s->network, s->atoms, testOptions());
    ASSERT_TRUE(session->ok());
    eln = s->network.get();
    const Vector3d p0 = session->nodeInDevice(0), p1 = session->nodeInDevice(1);
    const Vector3d probe = p0 + (p1 - p0) * (10.0f / 16.0f); // 10 from node 0, 6 from node 1
    EXPECT_EQ(session->tick(probe, 0).atom, 0);
}

TEST_F(NetworkTouchTest, InteractionOffNeverTouches)
{
    open();
    dev->setReconfiguringMolecule(0);
    EXPECT_EQ(at(5, 5.0f, 0, 3).atom, -1);
    EXPECT_EQ(dev->getSCP(), dev->getDevicePoint());
    dev->setReconfiguringMolecule(1);
    EXPECT_EQ(at(5, 5.0f, 0).atom, 5);
}

TEST_F(NetworkTouchTest, SurfaceForcePushesTheProbeOut)
{
    open();
    at(7, 11.0f, 0);
    const TickRecord r = at(7, 8.0f, 0); // 4 mm into the sphere of 12
    ASSERT_TRUE(r.forceSent);
    EXPECT_GT(r.force[0], 0.0);
    EXPECT_LT(r.force[0], 0.15 * 4.0); // filtered: only a fraction of the spring force yet
}

TEST_F(NetworkTouchTest, PullIsClampedScaledAndDeformsTheNetwork)
{
    open("1crn.pdb", false, 2.0f);
    const int node = 20;
    const float scale = dev->getHapticScale();
    pull(node, 40.0f, 3);
    Atom* atom = eln->getAtom(node);
    EXPECT_TRUE(atom->isSelected());
    EXPECT_EQ(atom->getPressed(), 1);
    EXPECT_EQ(dev->getSelectionStack(), std::vector<int32_t>{node});
    // Magnitude from the distance to the atom's position at contact, less the rest length 6.
    const Vector3d probe =
        Haptics::deviceToModel(dev->getTransform(), session->nodeInDevice(node) + Vector3d(40, 0, 0));
    const float m = (atom->getInitialPosition().euclideanDistance(probe) - 6.0f) / scale;
    ASSERT_LT(m, 3.0f);
    EXPECT_NEAR(atom->getMyApplyingForce().size(), 2.0f * m, 1e-4);
    EXPECT_NEAR(atom->getEQForce(), m / 3.0f, 1e-5);
    // The network receives the force in kcal/mol/Å, pointing from the atom towards the probe.
    const Vector3d kcal = atom->getKcalForce();
    EXPECT_NEAR(kcal.size(), 2.0 * m * eln->modes().getNewtonToKcal() * eln->getS(), 1e-3 * kcal.size());
    EXPECT_GT(kcal.x, 0.0f);
    EXPECT_GT(eln->deformation().getDisplacement()[3 * node], 0.0);
    EXPECT_GT(atom->getMyDeformedPosition().x, atom->getMyLocalPosition().x);

    // Far away the pull is clamped to maxForce, then scaled by the factor.
    at(node, 400.0f, 1, 2);
    EXPECT_NEAR(atom->getMyApplyingForce().size(), 2.0f * 3.0f, 1e-4);
    EXPECT_NEAR(atom->getEQForce(), 1.0f, 1e-5);
    // Inside the rest length there is no pull.
    at(node, 5.0f, 1, 2);
    EXPECT_FLOAT_EQ(atom->getMyApplyingForce().size(), 0.0f);
}

TEST_F(NetworkTouchTest, DeviceForceFollowsTheFilter)
{
    open();
    const int node = 12;
    pull(node, 30.0f, 1);
    const float m = (30.0f - 6.0f) / dev->getHapticScale(); // along x: the probe is 30 mm out
    std::vector<TickRecord> records;
    for (int i = 0; i < 200; ++i) records.push_back(at(node, 30.0f, 1));
    for (std::size_t i = 1; i < records.size(); ++i) {
        ASSERT_TRUE(records[i].forceSent);
        // The pull points back at the atom (−x); the filter takes 1 % of it each tick.
        const double expected = 0.99 * records[i - 1].force[0] + 0.01 * -m;
        ASSERT_NEAR(records[i].force[0], expected, 1e-5) << "tick " << i;
        ASSERT_NEAR(records[i].force[1], 0.99 * records[i - 1].force[1], 1e-6);
    }
    // After two hundred ticks the output is most of the way there.
    EXPECT_NEAR(records.back().force[0], -m, 0.2 * m);
}

TEST_F(NetworkTouchTest, ReleaseRampsDownAndTheMoleculeReturns)
{
    open();
    const int node = 15;
    const std::vector<double> before = eln->deformation().getDisplacement();
    pull(node, 60.0f, 5);
    Atom* atom = eln->getAtom(node);
    const float pulled = atom->getMyApplyingForce().size();
    ASSERT_GT(pulled, 1.0f);
    ASSERT_GT(maxDisplacement(*eln), 1e-4);

    // Button up: the output freezes (nothing is sent) until the next press.
    EXPECT_FALSE(at(node, 60.0f, 0, 3).forceSent);
    at(node, 60.0f, 1);
    // Let go outside the sphere: released, and the ramp starts from the last pull.
    at(node, 60.0f, 0);
    EXPECT_EQ(atom->getPressed(), 3); // the simulation answered the release
    float last = pulled;
    int rampTicks = 0;
    while (dev->getCurrentAtom() == atom && rampTicks < 1000) {
        at(node, 60.0f, 0);
        ++rampTicks;
        if (dev->getCurrentAtom() != atom) break;
        EXPECT_NEAR(atom->getM(), last - 0.01f, 1e-4);
        EXPECT_NEAR(atom->getMyApplyingForce().size(), last, 1e-4);
        EXPECT_GE(atom->getM(), 0.3f);
        last = atom->getM();
    }
    EXPECT_EQ(rampTicks, static_cast<int>(std::floor((pulled - 0.3f) / 0.01f)) + 1);
    EXPECT_LT(last - 0.01f, 0.3f);
    // The atom is gone from the pull and the molecule is back where it was before the pull.
    EXPECT_FALSE(atom->isSelected());
    EXPECT_EQ(atom->getPressed(), 3);
    EXPECT_EQ(atom->getOLDKcalForce(), Vector3d());
    EXPECT_EQ(atom->getMyApplyingForce(), Vector3d());
    EXPECT_TRUE(eln->getContactList().empty());
    EXPECT_EQ(hdapi::VirtualDevice::instance().currentForce(), (std::array<double, 3>{0.0, 0.0, 0.0}));
    ASSERT_EQ(eln->deformation().getDisplacement().size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) ASSERT_NEAR(eln->deformation().getDisplacement()[i], before[i], 1e-12);
    EXPECT_EQ(atom->getMyDeformedPosition(), atom->getMyLocalPosition());

    // The same atom can be pulled again.
    pull(node, 30.0f, 2);
    EXPECT_EQ(atom->getPressed(), 1);
    EXPECT_GT(maxDisplacement(*eln), 1e-4);
}

TEST_F(NetworkTouchTest, PressOnABusyAtomSelectsWithoutForce)
{
    open();
    const int node = 9;
    at(node, 11.0f, 0);
    Atom* atom = eln->getAtom(node);
    atom->simulateState(1); // still busy with an earlier pull
    const TickRecord r = at(node, 30.0f, 1, 3);
    EXPECT_TRUE(atom->isSelected());
    EXPECT_FALSE(r.forceSent);
    EXPECT_EQ(atom->getMyApplyingForce(), Vector3d());
}

TEST_F(NetworkTouchTest, PullingOffOnlyFeelsTheSurface)
{
    open();
    dev->setSimulateMode(false);
    const int node = 9;
    at(node, 11.0f, 0);
    at(node, 10.0f, 1, 3);
    EXPECT_EQ(eln->getAtom(node)->getMyApplyingForce(), Vector3d());
    EXPECT_EQ(maxDisplacement(*eln), 0.0);
}

TEST_F(NetworkTouchTest, SavedForcesStayAndUndoRemovesThemLastFirst)
{
    open("1crn.pdb", true);
    const int a = 5, b = 30;
    pull(a, 50.0f, 3);
    at(a, 50.0f, 0, 2); // let go outside: kept
    const std::vector<double> onlyA = eln->deformation().getDisplacement();
    EXPECT_NE(eln->getAtom(a)->getOLDKcalForce(), Vector3d());
    EXPECT_TRUE(eln->getNeedsListUpdate());
    pull(b, 50.0f, 3);
    at(b, 50.0f, 0, 2);
    EXPECT_NE(eln->getAtom(b)->getOLDKcalForce(), Vector3d());
    EXPECT_NE(eln->getAtom(a)->getOLDKcalForce(), Vector3d());
    EXPECT_EQ(dev->getSelectionStack(), (std::vector<int32_t>{a, b}));
    EXPECT_EQ(eln->getContactList().size(), 2u);
    // Nothing ramps down in force-saving mode.
    at(b, 80.0f, 0, 50);
    EXPECT_TRUE(eln->getAtom(b)->isSelected());

    EXPECT_TRUE(dev->popLastSelectionFromStack());
    EXPECT_EQ(eln->getAtom(b)->getOLDKcalForce(), Vector3d());
    EXPECT_FALSE(eln->getAtom(b)->isSelected());
    EXPECT_TRUE(eln->getAtom(a)->isSelected());
    for (std::size_t i = 0; i < onlyA.size(); ++i) ASSERT_NEAR(eln->deformation().getDisplacement()[i], onlyA[i], 1e-9);
    dev->resetAllForces();
    EXPECT_TRUE(dev->getSelectionStack().empty());
    EXPECT_LT(maxDisplacement(*eln), 1e-9);
    EXPECT_FALSE(dev->popLastSelectionFromStack());
}

TEST_F(NetworkTouchTest, MultiChainStructurePullsAndReturns)
{
    open("4hhb.pdb");
    // A node of the third chain.
    int node = -1;
    std::string firstChain = eln->getAtom(0)->getChainID();
    int chains = 1;
    for (int i = 1; i < eln->getAmountOfAtoms(); ++i) {
        if (eln->getAtom(i)->getChainID() != eln->getAtom(i - 1)->getChainID() && ++chains == 3) {
            node = i + 10;
            break;
        }
    }
    ASSERT_GT(node, 0);
    EXPECT_NE(eln->getAtom(node)->getChainID(), firstChain);
    pull(node, 50.0f, 3);
    EXPECT_GT(eln->deformation().getDisplacement()[3 * node], 0.0);
    releaseFar(node, 50.0f);
    at(node, 50.0f, 0, 400);
    EXPECT_EQ(dev->getCurrentAtom(), nullptr);
    EXPECT_LT(maxDisplacement(*eln), 1e-12);
}

TEST_F(NetworkTouchTest, HostileEigenDataNeverDrivesTheDeviceBeyondItsLimit)
{
    // Y and the modes as a hostile pair of eigen data files would leave them (nothing that
    // reads files may let them through, but the servo tick must hold whatever the network
    // computes): not numbers, or finite and absurdly large.
    for (const double poison : {std::nan(""), 1e300}) {
        session.reset(); // the device of the last round is closed before the next opens
        s.reset();
        open();
        if (IsSkipped() || HasFatalFailure()) return;
        const std::size_t dim = static_cast<std::size_t>(eln->get3N());
        double* y = const_cast<double*>(eln->modes().getYMatrix());
        double* modes = const_cast<double*>(eln->modes().getModeVectors());
        ASSERT_NE(y, nullptr);
        for (std::size_t i = 0; i < dim * dim; ++i) y[i] = std::isnan(poison) ? poison : y[i] * poison;
        for (std::size_t i = 0; i < dim * static_cast<std::size_t>(eln->getTotalMaxModes()); ++i)
            modes[i] = std::isnan(poison) ? poison : modes[i] * poison;

        const float limit = dev->getDeviceParams().maxForce;
        double largest = 0.0;
        auto ticks = [&](int node, float dx, int buttons, int count) {
            for (int k = 0; k < count; ++k) {
                const TickRecord r = session->tick(session->nodeInDevice(node) + Vector3d(dx, 0.0f, 0.0f), buttons);
                if (!r.forceSent) continue;
                const double size =
                    std::sqrt(r.force[0] * r.force[0] + r.force[1] * r.force[1] + r.force[2] * r.force[2]);
                ASSERT_TRUE(std::isfinite(size)) << poison;
                largest = std::max(largest, size);
            }
        };
        // The replay script of a pull: touch, grab, pull 40 mm, let go, press, let go.
        const int node = 10;
        session->tick(Vector3d(0.0f, 0.0f, 1000.0f), 0); // away from everything: no contact
        ticks(node, 11.0f, 0, 5);
        ticks(node, 11.0f, 1, 3);
        ticks(node, 40.0f, 1, 20);
        ticks(node, 40.0f, 0, 2);
        ticks(node, 40.0f, 1, 1);
        ticks(node, 40.0f, 0, 300);
        EXPECT_GT(largest, 0.0) << poison;
        EXPECT_LE(largest, limit) << poison;
        // The pull ended like any other: the atom is released, not left pulled.
        EXPECT_EQ(eln->getAtom(node)->getPressed(), 3) << poison;
        EXPECT_EQ(dev->getCurrentAtom(), nullptr) << poison;
    }
}

TEST_F(NetworkTouchTest, ReleaseReportsTheSliderModesItWentThrough)
{
    open();
    {
        const ModeChangeToken token = eln->beginModeChange();
        eln->useAllModes(token, false);
        eln->selectAmountOfModes(token, 12);
        eln->selectModeState(token, 1);
    }
    console::Capture capture;
    pull(15, 40.0f, 5);
    releaseFar(15, 40.0f);
    EXPECT_TRUE(capture.contains("setting amount of modes in atom: 12"));
    EXPECT_TRUE(capture.contains("atom: 15"));
}
