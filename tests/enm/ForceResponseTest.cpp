// Calibration, the response to forces and the simulation step.
#include "molecule/SessionFile.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <sstream>
#include <vector>

using namespace vornax;
using namespace vornax::testing;

namespace {

struct Solved {
    std::unique_ptr<LoadedStructure> s;
    ElasticNetworkModel* eln = nullptr;
};

Solved solve(const std::string& name, bool withY = true, float rc = 11.0f)
{
    Solved out;
    out.s = loadedThroughPipeline(findPdb(name), solvedOptions(rc, withY));
    out.eln = out.s ? out.s->network.get() : nullptr;
    return out;
}

std::vector<double> response(ElasticNetworkModel* eln, const double f[3], int node)
{
    std::vector<double> r(static_cast<std::size_t>(eln->get3N()));
    eln->deformation().computeResponse(f, node, 2, eln->getTotalMaxModes(), nullptr, r.data());
    return r;
}

std::vector<double> sum(std::vector<double> a, const std::vector<double>& b, double scale = 1.0)
{
    for (std::size_t i = 0; i < a.size(); ++i) a[i] += scale * b[i];
    return a;
}

void expectClose(const std::vector<double>& got, const std::vector<double>& want, const char* what)
{
    ASSERT_EQ(got.size(), want.size());
    double scale = 0, err = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        scale = std::max(scale, std::fabs(want[i]));
        err = std::max(err, std::fabs(got[i] - want[i]));
    }
    EXPECT_LE(err, 1e-9 * std::max(scale, 1e-30)) << what;
}

/// The force the network works with for a pull of node `node`: the device's force in newtons
/// turned into kcal/mol/Å with the opposite sign, kept in single precision on the node.
std::array<double, 3> kcal(const ElasticNetworkModel* eln, int node, const Vector3d& newtons)
{
    const Vector3d k = eln->getAtom(node)->getKcalForce();
    const double scale = -eln->modes().getNewtonToKcal() * eln->getS();
    EXPECT_NEAR(k.x, newtons.x * scale, 1e-6 * std::fabs(newtons.x * scale) + 1e-30);
    EXPECT_NEAR(k.y, newtons.y * scale, 1e-6 * std::fabs(newtons.y * scale) + 1e-30);
    EXPECT_NEAR(k.z, newtons.z * scale, 1e-6 * std::fabs(newtons.z * scale) + 1e-30);
    return {k.x, k.y, k.z};
}

void grab(ElasticNetworkModel* eln, int node, const Vector3d& newtons)
{
    eln->getAtom(node)->simulateState(0);
    eln->applyForce(newtons, node);
    eln->simulate();
    eln->updateDeformables();
}

void release(ElasticNetworkModel* eln, int node)
{
    eln->getAtom(node)->simulateState(2);
    eln->simulate();
    eln->updateDeformables();
}

} // namespace

TEST(CalibrationTest, MatchesThePeerValues)
{
    // ProDy values for crambin at Rc 11 Å, an average device force of 1 N.
    auto c = solve("1crn.pdb");
    const auto& cal = c.eln->modes().getCalibration();
    EXPECT_TRUE(cal.calibrated);
    EXPECT_NEAR(cal.K, 2.8318401310304195, 1e-6 * 2.83);
    EXPECT_NEAR(cal.R, 0.4644200878506868, 1e-6 * 0.46);
    EXPECT_NEAR(cal.c, 0.12268214876258607, 1e-6 * 0.12);
    EXPECT_NEAR(cal.S, 2.629588454805808e-10, 1e-6 * 2.63e-10);
    EXPECT_DOUBLE_EQ(c.eln->modes().getSpringConstant(), cal.K);
    EXPECT_TRUE(c.eln->setupComplete());
    EXPECT_TRUE(c.eln->modes().isYMatrixAvailable());
    EXPECT_EQ(c.eln->getLoadResult(), -2);
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_DOUBLE_EQ(c.eln->modes().getScaledEigenvalues()[k], c.eln->modes().getEigenvalues()[k + 7] * cal.K);
        EXPECT_DOUBLE_EQ(c.eln->modes().getInverseScaledEigenvalues()[k], 1.0 / c.eln->modes().getScaledEigenvalues()[k]);
    }
    EXPECT_TRUE(c.s->console.contains("calculated K: "));
    EXPECT_TRUE(c.s->console.contains("S: "));
    // Fluctuation measures: 0.6 T times sums of the inverse scaled eigenvalues.
    double all = 0;
    for (double v : c.eln->modes().getInverseScaledEigenvalues()) all += v;
    EXPECT_NEAR(c.eln->getRTotal(), 0.6 * 300 * all, 1e-12 * all * 180);
    EXPECT_DOUBLE_EQ(c.eln->getRMForTest(1), c.eln->getRMSingle(0));
    EXPECT_DOUBLE_EQ(c.eln->getRMForTest(100000), c.eln->getRTotal());
    EXPECT_EQ(c.eln->getRMSingle(-1), 0.0);
}

TEST(CalibrationTest, YIsTheWeightedOuterProductOfTheModes)
{
    auto c = solve("1crn.pdb");
    const std::size_t n = static_cast<std::size_t>(c.eln->get3N());
    const double* y = c.eln->modes().getYMatrix();
    const double* vt = c.eln->modes().getEigenvectorMatrixT();
    const auto& w = c.eln->modes().getInverseScaledEigenvalues();
    for (std::size_t i : {std::size_t(0), std::size_t(5), n / 2, n - 1})
        for (std::size_t j : {std::size_t(0), std::size_t(7), n - 2}) {
            double v = 0;
            for (std::size_t k = 0; k < w.size(); ++k) v += vt[k * n + i] * w[k] * vt[k * n + j];
            EXPECT_NEAR(y[i * n + j], v, 1e-12 * std::fabs(y[0]));
            EXPECT_EQ(y[i * n + j], y[j * n + i]);
        }
}

TEST(CalibrationTest, UncalibratableStructures)
{
    // All B-factors zero: a unit spring constant, the user is told, pulls still move.
    auto zeroB = solve("nochainnameterrecords.pdb");
    const auto& cal = zeroB.eln->modes().getCalibration();
    EXPECT_FALSE(cal.calibrated);
    EXPECT_EQ(zeroB.eln->modes().getSpringConstant(), 1.0);
    EXPECT_TRUE(std::isfinite(cal.S));
    EXPECT_GT(cal.S, 0.0);
    EXPECT_EQ(zeroB.s->prompts.countMessages("forces are not calibrated"), 1);
    EXPECT_EQ(zeroB.s->prompts.messages().back().caption, "Elastic Network Setup Error");
    for (double v : zeroB.eln->modes().getInverseScaledEigenvalues()) EXPECT_TRUE(std::isfinite(v));

    // NMR models are never calibrated and take no forces.
    std::string nmr = cAlphaChain({{0, 0, 0}, {3.8f, 0, 0}, {5, 3, 0}, {8, 3, 1}});
    nmr.replace(nmr.find("X-RAY DIFFRACTION"), 17, "NMR              ");
    auto s = buildNetworkFromText(nmr);
    ASSERT_TRUE(s->network->geometry().isNMR());
    ASSERT_EQ(s->network->constructHessianMatrix(nullptr), EnmStatus::Ok);
    ASSERT_EQ(s->network->calculateEigen(nullptr), EnmStatus::Ok);
    EXPECT_EQ(s->network->calculateForceScaler(1.0f, false), EnmStatus::NotCalibrated);
    EXPECT_FALSE(s->network->setupComplete());
    EXPECT_EQ(s->network->modes().getYMatrix(), nullptr);
    EXPECT_EQ(s->network->modes().getSpringConstant(), 0.0);
}

class PullTest : public ::testing::TestWithParam<bool> {};

TEST_P(PullTest, ForcesAreKeptReplacedAndRemoved)
{
    const bool withY = GetParam();
    auto c = solve("1crn.pdb", withY);
    auto* eln = c.eln;
    EXPECT_EQ(eln->getLoadResult(), withY ? -2 : -3);
    const int a = 3, b = 30;
    const Vector3d fa(0.2f, -0.1f, 0.4f), fb(-0.3f, 0.0f, 0.1f), fa2(0.0f, 0.5f, 0.0f);

    // Nothing under force: a step changes nothing.
    eln->simulate();
    EXPECT_EQ(eln->deformation().getDisplacement(), std::vector<double>(eln->get3N(), 0.0));

    // The force handed to the network is opposite to the device's, in kcal/mol/Å.
    grab(eln, a, fa);
    const auto ka = kcal(eln, a, fa);
    EXPECT_EQ(eln->deformation().getSelectedCoordinate(), 3 * a);
    EXPECT_EQ(eln->getAtom(a)->getPressed(), 1);
    const auto ra = response(eln, ka.data(), a);
    expectClose(eln->deformation().getDisplacement(), ra, "first pull");
    // Holding still: the drag is recomputed, never accumulated.
    for (int i = 0; i < 3; ++i) eln->simulate();
    expectClose(eln->deformation().getDisplacement(), ra, "constant pull");
    // Deformed positions follow in model units.
    const Vector3d moved = eln->deformation().getDeformedPosition(a) - eln->getAtom(a)->getMyLocalPosition();
    EXPECT_NEAR(moved.x, 10 * ra[3 * a], 1e-3);
    EXPECT_EQ(eln->getAtom(a)->getMyDeformedPosition(), eln->deformation().getDeformedPosition(a));

    release(eln, a);
    EXPECT_EQ(eln->getAtom(a)->getPressed(), 3);
    EXPECT_NEAR(eln->getAtom(a)->getOLDKcalForce().z, ka[2], 1e-6 * std::fabs(ka[2]));
    expectClose(eln->deformation().getDisplacement(), ra, "kept after release");

    // A second node adds to the kept force.
    grab(eln, b, fb);
    const auto kb = kcal(eln, b, fb);
    const auto rb = response(eln, kb.data(), b);
    expectClose(eln->deformation().getDisplacement(), sum(ra, rb), "two forces");
    release(eln, b);

    // The probe leaving a node it only touched lets nothing go. A click let go before any
    // step ran is grabbed and kept by the next step, on top of the other kept forces, and
    // leaves again by its own route.
    const int c3 = 20;
    Atom* node = eln->getAtom(c3);
    EXPECT_FALSE(node->releasePull());
    EXPECT_EQ(node->getPressed(), 3);
    node->simulateState(0);
    eln->applyForce(Vector3d(0.1f, 0.2f, -0.2f), c3);
    EXPECT_TRUE(node->releasePull());
    EXPECT_EQ(node->getPressed(), 0);
    eln->simulate();
    EXPECT_EQ(node->getPressed(), 3);
    const auto kc = kcal(eln, c3, Vector3d(0.1f, 0.2f, -0.2f));
    expectClose(eln->deformation().getDisplacement(), sum(sum(ra, rb), response(eln, kc.data(), c3)), "click");
    eln->applyZeroForce(c3);
    expectClose(eln->deformation().getDisplacement(), sum(ra, rb), "click undone");

    // Grabbing the first node again replaces its kept force.
    grab(eln, a, fa2);
    const auto ka2 = kcal(eln, a, fa2);
    const auto ra2 = response(eln, ka2.data(), a);
    expectClose(eln->deformation().getDisplacement(), sum(rb, ra2), "re-grab");
    release(eln, a);

    // Undo: the kept forces leave one by one, last first, and a later step keeps it so.
    eln->applyZeroForce(a);
    expectClose(eln->deformation().getDisplacement(), rb, "undo a");
    eln->simulate();
    expectClose(eln->deformation().getDisplacement(), rb, "undo a, then a step");
    // A mode change while nothing is pulled does not bring the removed force back.
    {
        auto token = eln->tryBeginModeChange();
        ASSERT_TRUE(token);
        eln->selectModeState(*token, 2);
    }
    eln->simulate();
    expectClose(eln->deformation().getDisplacement(), rb, "mode change after undo");
    eln->applyZeroForce(b);
    double largest = 0;
    for (double d : ra) largest = std::max(largest, std::fabs(d));
    for (double d : eln->deformation().getDisplacement()) EXPECT_NEAR(d, 0.0, 1e-12 * largest);
    EXPECT_EQ(eln->getAtom(b)->getOLDKcalForce(), Vector3d());
    EXPECT_TRUE(c.s->console.contains("removing force from simulation"));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutY, PullTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "ThroughY" : "ThroughModes"; });

TEST(ResponseTest, RoutesAgree)
{
    auto c = solve("1ubq.pdb");
    auto* eln = c.eln;
    const double f[3] = {1.0, -0.5, 0.25};
    const int node = 40;
    const std::size_t n = static_cast<std::size_t>(eln->get3N());
    std::vector<double> viaY(n), viaModes(n), single(n), listed(n), total(n, 0.0);
    eln->deformation().computeResponse(f, node, 2, 0, nullptr, viaY.data());
    eln->deformation().computeResponse(f, node, 1, eln->getTotalMaxModes(), nullptr, viaModes.data());
    expectClose(viaModes, viaY, "first n = all modes");
    const int32_t modes[3] = {0, 4, 17};
    for (int32_t m : modes) {
        eln->deformation().computeResponse(f, node, 0, 1, &m, single.data());
        total = sum(total, single);
    }
    eln->deformation().computeResponse(f, node, 0, 3, modes, listed.data());
    expectClose(listed, total, "listed modes = sum of single modes");
    // Out-of-range modes and nodes contribute nothing.
    const int32_t bad[2] = {-1, 1000000};
    eln->deformation().computeResponse(f, node, 0, 2, bad, listed.data());
    EXPECT_EQ(listed, std::vector<double>(n, 0.0));
    eln->deformation().computeResponse(f, -1, 2, 0, nullptr, listed.data());
    EXPECT_EQ(listed, std::vector<double>(n, 0.0));
}

TEST(ResponseTest, ModeSelectionDrivesTheCurrentPull)
{
    auto c = solve("1ubq.pdb");
    auto* eln = c.eln;
    // A slider move with nobody pulled lands in node 0.
    {
        auto token = eln->tryBeginModeChange();
        ASSERT_TRUE(token);
        eln->useAllModes(*token, false);
        eln->selectAmountOfModes(*token, 10);
        eln->selectModeState(*token, 1);
    }
    EXPECT_EQ(eln->getAtom(0)->getStatePosition(0), 1);
    EXPECT_EQ(eln->getAtom(0)->getStatePosition(1), 10);
    EXPECT_EQ(eln->getAtom(0)->getPressed(), 1);
    eln->getAtom(0)->simulateState(3);

    const int node = 20;
    const Vector3d f(0.1f, 0.2f, 0.3f);
    grab(eln, node, f);
    const auto k = kcal(eln, node, f);
    std::vector<double> want(static_cast<std::size_t>(eln->get3N()));
    eln->deformation().computeResponse(k.data(), node, 1, 10, nullptr, want.data());
    expectClose(eln->deformation().getDisplacement(), want, "first 10 modes");

    // Ticking modes while pulling recomputes the drag with them.
    const int32_t ticked[2] = {2, 5};
    {
        auto token = eln->tryBeginModeChange();
        ASSERT_TRUE(token);
        EXPECT_FALSE(eln->tryBeginModeChange()) << "two mode changes at once";
        eln->simulate(); // refused during a mode change
        eln->receiveNewModes(*token, ticked, 2);
        eln->useAllModes(*token, false);
        eln->selectModeState(*token, 0);
    }
    EXPECT_EQ(eln->getAtom(node)->getStatePosition(0), 0);
    EXPECT_EQ(eln->getAtom(node)->getStatePosition(1), 2);
    EXPECT_EQ(eln->getAtom(node)->getStatePosition(3), 5);
    eln->simulate();
    eln->deformation().computeResponse(k.data(), node, 0, 2, ticked, want.data());
    expectClose(eln->deformation().getDisplacement(), want, "ticked modes");

    // Dropping modes from later responses does not touch what is already kept.
    release(eln, node);
    const std::vector<double> kept = eln->deformation().getDisplacement();
    eln->finalize_inv_HDK(6 + 3); // keep the first three modes only
    grab(eln, 50, f);
    std::vector<double> only(static_cast<std::size_t>(eln->get3N()));
    const auto k50 = kcal(eln, 50, f);
    const int32_t none[1] = {0};
    eln->deformation().computeResponse(k50.data(), 50, 0, 0, none, only.data());
    eln->deformation().computeResponse(k50.data(), 50, 0, 2, ticked, only.data()); // modes 2 and 5: 5 is now zero
    expectClose(eln->deformation().getDisplacement(), sum(kept, only), "zeroed mode");
}

TEST(SessionForcesTest, KeptForcesComeBackByTheirOwnRoutesAndLeaveExactly)
{
    struct Route {
        const char* what;
        std::function<void(ElasticNetworkModel&, const ModeChangeToken&)> select;
        int32_t recorded; ///< the route the pulls record
    };
    const int32_t ticked[3] = {2, 5, 9};
    const std::vector<Route> routes = {
        {"all modes through Y", [](ElasticNetworkModel&, const ModeChangeToken&) {}, 2},
        {"the first 10 modes",
         [](ElasticNetworkModel& eln, const ModeChangeToken& t) {
             eln.useAllModes(t, false);
             eln.selectAmountOfModes(t, 10);
             eln.selectModeState(t, 1);
         },
         1},
        {"modes 3, 6 and 10",
         [&](ElasticNetworkModel& eln, const ModeChangeToken& t) {
             eln.receiveNewModes(t, ticked, 3);
             eln.useAllModes(t, false);
             eln.selectModeState(t, 0);
         },
         0},
    };
    auto restored = solve("1crn.pdb"); // every session opens on this one, all modes selected
    ElasticNetworkModel* into = restored.eln;
    for (const Route& route : routes) {
        SCOPED_TRACE(route.what);
        auto pulled = solve("1crn.pdb");
        ElasticNetworkModel* eln = pulled.eln;
        route.select(*eln, eln->beginModeChange());
        eln->getAtom(0)->simulateState(3); // the selection went to node 0, which nobody pulls
        const int a = 3, b = 30;
        const Vector3d newtons[2] = {Vector3d(0.2f, -0.1f, 0.4f), Vector3d(-0.3f, 0.0f, 0.1f)};
        grab(eln, a, newtons[0]);
        release(eln, a);
        grab(eln, b, newtons[1]);
        release(eln, b);

        const std::vector<SessionForce> kept = eln->deformation().keptForces();
        ASSERT_EQ(kept.size(), 2u);
        EXPECT_EQ(kept[0].node, a);
        EXPECT_EQ(kept[1].node, b);
        EXPECT_EQ(kept[0].modeState[0], route.recorded);
        EXPECT_EQ(kept[0].force, eln->getAtom(a)->getOLDKcalForce());
        std::ostringstream records;
        ASSERT_TRUE(eln->serialize(records));
        EXPECT_EQ(records.str().size(), 4u + 2u * 112u);

        for (const SessionForce& f : kept) ASSERT_TRUE(into->deformation().restoreKeptForce(f));
        into->updateDeformables();
        expectClose(into->deformation().getDisplacement(), eln->deformation().getDisplacement(), "restored");
        for (const SessionForce& f : kept) {
            const Atom* atom = into->getAtom(f.node);
            const Vector3d pulled = newtons[f.node == a ? 0 : 1];
            EXPECT_EQ(atom->getOLDKcalForce(), f.force);
            EXPECT_EQ(atom->getKcalForce(), f.force);
            EXPECT_EQ(atom->getStateArray(), f.modeState);
            EXPECT_EQ(atom->getPressed(), 3);
            // The device force it came from.
            EXPECT_LT(atom->getMyApplyingForce().euclideanDistance(pulled), 1e-6f * pulled.size());
        }
        for (int i = 0; i < into->getAmountOfAtoms(); ++i)
            EXPECT_LT(into->deformation().getDeformedPosition(i).euclideanDistance(eln->deformation().getDeformedPosition(i)), 1e-4f) << i;

        // Undo of the second leaves the first alone; undo of both leaves nothing.
        into->applyZeroForce(b);
        const double fa[3] = {kept[0].force.x, kept[0].force.y, kept[0].force.z};
        std::vector<double> alone(static_cast<std::size_t>(into->get3N()));
        eln->deformation().computeResponse(fa, a, route.recorded, kept[0].modeState[1], kept[0].modeState.data() + 2, alone.data());
        expectClose(into->deformation().getDisplacement(), alone, "the first alone");
        into->applyZeroForce(a);
        for (double d : into->deformation().getDisplacement()) EXPECT_NEAR(d, 0.0, 1e-12);
    }
    // A node outside the network changes nothing.
    SessionForce outside;
    outside.node = into->getAmountOfAtoms();
    outside.force = Vector3d(1, 0, 0);
    EXPECT_FALSE(into->deformation().restoreKeptForce(outside));
}

TEST(ResponseTest, DisplacementsBeyondTheStructureAreNeverPublished)
{
    auto solved = solve("1crn.pdb");
    ElasticNetworkModel* eln = solved.eln;
    ASSERT_NE(eln, nullptr);
    // Four times the diagonal of crambin's box of nodes (about 40 Å).
    EXPECT_GT(eln->geometry().getDisplacementLimit(), 120.0);
    EXPECT_LT(eln->geometry().getDisplacementLimit(), 240.0);
    ScopedUserPrompts scoped(&solved.s->prompts);
    const int kept = 3, pulled = 20;
    grab(eln, kept, Vector3d(0.2f, -0.1f, 0.4f));
    release(eln, kept);
    const std::vector<double> before = eln->deformation().getDisplacement();

    // A finite force whose response carries some node ten limits away.
    const double unit[3] = {1.0, 0.0, 0.0};
    const std::vector<double> r = response(eln, unit, pulled);
    double farthest = 0.0;
    for (std::size_t i = 0; i < r.size(); i += 3) farthest = std::max(farthest, std::hypot(r[i], r[i + 1], r[i + 2]));
    const auto beyond = static_cast<float>(10.0 * eln->geometry().getDisplacementLimit() / farthest);
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* what;
        Vector3d force; ///< kcal/mol/Å
    } cases[] = {{"3e38 kcal/mol/\u00c5", Vector3d(3e38f, 3e38f, 0.0f)},
                 {"infinite", Vector3d(inf, 0.0f, 0.0f)},
                 {"not a number", Vector3d(0.0f, nan, 0.0f)},
                 {"ten structures away", Vector3d(beyond, 0.0f, 0.0f)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        console::Capture console;
        Atom* node = eln->getAtom(pulled);
        // The device grabs again on every tick while the button is held: told once.
        for (int tick = 0; tick < 3; ++tick) {
            node->simulateState(0);
            eln->applyNonScaleForce(c.force, pulled);
            eln->simulate();
            eln->updateDeformables();
            EXPECT_EQ(node->getPressed(), 3) << "let go";
        }
        EXPECT_EQ(console.count("was let go"), 1);
        EXPECT_EQ(solved.s->prompts.messages().size(), 0u) << "no dialog on the simulation thread";
        EXPECT_EQ(eln->deformation().getDisplacement(), before);
        EXPECT_EQ(node->getOLDKcalForce(), Vector3d());
        for (int i = 0; i < eln->getAmountOfAtoms(); ++i)
            ASSERT_TRUE(std::isfinite(eln->deformation().getDeformedPosition(i).size())) << i;

        // A session force of the same size is not restored, and changes nothing.
        SessionForce record;
        record.node = pulled;
        record.force = c.force;
        record.modeState[0] = 2;
        EXPECT_FALSE(eln->deformation().restoreKeptForce(record));
        EXPECT_EQ(console.count("was not restored"), 1);
        EXPECT_EQ(eln->deformation().getDisplacement(), before);
        EXPECT_EQ(node->getOLDKcalForce(), Vector3d());
        eln->applyNonScaleForce(Vector3d(), pulled); // the device lets go: a zero force, accepted
        release(eln, pulled);
    }
    // A sane pull still moves the network.
    grab(eln, pulled, Vector3d(0.0f, 0.3f, 0.0f));
    EXPECT_NE(eln->deformation().getDisplacement(), before);
}
