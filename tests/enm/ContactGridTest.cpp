// The contact search through the grid gives the same first node as the plain scan in network order.
#include "enm/ContactGrid.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <random>
#include <thread>

using namespace vornax;
using namespace vornax::testing;

namespace {

/// The plain search: first node in network order whose contact sphere holds the probe.
Atom* scan(ElasticNetworkModel& eln, const Vector3d& probe)
{
    for (int32_t i = 0; i < eln.getAmountOfAtoms(); ++i)
        if (eln.getAtom(i)->pointToSphereAt(probe, eln.deformation().getDeformedPosition(i))) return eln.getAtom(i);
    return nullptr;
}

/// Probes near nodes (within 1.5 contact radii, so about half hit) and anywhere in the box.
std::vector<Vector3d> probesAround(ElasticNetworkModel& eln, int count, std::mt19937& rng)
{
    const int n = eln.getAmountOfAtoms();
    Vector3d lo(1e30f, 1e30f, 1e30f), hi(-1e30f, -1e30f, -1e30f);
    for (int i = 0; i < n; ++i) {
        const Vector3d p = eln.deformation().getDeformedPosition(i);
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    }
    std::uniform_int_distribution<int> node(0, n - 1);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), t(-0.1f, 1.1f);
    std::vector<Vector3d> probes;
    for (int k = 0; k < count; ++k) {
        if (k % 4 == 3) {
            probes.emplace_back(lo.x + t(rng) * (hi.x - lo.x), lo.y + t(rng) * (hi.y - lo.y),
                                lo.z + t(rng) * (hi.z - lo.z));
            continue;
        }
        const int i = node(rng);
        const float reach = 6.0f * eln.getAtom(i)->getCamZoom() + eln.getAtom(i)->getRadius();
        probes.push_back(eln.deformation().getDeformedPosition(i) + Vector3d(unit(rng), unit(rng), unit(rng)) * (0.9f * reach));
    }
    return probes;
}

/// Every probe gives the scan's node; returns how many hit.
int expectSameAsScan(ElasticNetworkModel& eln, const std::vector<Vector3d>& probes)
{
    int hits = 0;
    for (std::size_t k = 0; k < probes.size(); ++k) {
        bool res = false;
        Atom* expected = scan(eln, probes[k]);
        Atom* got = eln.collisionCheck(probes[k], res);
        EXPECT_EQ(got, expected) << "probe " << k;
        EXPECT_EQ(res, expected != nullptr) << "probe " << k;
        hits += expected != nullptr;
    }
    return hits;
}

/// A dense cloud whose contact spheres overlap (nodes 1.5 Å apart, listed in random order), so
/// that a probe often lies in several spheres and the first in network order matters.
std::string denseCloud(int n, std::mt19937& rng)
{
    std::vector<Vector3d> positions;
    const int side = static_cast<int>(std::ceil(std::cbrt(static_cast<double>(n))));
    std::uniform_real_distribution<float> jitter(-0.4f, 0.4f);
    for (int i = 0; i < n; ++i)
        positions.emplace_back((i % side) * 1.5f + jitter(rng), ((i / side) % side) * 1.5f + jitter(rng),
                               (i / (side * side)) * 1.5f + jitter(rng));
    std::shuffle(positions.begin(), positions.end(), rng);
    return cAlphaChain(positions);
}

} // namespace

TEST(ContactGridTest, OverlappingSpheresGiveTheFirstNodeInNetworkOrder)
{
    std::mt19937 rng(7);
    auto s = buildNetworkFromText(denseCloud(3000, rng), 4.0f);
    ASSERT_TRUE(s && s->ok);
    auto& eln = *s->network;
    const auto probes = probesAround(eln, 20000, rng);
    const int hits = expectSameAsScan(eln, probes);
    EXPECT_GT(hits, 5000);
    ASSERT_NE(eln.deformation().getContactGrid(), nullptr);
    EXPECT_EQ(eln.deformation().getContactGrid()->builds(), 1u) << "positions at rest: built once and reused";
}

TEST(ContactGridTest, FollowsZoomChangesAndMovingPositions)
{
    std::mt19937 rng(11);
    auto s = buildNetwork(findPdb("1crn.pdb"));
    ASSERT_TRUE(s && s->ok);
    auto& eln = *s->network;
    expectSameAsScan(eln, probesAround(eln, 2000, rng));
    const std::size_t builds = eln.deformation().getContactGrid()->builds();

    // A larger zoom widens every sphere: the grid is rebuilt for it.
    eln.deformation().setCurrentZoom(1.5f);
    eln.updateDeformables();
    const int hits = expectSameAsScan(eln, probesAround(eln, 2000, rng));
    EXPECT_GT(hits, 0);
    EXPECT_EQ(eln.deformation().getContactGrid()->builds(), builds + 1);

    // Positions republished before every search: the search scans and stays right.
    const auto probes = probesAround(eln, 500, rng);
    for (const auto& p : probes) {
        eln.updateDeformables();
        bool res = false;
        EXPECT_EQ(eln.collisionCheck(p, res), scan(eln, p));
    }
    EXPECT_EQ(eln.deformation().getContactGrid()->builds(), builds + 1);

    // Probes far away or not numbers touch nothing.
    bool res = false;
    EXPECT_EQ(eln.collisionCheck(Vector3d(1e6f, 0, 0), res), nullptr);
    EXPECT_EQ(eln.collisionCheck(Vector3d(std::nanf(""), 0, 0), res), nullptr);
    EXPECT_FALSE(res);
}

TEST(ContactGridTest, LargestSharedStructureMatchesTheScan)
{
    const auto path = findPdb("1aon.pdb");
    if (path.empty()) GTEST_SKIP() << "1aon.pdb is not beside the checkout";
    std::mt19937 rng(3);
    auto s = buildNetwork(path);
    ASSERT_TRUE(s && s->ok);
    auto& eln = *s->network;
    EXPECT_GT(eln.getAmountOfAtoms(), 6000);
    EXPECT_GT(expectSameAsScan(eln, probesAround(eln, 5000, rng)), 1000);
}

TEST(ContactGridTest, SearchesWhileTheSimulationPublishesPositions)
{
    std::mt19937 rng(5);
    auto s = buildNetworkFromText(denseCloud(800, rng), 4.0f);
    ASSERT_TRUE(s && s->ok);
    auto& eln = *s->network;
    const auto probes = probesAround(eln, 4000, rng);
    std::atomic<bool> go{true};
    std::thread simulation([&] {
        for (int i = 0; go; ++i) {
            eln.deformation().setCurrentZoom(i % 2 ? 1.0f : 1.2f);
            eln.updateDeformables();
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    int found = 0;
    for (int round = 0; round < 5; ++round)
        for (const auto& p : probes) {
            bool res = false;
            Atom* a = eln.collisionCheck(p, res);
            EXPECT_EQ(res, a != nullptr);
            found += a != nullptr;
        }
    go = false;
    simulation.join();
    EXPECT_GT(found, 0);
    // At rest again the grid answers, and answers as the scan does.
    expectSameAsScan(eln, probes);
    expectSameAsScan(eln, probes);
}

TEST(ContactGridTest, TheAtomHitGetsThePositionItWasHitAt)
{
    // The contact step takes the touched atom's deformedPosition as its centre: on the scan
    // and on the grid path alike, collisionCheck hands it the published position.
    auto s = buildNetwork(findPdb("1crn.pdb"));
    ASSERT_TRUE(s && s->ok);
    auto& eln = *s->network;
    const int node = 17;
    const Vector3d published = eln.deformation().getDeformedPosition(node);
    for (int call = 0; call < 3; ++call) {
        eln.getAtom(node)->setMyDeformedPosition(published + Vector3d(500.0f, 0.0f, 0.0f)); // stale
        bool hit = false;
        Atom* atom = eln.collisionCheck(published, hit);
        ASSERT_TRUE(hit);
        ASSERT_EQ(atom, eln.getAtom(node));
        EXPECT_EQ(atom->getMyDeformedPosition(), published) << "call " << call;
    }
    ASSERT_NE(eln.deformation().getContactGrid(), nullptr);
    EXPECT_GE(eln.deformation().getContactGrid()->builds(), 1u) << "the grid path was taken";
}

TEST(ContactGridTest, PositionsThatAreNotNumbersOrAbsurdNeverThrowAndNeverHit)
{
    // Published positions as absurd input could leave them: the grid is built without throwing
    // (it once asked for endless cells and threw std::length_error on the servo thread) and
    // answers as the scan over the same positions does.
    auto s = buildNetwork(findPdb("1crn.pdb"));
    ASSERT_TRUE(s && s->ok);
    auto& eln = *s->network;
    const int32_t n = eln.getAmountOfAtoms();
    std::vector<Atom*> atoms;
    for (int32_t i = 0; i < n; ++i) atoms.push_back(eln.getAtom(i));
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* what;
        std::function<Vector3d(int32_t, Vector3d)> place;
    } cases[] = {
        {"every third not a number", [&](int32_t i, Vector3d p) { return i % 3 ? p : Vector3d(nan, p.y, p.z); }},
        {"infinite both ways",
         [&](int32_t i, Vector3d p) { return i % 4 ? p : Vector3d(i % 8 ? inf : -inf, p.y, p.z); }},
        {"at both ends of the float range",
         [&](int32_t i, Vector3d p) { return i % 5 ? p : Vector3d(i % 10 ? 3e38f : -3e38f, -3e38f, p.z); }},
        {"all not numbers", [&](int32_t, Vector3d) { return Vector3d(nan, nan, nan); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto positions = std::make_unique<SeqLocked<Vector3d>[]>(static_cast<std::size_t>(n));
        for (int32_t i = 0; i < n; ++i)
            positions[static_cast<std::size_t>(i)].store(c.place(i, eln.deformation().getDeformedPosition(i)));
        const std::atomic<uint64_t> version{2};
        ContactGrid grid;
        std::vector<Vector3d> probes = {Vector3d(3e38f, -3e38f, 0.0f), Vector3d(0.0f, 0.0f, 0.0f)};
        for (int32_t i = 0; i < n; ++i) probes.push_back(positions[static_cast<std::size_t>(i)].load());
        for (const Vector3d& probe : probes) {
            std::optional<int32_t> hit;
            for (int call = 0; call < 2 && !hit; ++call) // the first sight of a version scans
                ASSERT_NO_THROW(hit = grid.firstHit(probe, atoms, positions.get(), n, version));
            ASSERT_TRUE(hit.has_value());
            int32_t expected = -1;
            for (int32_t i = 0; i < n && expected < 0; ++i)
                if (atoms[static_cast<std::size_t>(i)]->pointToSphereAt(probe,
                                                                        positions[static_cast<std::size_t>(i)].load()))
                    expected = i;
            EXPECT_EQ(*hit, expected);
        }
        EXPECT_EQ(grid.builds(), 1u);
    }
}
