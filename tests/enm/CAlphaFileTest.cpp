// The deformed structure file: coordinate layout, force remarks, which records are written.
#include "support/TestData.h"

#include "common/TextParse.h"
#include "molecule/PdbRecord.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace vornax;
using namespace vornax::testing;

namespace {

std::vector<std::string> readLines(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::unique_ptr<LoadedStructure> solved(const std::string& name) { return solvedStructure(findPdb(name)); }

/// A pull of `node` released in force-saving mode: its force stays on the node.
void keepForce(ElasticNetworkModel* eln, int node, const Vector3d& newtons)
{
    Atom* atom = eln->getAtom(node);
    atom->simulateState(0);
    atom->addAForce(newtons, newtons.size());
    atom->saveForce();
    eln->applyForce(newtons, node);
    eln->simulate();
    atom->simulateState(2);
    eln->simulate();
    eln->zeroF(); // the pull is over: later mode changes go to node 0
}

struct OutFile {
    TempFile file{"", ".pdb"};
    std::vector<std::string> write(const ElasticNetworkModel& eln)
    {
        EXPECT_TRUE(eln.write_C_alphaFile(file.path().string()));
        return readLines(file.path());
    }
};

} // namespace

TEST(PadStringTest, EightColumnsCutNotRounded)
{
    EXPECT_EQ(ElasticNetworkModel::padString("-12.3456"), " -12.345");
    EXPECT_EQ(ElasticNetworkModel::padString("123.4"), " 123.4  ");
    EXPECT_EQ(ElasticNetworkModel::padString("1.5"), "   1.5  ");
    EXPECT_EQ(ElasticNetworkModel::padString("-1234.5678"), "-1234.56");
    EXPECT_EQ(ElasticNetworkModel::padString("0.0009"), "   0.000");
    // No decimal point, exponent notation and long integer parts still fill exactly 8.
    EXPECT_EQ(ElasticNetworkModel::padString("12"), "  12.   ");
    EXPECT_EQ(ElasticNetworkModel::padString("1e-05"), "   0.000");
    EXPECT_EQ(ElasticNetworkModel::padString("-3.5E-07"), "  -0.000");
    EXPECT_EQ(ElasticNetworkModel::padString("12345.678"), "12345.67");
    EXPECT_EQ(ElasticNetworkModel::padString("-12345.6"), "-12345.6");
    EXPECT_EQ(ElasticNetworkModel::padString("1234567"), "1234567.");
}

TEST(CAlphaFileTest, WithoutForcesOnlyTheCAlphaRecordsAndEnd)
{
    auto s = solved("1crn.pdb");
    ElasticNetworkModel& eln = *s->network;
    OutFile out;
    const auto lines = out.write(eln);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(eln.getAmountOfAtoms()) + 1);
    EXPECT_EQ(lines.back(), "END" + std::string(77, ' '));

    std::vector<std::string> cAlphas;
    for (const auto& l : eln.geometry().getPdbLines())
        if (pdb::isCAlphaRecord(l)) cAlphas.push_back(l);
    ASSERT_EQ(cAlphas.size(), lines.size() - 1);
    for (std::size_t i = 0; i < cAlphas.size(); ++i) {
        const std::string& got = lines[i];
        const std::string& want = cAlphas[i];
        ASSERT_EQ(got.size(), want.size()) << got;
        EXPECT_EQ(got.substr(0, 30), want.substr(0, 30));
        EXPECT_EQ(got.substr(54), want.substr(54));
        // Unmoved: the same coordinates, to the three decimals of the field.
        for (int c = 0; c < 3; ++c) {
            double a = 0, b = 0;
            ASSERT_TRUE(text::parseDouble(text::trimmed(got.substr(30 + 8 * c, 8)), a)) << got;
            ASSERT_TRUE(text::parseDouble(text::trimmed(want.substr(30 + 8 * c, 8)), b)) << want;
            EXPECT_NEAR(a, b, 1e-9);
        }
    }
}

TEST(CAlphaFileTest, KeptForcesGiveRemarksAndMoveTheRecords)
{
    auto s = solved("1crn.pdb");
    ElasticNetworkModel& eln = *s->network;
    ScopedUserPrompts scoped(&s->prompts);

    // Node 3 through the mode boxes 0 and 4, node 7 through the slider (12 modes), node 20
    // through all modes.
    const int32_t boxes[] = {0, 4};
    {
        const ModeChangeToken token = eln.beginModeChange();
        eln.receiveNewModes(token, boxes, 2);
        eln.useAllModes(token, false);
        eln.selectModeState(token, 0);
    }
    keepForce(&eln, 3, Vector3d(0.0f, 0.5f, 0.0f));
    {
        const ModeChangeToken token = eln.beginModeChange();
        eln.useAllModes(token, false);
        eln.selectAmountOfModes(token, 12);
        eln.selectModeState(token, 1);
    }
    keepForce(&eln, 7, Vector3d(0.25f, 0.0f, 0.0f));
    {
        const ModeChangeToken token = eln.beginModeChange();
        eln.receiveNewModes(token, nullptr, 0);
        eln.selectModeState(token, 2);
        eln.useAllModes(token, true);
    }
    keepForce(&eln, 20, Vector3d(0.0f, 0.0f, -1.0f));
    eln.updateDeformables();

    OutFile out;
    const auto lines = out.write(eln);
    ASSERT_GE(lines.size(), 8u);
    const Atom* a3 = eln.getAtom(3);
    std::ostringstream first;
    first << "REMARK   1 Force Applied to " << a3->getResidueName() << " " << a3->getResidue() << " "
          << a3->getChainID() << ": (X) 0 (Y) 0.5 (Z) 0 KCalPerMolPerAngstrom: " << a3->getKcalForce().size()
          << " Newtons: 0.5";
    EXPECT_EQ(lines[0], first.str());
    EXPECT_EQ(lines[1], "REMARK  MODE BUTTONS ACTIVE FOR FORCE ");
    EXPECT_EQ(lines[2], "REMARK  MODE NUMBER 1");
    EXPECT_EQ(lines[3], "REMARK  MODE NUMBER 5");
    EXPECT_EQ(lines[4].rfind("REMARK   1 Force Applied to ", 0), 0u);
    EXPECT_EQ(lines[5], "REMARK  MODE SLIDER ACTIVE FOR FORCE 12");
    EXPECT_EQ(lines[6].rfind("REMARK   1 Force Applied to ", 0), 0u);
    EXPECT_EQ(lines[7], "REMARK  MAXIMUM MODES ACTIVE FOR FORCE " + std::to_string(eln.getTotalMaxModes()));

    // Every written record sits at its node's coordinates plus the displacement.
    const auto& d = eln.deformation().getDisplacement();
    const auto& nodes = eln.geometry().getBackboneList();
    double largest = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const std::string& l = lines[8 + i];
        for (int c = 0; c < 3; ++c) {
            double v = 0;
            ASSERT_TRUE(text::parseDouble(text::trimmed(l.substr(30 + 8 * c, 8)), v)) << l;
            const double want =
                nodes[i].coordinates[static_cast<std::size_t>(c)] + d[3 * i + static_cast<std::size_t>(c)];
            EXPECT_NEAR(v, want, 1.01e-3) << "node " << i << " " << l;
            largest = std::max(largest, std::fabs(d[3 * i + static_cast<std::size_t>(c)]));
        }
    }
    EXPECT_GT(largest, 0.01);
}

TEST(CAlphaFileTest, NucleicAcidNodesAreSkippedButCounted)
{
    // DNA alone: phosphorus nodes only, so no ATOM records.
    {
        auto s = solved("1bna.pdb");
        OutFile out;
        const auto lines = out.write(*s->network);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].substr(0, 3), "END");
    }
    // Protein and DNA: the protein's records take their own nodes' displacements.
    auto s = solved("1d66.pdb");
    ElasticNetworkModel& eln = *s->network;
    const auto& nodes = eln.geometry().getBackboneList();
    int firstProtein = -1, lastProtein = -1, nucleic = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].isNucleic) {
            ++nucleic;
        } else {
            if (firstProtein < 0) firstProtein = static_cast<int>(i);
            lastProtein = static_cast<int>(i);
        }
    }
    ASSERT_GT(nucleic, 0);
    ASSERT_GT(firstProtein, 0) << "the test needs phosphorus nodes before protein nodes";
    ScopedUserPrompts scoped(&s->prompts);
    keepForce(&eln, lastProtein, Vector3d(0.3f, -0.3f, 0.6f));
    OutFile out;
    const auto lines = out.write(eln);
    const auto& d = eln.deformation().getDisplacement();
    std::size_t row = 2; // the force remark and the maximum-modes remark
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].isNucleic) continue;
        ASSERT_LT(row, lines.size());
        const std::string& l = lines[row++];
        for (int c = 0; c < 3; ++c) {
            double v = 0;
            ASSERT_TRUE(text::parseDouble(text::trimmed(l.substr(30 + 8 * c, 8)), v)) << l;
            EXPECT_NEAR(v, nodes[i].coordinates[static_cast<std::size_t>(c)] + d[3 * i + static_cast<std::size_t>(c)],
                        1.01e-3)
                << "node " << i;
        }
    }
    EXPECT_EQ(row + 1, lines.size());
}

TEST(CAlphaFileTest, UnwritablePathIsReported)
{
    auto s = buildNetwork(findPdb("1crn.pdb"));
    EXPECT_FALSE(s->network->write_C_alphaFile("/nonexistent-folder/out.pdb"));
}
