// Every structure of the public PDB corpus (shared/data/pdb, described by its MANIFEST.md)
// loaded with the reader and compared with values counted from the files independently.
//
// Nodes: one per line whose atom name (cols 13-16) is exactly " CA ", or whose cols 14-15
// trimmed are "P"; every model and every alternate location counts. Chains: each TER record
// appends an empty chain, so a file whose last chain is closed by TER ends with an empty one,
// and NMR files with one TER per model get one chain per model. These counts agree with the
// MANIFEST's node table; its chain column names the file's chain IDs, which the TER rule
// does not follow (see the notes by the rows).
#include "support/TestData.h"

#include "molecule/Atom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vornax {
namespace {

using testing::LoadedStructure;

/// Chain sizes as runs: (nodes per chain, number of such chains), in file order.
using Runs = std::vector<std::pair<int, int>>;

struct CorpusFile {
    const char* name;
    int cAlphaNodes;
    int phosphorusNodes;
    Runs chains;
    bool nmr;
    float temperature; ///< K, as the network uses it (NULL or absent -> 300)
    bool noDetails;    ///< no REMARK 200/210 block: both default message boxes expected
    int waters;        ///< atom lines containing " HOH "
    int atoms;         ///< ATOM/HETATM lines, all models
    int recordLines;   ///< line 1 plus every later ATOM/HETATM and TER line, kept for writing
    const char* code;  ///< "XXXX" when no HEADER record comes before the atoms (code prompt shown)
};

void PrintTo(const CorpusFile& f, std::ostream* os) { *os << f.name; }

// clang-format off
const std::vector<CorpusFile> kCorpus = {
    {"1crn.pdb",   46,  0, {{46, 1}, {0, 1}},                 false, 300.0f, false,   0,   327,   329, "1CRN"},
    {"1ubq.pdb",   76,  0, {{76, 1}, {0, 1}},                 false, 300.0f, false,  58,   660,   662, "1UBQ"},
    // Altloc copies of the backbone are separate nodes: 53 for 46 residues.
    {"1ejg.pdb",   53,  0, {{53, 1}, {0, 1}},                 false, 100.0f, false,   0,   831,   833, "1EJG"},
    // Heme CAA..CAD are not nodes; the two PO4 phosphorus come after the last TER.
    {"4hhb.pdb",  574,  2, {{141, 1}, {146, 1}, {141, 1}, {146, 1}, {2, 1}},
                                                               false, 300.0f, false, 221,  4779,  4784, "4HHB"},
    {"1ake.pdb",  428,  0, {{214, 2}, {0, 1}},                false, 300.0f, false, 378,  3816,  3819, "1AKE"},
    // 5' terminal nucleotides carry no P: 11 per strand.
    {"1bna.pdb",    0, 22, {{11, 2}, {0, 1}},                 false, 300.0f, false,  80,   566,   569, "1BNA"},
    // Modified nucleotides (HETATM) count; ions and waters with blank chain follow the TER.
    {"1ehz.pdb",    0, 76, {{76, 1}, {0, 1}},                 false,  80.0f, false, 160,  1821,  1823, "1EHZ"},
    // DNA strands D, E first, then protein chains A, B.
    {"1d66.pdb",  114, 36, {{18, 2}, {57, 2}, {0, 1}},        false, 118.0f, false,  51,  1762,  1767, "1D66"},
    // One TER per model: ten chains of one model each.
    {"1d3z.pdb",  760,  0, {{76, 10}, {0, 1}},                true,  308.0f, false,   0, 12310, 12321, "1D3Z"},
    {"1l2y.pdb",  760,  0, {{20, 38}, {0, 1}},                true,  282.0f, false,   0, 11552, 11591, "1L2Y"},
    // The file starts with a blank line; the code comes from the HEADER on line 2.
    // Calcium "CA  " is no node.
    {"2por.pdb",  301,  0, {{301, 1}, {0, 1}},                false, 300.0f, false, 274,  2589,  2591, "2POR"},
    // Carbohydrate chains E, F have no nodes and no TER of their own.
    {"1igy.pdb", 1294,  0, {{213, 1}, {434, 1}, {213, 1}, {434, 1}, {0, 1}},
                                                               false, 291.0f, false,   0, 12750, 12755, "1IGY"},
    {"3wip.pdb", 2054,  0, {{205, 1}, {211, 1}, {210, 1}, {207, 2}, {206, 1}, {202, 1}, {199, 1},
                            {201, 1}, {206, 1}, {0, 1}},      false, 101.0f, false, 407, 17146, 17157, "3WIP"},
    // Chains in file order B, D, A, C.
    {"4jsv.pdb", 2750,  0, {{1058, 1}, {317, 1}, {1058, 1}, {317, 1}, {0, 1}},
                                                               false, 200.0f, false,   0, 22194, 22199, "4JSV"},
    // Electron microscopy: REMARK 245 only, so type and temperature fall back to the defaults.
    {"3j6r.pdb", 2868,  0, {{478, 6}, {0, 1}},                false, 300.0f, true,    0, 17214, 17221, "3J6R"},
    {"1aon.pdb", 8015,  0, {{524, 14}, {97, 7}, {0, 1}},      false, 100.0f, false,   0, 58870, 58892, "1AON"},
    {"odd01.pdb",   1,  0, {{1, 1}},                          false, 300.0f, true,    0,    18,    18, "XXXX"},
    {"odd02.pdb",   2,  0, {{2, 1}},                          false, 300.0f, true,    0,    36,    36, "XXXX"},
    {"tiny.pdb",    2,  0, {{2, 1}, {0, 1}},                  false, 300.0f, true,    1,    37,    38, "XXXX"},
    {"names.pdb",   0,  3, {{3, 1}, {0, 1}},                  false, 300.0f, true,    4,    86,    87, "XXXX"},
    // Ligand only: no nodes, no chains.
    {"small02.pdb", 0,  0, {},                                false, 300.0f, true,    0,    36,    36, "XXXX"},
    // CHARMM output: left-justified "CA  " names, so no nodes although 214 residues are present.
    {"adk_open.pdb", 0, 0, {},                                false, 300.0f, true,    0,  3341,  3342, "XXXX"},
    {"calcium-calpha-example.pdb", 1, 0, {{1, 1}},            false, 300.0f, true,    0,     9,    10, "XXXX"},
    // 116 models, no TER: a single chain.
    {"2k39_ca.pdb", 8816, 0, {{8816, 1}},                     false, 300.0f, true,    0,  8816,  8817, "XXXX"},
    // Waters written as ATOM records (WAT), each followed by a bare TER.
    {"rter.pdb",    2,  0, {{2, 1}, {0, 8}},                  false, 300.0f, true,    0,    42,    50, "XXXX"},
    {"disordered.pdb", 6, 0, {{6, 1}},                        false, 300.0f, true,    0,    50,    51, "XXXX"},
    {"insertion_codes.pdb", 1, 0, {{1, 1}},                   false, 300.0f, true,    0,     6,     6, "XXXX"},
    // Blank chain IDs; TER records split the peptide in two, then six more follow.
    {"nochainnameterrecords.pdb", 4, 0, {{2, 2}, {0, 6}},     false, 300.0f, true,    0,    67,    74, "XXXX"},
};
// clang-format on

std::vector<int> expand(const Runs& runs)
{
    std::vector<int> sizes;
    for (const auto& [nodes, count] : runs) sizes.insert(sizes.end(), count, nodes);
    return sizes;
}

const char* const kTypeDefault = "Experiment type unable to be determined from PDB File. "
                                 "Defaulting to X-RAY DIFFRACTION Experiment data...";
const char* const kTemperatureDefault = "Experiment temperature unable to be determined from PDB "
                                        "File. Defaulting temperature to 300K...";

class CorpusTest : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(CorpusTest, LoadsAsCounted)
{
    const CorpusFile& f = GetParam();
    const auto path = testing::findPdb(f.name);
    if (path.empty()) GTEST_SKIP() << f.name << " is in neither tests/data/pdb nor the shared corpus";

    LoadedStructure s(path);
    ASSERT_TRUE(s.ok) << s.reader->getLoadError();
    const ElasticNetworkModel& eln = *s.network;

    // Atoms.
    EXPECT_EQ(static_cast<int>(s.atoms.size()), f.atoms);
    EXPECT_EQ(s.reader->getAtomCount(), f.atoms);
    const auto waters = std::count_if(s.atoms.begin(), s.atoms.end(), [](const Atom* a) { return a->isWater(); });
    EXPECT_EQ(waters, f.waters);
    EXPECT_EQ(static_cast<int>(eln.geometry().getPdbLines().size()), f.recordLines);
    EXPECT_EQ(eln.geometry().getTotalAmountOfAtoms(), f.recordLines);

    // Nodes and chains.
    const auto& nodes = eln.geometry().getBackboneList();
    const auto nucleic =
        std::count_if(nodes.begin(), nodes.end(), [](const ELNBackboneData& n) { return n.isNucleic; });
    EXPECT_EQ(static_cast<int>(nodes.size()), f.cAlphaNodes + f.phosphorusNodes);
    EXPECT_EQ(nucleic, f.phosphorusNodes);
    std::vector<int> chainSizes;
    for (const auto& chain : eln.geometry().getChainList()) chainSizes.push_back(static_cast<int>(chain.size()));
    EXPECT_EQ(chainSizes, expand(f.chains));

    // Experiment details and the messages about their defaults.
    EXPECT_EQ(eln.geometry().isNMR(), f.nmr);
    EXPECT_FLOAT_EQ(eln.geometry().getTemperature(), f.temperature);
    const int expectedBoxes = f.noDetails ? 1 : 0;
    EXPECT_EQ(s.prompts.countMessages(kTypeDefault), expectedBoxes);
    EXPECT_EQ(s.prompts.countMessages(kTemperatureDefault), expectedBoxes);
    EXPECT_EQ(static_cast<int>(s.prompts.messages().size()), 2 * expectedBoxes);
    for (const auto& m : s.prompts.messages()) EXPECT_EQ(m.caption, "PDB File Error");

    // Structure code: asked for (and left unanswered) whenever line 1 gives none.
    EXPECT_EQ(eln.geometry().getPDBName(), f.code);
    const auto asked = s.prompts.textPrompts();
    ASSERT_EQ(asked.size(), std::string(f.code) == "XXXX" ? 1u : 0u);
    if (!asked.empty()) {
        EXPECT_EQ(asked.front().title, "File Data Warning");
    }
}

std::string caseName(const ::testing::TestParamInfo<CorpusFile>& info)
{
    std::string name = info.param.name;
    name = name.substr(0, name.rfind(".pdb"));
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(PublicSet, CorpusTest, ::testing::ValuesIn(kCorpus), caseName);

// A structure added to the shared set must get a row above, and every row must name a real file.
TEST(CorpusTableTest, MatchesSharedDirectory)
{
    const auto dir = testing::sharedPdbDir();
    if (dir.empty()) GTEST_SKIP() << "shared PDB corpus not present";

    std::set<std::string> onDisk;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".pdb") onDisk.insert(entry.path().filename().string());
    std::set<std::string> inTable;
    for (const auto& f : kCorpus) EXPECT_TRUE(inTable.insert(f.name).second) << "duplicate row " << f.name;

    for (const auto& name : onDisk) EXPECT_TRUE(inTable.count(name)) << name << " has no row in kCorpus";
    for (const auto& name : inTable) EXPECT_TRUE(onDisk.count(name)) << name << " is not in " << dir;
}

} // namespace
} // namespace vornax
