// Network construction: nodes, springs, stored record lines and atom selection.
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace vornax;
using namespace vornax::testing;

namespace {

std::string storedLines(const std::vector<std::string>& lines, float rc)
{
    std::string out;
    auto put = [&out](const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); };
    const auto count = static_cast<int32_t>(lines.size());
    put(&count, 4);
    put(&rc, 4);
    for (const auto& l : lines) {
        const auto len = static_cast<int32_t>(l.size());
        put(&len, 4);
        put(l.data(), l.size());
    }
    return out;
}

std::vector<int> neighbourIndices(const Atom* a)
{
    std::vector<int> out;
    for (int k = 0; k < a->getAmountOfConnectedAtoms(); ++k)
        out.push_back(a->getConnectedAtom(k)->getMyPositionInOriginalList());
    return out;
}

} // namespace

TEST(NetworkTest, SpringsAreStrictlyShorterThanRc)
{
    // Node 1 is exactly Rc from node 0, node 2 just inside Rc from node 1, node 3 far away.
    auto s = buildNetworkFromText(cAlphaChain({{0, 0, 0}, {11, 0, 0}, {21.999, 0, 0}, {100, 0, 0}}));
    auto* eln = s->network.get();
    EXPECT_EQ(eln->getAmountOfAtoms(), 4);
    EXPECT_EQ(eln->get3N(), 12);
    EXPECT_EQ(eln->geometry().get3NMinus6(), 6);
    EXPECT_EQ(eln->geometry().getAmountOfSprings(), 2); // 1–2 counted from both ends
    EXPECT_EQ(neighbourIndices(eln->getAtom(0)), (std::vector<int>{0}));
    EXPECT_EQ(neighbourIndices(eln->getAtom(1)), (std::vector<int>{1, 2}));
    EXPECT_EQ(neighbourIndices(eln->getAtom(2)), (std::vector<int>{2, 1}));
    EXPECT_EQ(eln->getAtom(3)->getAmountOfConnectedAtoms(), 1); // an isolated node lists itself
    EXPECT_FLOAT_EQ(eln->getRc(), 11.0f);                       // Å, before and after the springs
    EXPECT_TRUE(s->console.contains("total number of springs: 2"));
    EXPECT_TRUE(s->console.contains("final chain reached so time to exit")); // the chain closed by TER
}

TEST(NetworkTest, TenMutuallyCloseNodes)
{
    std::vector<Vector3d> pos;
    for (int i = 0; i < 10; ++i) pos.emplace_back(static_cast<float>(i % 3), static_cast<float>(i / 3), 0.5f * i);
    auto s = buildNetworkFromText(cAlphaChain(pos));
    EXPECT_EQ(s->network->geometry().getAmountOfSprings(), 90);
    EXPECT_EQ(neighbourIndices(s->network->getAtom(4)), (std::vector<int>{4, 0, 1, 2, 3, 5, 6, 7, 8, 9}));
}

TEST(NetworkTest, GridNeighboursMatchAllPairs)
{
    const auto pdb = findPdb("2por.pdb");
    ASSERT_FALSE(pdb.empty());
    for (float rc : {5.0f, 7.0f, 11.0f, 15.0f}) {
        auto s = buildNetwork(pdb, rc);
        auto* eln = s->network.get();
        const int n = eln->getAmountOfAtoms();
        int springs = 0;
        for (int i = 0; i < n; ++i) {
            std::vector<int> expected{i};
            const auto& pi = eln->geometry().getBackboneList()[i].coordinates;
            for (int j = 0; j < n; ++j) {
                if (j == i) continue;
                const auto& pj = eln->geometry().getBackboneList()[j].coordinates;
                const double dx = pi[0] - pj[0], dy = pi[1] - pj[1], dz = pi[2] - pj[2];
                if (dx * dx + dy * dy + dz * dz < double(rc) * double(rc)) expected.push_back(j);
            }
            springs += static_cast<int>(expected.size()) - 1;
            ASSERT_EQ(neighbourIndices(eln->getAtom(i)), expected) << "node " << i << " rc " << rc;
        }
        EXPECT_EQ(eln->geometry().getAmountOfSprings(), springs);
    }
}

TEST(NetworkTest, NodeAtomsAndDistances)
{
    auto s = buildNetworkFromText(cAlphaChain({{0, 0, 0}, {3, 4, 0}}, 15.5)
                                  + atomLine("ATOM", 9, " P  ", " DA", 'B', 1, 10, 0, 0, 40, "P") + "\n");
    auto* eln = s->network.get();
    ASSERT_EQ(eln->getAmountOfAtoms(), 3);
    const Atom* a = eln->getAtom(0);
    EXPECT_EQ(a->getMyInfo(), "C Alpha");
    EXPECT_FLOAT_EQ(a->getRadius(), 6.0f);
    EXPECT_EQ(a->getEle(), "C");
    EXPECT_EQ(a->getMyColour(), Vector3d(0.5f, 0.5f, 0.5f));
    EXPECT_DOUBLE_EQ(a->getMyBFactor(), 15.5);
    EXPECT_FLOAT_EQ(a->getEQForce(), 1.0f);
    EXPECT_EQ(a->getChainID(), "A");
    EXPECT_EQ(eln->getAtom(2)->getMyResidueColour(), Vector3d(0, 1, 0)); // nucleic node
    EXPECT_EQ(eln->deformation().getDeformedPosition(1), Vector3d(30, 40, 0));
    // Distance to the next node of the same chain, in Å.
    EXPECT_FLOAT_EQ(eln->geometry().getChainList()[0][0].distance, 5.0f);
    EXPECT_FLOAT_EQ(eln->geometry().getBackboneList()[0].distance, 5.0f);
    EXPECT_FLOAT_EQ(eln->geometry().getChainList()[0][1].distance, 0.0f);
    EXPECT_FALSE(s->console.contains("final chain reached so time to exit")); // no empty chain here
}

TEST(NetworkTest, StoredLinesRebuildTheSameNodes)
{
    // A PDB file, and an assembly whose chain names (A1, A2, A3) do not fit column 22.
    for (const AssemblyRequest& assembly : {AssemblyRequest{}, AssemblyRequest{"1", {}}}) {
        const auto pdb = findPdb(assembly.wanted() ? "2por.pdb" : "1d66.pdb");
        ASSERT_FALSE(pdb.empty());
        LoadedStructure fromPdb(pdb, assembly);
        std::istringstream in(storedLines(fromPdb.network->geometry().getPdbLines(), 11.0f));
        ElasticNetworkModel eln;
        ASSERT_TRUE(eln.processAtoms(in));
        EXPECT_EQ(eln.getRc(), 11.0f);
        EXPECT_EQ(eln.geometry().getTotalAmountOfAtoms(), fromPdb.network->geometry().getTotalAmountOfAtoms());
        const auto& a = fromPdb.network->geometry().getBackboneList();
        const auto& b = eln.geometry().getBackboneList();
        ASSERT_EQ(a.size(), b.size());
        // The stored copy is centred on the mean atom position, the reader's copy is not.
        const Vector3d shift = fromPdb.reader->getMidPoint();
        EXPECT_TRUE(eln.getMidPoint().isEqual(shift, 1e-2f));
        for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_TRUE((a[i].position - shift).isEqual(b[i].position, 1e-2f)) << i;
            EXPECT_EQ(a[i].residueNumber, b[i].residueNumber);
            EXPECT_EQ(a[i].chainID, b[i].chainID);
            EXPECT_EQ(a[i].isNucleic, b[i].isNucleic);
            EXPECT_DOUBLE_EQ(a[i].bFactor, b[i].bFactor);
        }
        ASSERT_EQ(eln.geometry().getChainList().size(), fromPdb.network->geometry().getChainList().size());
        for (std::size_t c = 0; c < eln.geometry().getChainList().size(); ++c)
            EXPECT_EQ(eln.geometry().getChainList()[c].size(), fromPdb.network->geometry().getChainList()[c].size());
        // DNA chains D and E are named at their first phosphorus, protein chains at their TER.
        if (!assembly.wanted()) EXPECT_EQ(eln.geometry().getChainIDs(), (std::vector<std::string>{"D", "E", "A", "B"}));
    }
}

TEST(NetworkTest, StoredLinesEdgeCases)
{
    const std::vector<std::string> lines = {
        "HEADER    TEST                                    01-JAN-00   1TST",
        atomLine("HETATM", 1, "CA  ", " CA", 'A', 1, 0, 0, 0, 10, "CA"),
        atomLine("ATOM", 2, " CA ", "GLY", 'A', 2, 1, 0, 0, 10),
        "MASTER        0    0    0",
        atomLine("ATOM", 3, " CA ", "GLY", 'A', 3, 2, 0, 0, 10),
        "TER                                                                             ",
        atomLine("ATOM", 4, " CA ", "GLY", 'B', 1, 3, 0, 0, 10),
    };
    std::istringstream in(storedLines(lines, 7.0f));
    ElasticNetworkModel eln;
    ASSERT_TRUE(eln.processAtoms(in));
    EXPECT_EQ(eln.geometry().getBackboneList().size(), 3u); // calcium is no node
    ASSERT_EQ(eln.geometry().getChainList().size(), 2u);    // MASTER ends no chain, the blank-padded TER does
    EXPECT_EQ(eln.geometry().getChainList()[0].size(), 2u);
    EXPECT_EQ(eln.geometry().getChainList()[1].size(), 1u);
    EXPECT_EQ(eln.getPDB_Code(), "1TST");

    // Truncated or absurd data leaves the object untouched.
    const std::string good = storedLines(lines, 7.0f);
    for (std::size_t cut : {std::size_t(0), std::size_t(3), std::size_t(9), good.size() - 1}) {
        std::istringstream truncated(good.substr(0, cut));
        ElasticNetworkModel fresh;
        EXPECT_FALSE(fresh.processAtoms(truncated)) << cut;
        EXPECT_TRUE(fresh.geometry().getBackboneList().empty());
        EXPECT_TRUE(fresh.geometry().getPdbLines().empty());
    }
    std::string negative = good;
    const int32_t minusOne = -1;
    negative.replace(0, 4, reinterpret_cast<const char*>(&minusOne), 4);
    std::istringstream neg(negative);
    EXPECT_FALSE(ElasticNetworkModel().processAtoms(neg));
    std::string hugeLine = good;
    const int32_t huge = 0x7fffffff;
    hugeLine.replace(8, 4, reinterpret_cast<const char*>(&huge), 4);
    std::istringstream big(hugeLine);
    EXPECT_FALSE(ElasticNetworkModel().processAtoms(big));
}

TEST(NetworkTest, SelectionAndCollision)
{
    auto s = buildNetworkFromText(cAlphaChain({{0, 0, 0}, {1, 0, 0}, {20, 0, 0}}));
    auto* eln = s->network.get();
    Atom* a0 = eln->getAtom(0);
    Atom* a2 = eln->getAtom(2);
    // The spheres of nodes 0 and 1 overlap: the first in index order wins.
    bool res = false;
    EXPECT_EQ(eln->collisionCheck(Vector3d(5, 0, 0), res), a0);
    EXPECT_TRUE(res);
    res = false;
    EXPECT_EQ(eln->collisionCheck(Vector3d(200, 12, 0), res), nullptr); // boundary is outside
    EXPECT_FALSE(res);
    EXPECT_EQ(eln->collisionCheck(Vector3d(200, 11.9f, 0), res), a2);

    a0->setSelected(true);
    a0->addAForce(Vector3d(1, 2, 3), 1);
    a0->saveForce();
    eln->addAtomToList(a0);
    eln->addAtomToList(a0);
    eln->addAtomToList(a2);
    EXPECT_EQ(eln->getContactList().size(), 2u);
    EXPECT_TRUE(eln->removeAtomFromList(0));
    EXPECT_FALSE(eln->removeAtomFromList(0));
    EXPECT_FALSE(a0->isSelected());
    EXPECT_EQ(a0->getMyApplyingForce(), Vector3d());
    EXPECT_EQ(a0->getMyForceApplied(), Vector3d());
    a2->setSelected(true);
    eln->deselectAll();
    EXPECT_TRUE(eln->getContactList().empty());
    EXPECT_FALSE(a2->isSelected());
    // Bounds of the nodes: position minus radius, plus 0.1.
    EXPECT_NEAR(eln->findMaxCoord().x, 200 - 6 + 0.1f, 1e-4);
}

TEST(ElasticNetworkModel, PulledAtomListIsPublishedWholeBeyondTheNodeCount)
{
    // Atoms that are not the network's own (a network without nodes yet): the published list
    // grows and keeps its order through additions and removals.
    ElasticNetworkModel eln;
    std::vector<std::unique_ptr<Atom>> atoms;
    for (int i = 0; i < 40; ++i) {
        atoms.push_back(std::make_unique<Atom>(Vector3d(), Vector3d(), "C Alpha", 6.0f, i, "C", "1", "ALA", "A"));
        eln.addAtomToList(atoms.back().get());
    }
    eln.addAtomToList(nullptr);
    std::vector<Atom*> list = eln.getContactList();
    ASSERT_EQ(list.size(), 40u);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(list[static_cast<std::size_t>(i)], atoms[static_cast<std::size_t>(i)].get());
    EXPECT_TRUE(eln.removeAtomFromList(3));
    list = eln.getContactList();
    ASSERT_EQ(list.size(), 39u);
    EXPECT_EQ(list[3], atoms[4].get());
    eln.deselectAll();
    EXPECT_TRUE(eln.getContactList().empty());
}
