// Reader behaviour on small inline structures (columns built with atomLine) and hostile input.
#include "support/TestData.h"

#include "molecule/PdbRecord.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>

using namespace vornax;
using namespace vornax::testing;

namespace {

const std::string kHeader = "HEADER    TEST STRUCTURE                          01-JAN-00   1TST              \n";
const std::string kDetails = "REMARK 200 EXPERIMENTAL DETAILS                                                 \n"
                             "REMARK 200  EXPERIMENT TYPE                : X-RAY DIFFRACTION                  \n"
                             "REMARK 200  DATE OF DATA COLLECTION        : NULL                               \n"
                             "REMARK 200  TEMPERATURE           (KELVIN) : 150.0                              \n";

std::string ca(int serial, char chain, int res, double x, double b = 20.0)
{
    return atomLine("ATOM", serial, " CA ", "ALA", chain, res, x, 0, 0, b) + "\n";
}

std::string ter(char chain) { return std::string("TER       9      ALA ") + chain + "\n"; }

std::vector<std::size_t> chainSizes(const LoadedStructure& s)
{
    std::vector<std::size_t> sizes;
    for (const auto& c : s.network->geometry().getChainList()) sizes.push_back(c.size());
    return sizes;
}

} // namespace

TEST(PdbRecordTest, NodePredicates)
{
    EXPECT_TRUE(pdb::isCAlphaRecord(atomLine("ATOM", 1, " CA ", "ALA", 'A', 1, 0, 0, 0)));
    EXPECT_TRUE(pdb::isCAlphaRecord(atomLine("HETATM", 1, " CA ", "MSE", 'A', 1, 0, 0, 0)));
    EXPECT_FALSE(pdb::isCAlphaRecord(atomLine("HETATM", 1, "CA  ", " CA", 'A', 1, 0, 0, 0, 20, "CA")));
    for (const char* name : {" CAA", " CAB", " CAC", " CAD", "HCA ", " CA1", "1CA "})
        EXPECT_FALSE(pdb::isCAlphaRecord(atomLine("HETATM", 1, name, "HEM", 'A', 1, 0, 0, 0))) << name;
    EXPECT_TRUE(pdb::isPhosphorusRecord(atomLine("ATOM", 1, " P  ", " DA", 'A', 1, 0, 0, 0, 20, "P")));
    EXPECT_FALSE(pdb::isPhosphorusRecord(atomLine("ATOM", 1, " OP1", " DA", 'A', 1, 0, 0, 0, 20, "O")));
    EXPECT_FALSE(pdb::isCAlphaRecord("ATOM      1  CA"));
    EXPECT_TRUE(pdb::isTerRecord("TER"));
    EXPECT_TRUE(pdb::isTerRecord("TER     100      ALA A  20"));
    EXPECT_FALSE(pdb::isTerRecord("MASTER      0    0    0    0    0    0    0    0   10    1    0    1"));
}

// The hand-over to the network, seen by a stand-in network: which calls, in which order. The
// reader alone keeps its records without any network.
TEST(FileHandleTest, HandsRecordsToItsNetworkInLoadOrder)
{
    struct Recorder final : NetworkRecordSink {
        std::vector<std::string> calls;
        void add(std::string call) { calls.push_back(std::move(call)); }
        void enterPDBName(const std::string& name) override { add("name " + name); }
        void savePdBHeaderLine(const std::string& line) override { add("header " + line.substr(0, 6)); }
        void addLineInfo(std::string&& line) override { add("line " + line.substr(0, 4)); }
        void set_X_RAY_Temperature(float kelvin) override { add("kelvin " + std::to_string(int(kelvin))); }
        void set_NMR_Exp(bool nmr) override { add(nmr ? "nmr" : "x-ray"); }
        void subtractVectorFromLocalPosition(const Vector3d& c) override { add("centre " + std::to_string(int(c.x))); }
        void recieveChainList(ChainList& c) override
        {
            add("chains " + std::to_string(c.size()));
            c.clear();
        }
        void insertPureCoordList(std::vector<Vector3d>& l) override
        {
            add("coords " + std::to_string(l.size()));
            l.clear();
        }
        void setTotalAmountOfAtoms(int32_t n) override { add("lines " + std::to_string(n)); }
        void setResidueData(std::vector<std::string> ids, std::vector<std::string>, std::vector<std::string>) override
        {
            add("chain IDs " + std::to_string(ids.size()));
        }
    };
    ScriptedPrompts prompts;
    ScopedUserPrompts scoped(&prompts);
    console::Capture capture;
    TempFile f(kHeader + kDetails + ca(1, 'A', 1, 0) + ca(2, 'A', 2, 4) + ter('A'));

    Recorder network;
    FileHandle reader;
    reader.setNetwork(&network);
    ASSERT_TRUE(reader.openFile(f.path()));
    reader.enterResDataToELN();
    const std::vector<std::string> expected = {"line HEAD",     "header HEADER", "name 1TST",     "header REMARK",
                                               "header REMARK", "x-ray",         "header REMARK", "kelvin 150",
                                               "line ATOM",     "line ATOM",     "line TER ",     "centre 20",
                                               "chains 2",      "coords 2",      "lines 4",       "chain IDs 1"};
    EXPECT_EQ(network.calls, expected);
    auto atoms = reader.getAtomList();
    deleteAtoms(atoms);

    FileHandle alone;
    ASSERT_TRUE(alone.openFile(f.path()));
    EXPECT_EQ(alone.getChainList().size(), 2u);
    EXPECT_EQ(alone.getChainList()[0].size(), 2u);
    EXPECT_EQ(alone.getRecordLineCount(), 4);
    atoms = alone.getAtomList();
    deleteAtoms(atoms);
}

TEST(FileHandleTest, ChainsFollowTerRecords)
{
    auto s = LoadedStructure::fromText(kHeader + kDetails + ca(1, 'A', 1, 0) + ca(2, 'A', 2, 3.8) + ter('A')
                                       + ca(3, 'B', 1, 10) + ter('B') + "MASTER        0    0\nEND\n");
    ASSERT_TRUE(s->ok);
    EXPECT_EQ(chainSizes(*s), (std::vector<std::size_t>{2, 1, 0}));
    EXPECT_EQ(s->reader->getChainIDList(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(s->console.count("chain termination"), 2);
    EXPECT_TRUE(s->console.contains("chain terminationTER"));
    EXPECT_EQ(s->console.count("Added first protein chain"), 1);
    // Header line + 3 atoms + 2 TER lines are handed on; MASTER and END are not.
    EXPECT_EQ(s->network->geometry().getTotalAmountOfAtoms(), 6);
    EXPECT_EQ(s->network->geometry().getPdbLines().size(), 6u);
    EXPECT_EQ(s->network->geometry().getPDBName(), "1TST");
    EXPECT_FLOAT_EQ(s->network->geometry().getTemperature(), 150.0f);
    EXPECT_FALSE(s->network->geometry().isNMR());
    EXPECT_TRUE(s->prompts.messages().empty());
    EXPECT_TRUE(s->console.contains("Total Amount of atoms: 3Arraysize: 3"));
    EXPECT_TRUE(s->console.contains("Time taken to load file: "));
}

TEST(FileHandleTest, TerBeforeAnyBackboneAtomOpensAnEmptyFirstChain)
{
    auto s = LoadedStructure::fromText(kHeader + kDetails + "TER\n" + ca(1, 'A', 1, 0) + ca(2, 'A', 2, 3.8));
    EXPECT_EQ(chainSizes(*s), (std::vector<std::size_t>{2}));
    EXPECT_FALSE(s->console.contains("Added first protein chain"));
}

TEST(FileHandleTest, CAlphaNodesCalciumHemeAndAlternateLocations)
{
    std::string altA = ca(2, 'A', 2, 3.8), altB = ca(3, 'A', 2, 3.9);
    altA[16] = 'A';
    altB[16] = 'B';
    auto s = LoadedStructure::fromText(kHeader + kDetails + ca(1, 'A', 1, 0) + altA + altB
                                       + atomLine("HETATM", 4, " CA ", "MSE", 'A', 3, 7, 0, 0) + "\n"
                                       + atomLine("HETATM", 5, "CA  ", " CA", 'A', 101, 20, 0, 0, 30, "CA") + "\n"
                                       + atomLine("HETATM", 6, " CAA", "HEM", 'A', 102, 25, 0, 0) + "\n"
                                       + atomLine("ATOM", 7, "HCA ", "ALA", 'A', 4, 26, 0, 0, 1, "H") + "\n");
    ASSERT_EQ(s->nodeCount(), 4);
    EXPECT_EQ(s->atoms.size(), 7u);
    // Calcium keeps its element: grey 128 colour, no radius entry so the default 10.
    const Atom* calcium = s->atoms[4];
    EXPECT_EQ(calcium->getEle(), "CA");
    EXPECT_EQ(calcium->getMyColour(), Vector3d(128 / 255.0f, 128 / 255.0f, 128 / 255.0f));
    EXPECT_FLOAT_EQ(calcium->getRadius(), 10.0f);
    EXPECT_EQ(s->network->geometry().getPureCoordList().size(), 4u);
    EXPECT_FLOAT_EQ(s->network->geometry().getPureCoordList()[2].x, 3.9f);          // unscaled Å
    EXPECT_FLOAT_EQ(s->network->geometry().getBackboneList()[2].position.x, 39.0f); // model units
}

TEST(FileHandleTest, NucleicChainsAndResidueLists)
{
    auto s = LoadedStructure::fromText(kHeader + kDetails + atomLine("ATOM", 1, " P  ", " DG", 'B', 2, 0, 0, 0, 30, "P")
                                       + "\n" + atomLine("ATOM", 2, " OP1", " DG", 'B', 2, 1, 0, 0, 30, "O") + "\n"
                                       + atomLine("ATOM", 3, " P  ", " DC", 'B', 3, 6, 0, 0, 31, "P") + "\n" + ter('B')
                                       + ca(4, 'A', 1, 20) + ter('A'));
    ASSERT_EQ(s->nodeCount(), 3);
    const auto& bb = s->network->geometry().getBackboneList();
    EXPECT_TRUE(bb[0].isNucleic);
    EXPECT_TRUE(bb[1].isNucleic);
    EXPECT_FALSE(bb[2].isNucleic);
    EXPECT_EQ(s->console.count("detected DNA/RNA"), 2);
    EXPECT_EQ(s->console.count("added first DNA Chain"), 1);
    EXPECT_EQ(chainSizes(*s), (std::vector<std::size_t>{2, 1, 0}));
    EXPECT_EQ(s->reader->getResidueNameList(), (std::vector<std::string>{" DG", " DC", "ALA"}));
    EXPECT_EQ(s->reader->getResidueNumberList(), (std::vector<std::string>{"   2", "   3", "   1"}));
    EXPECT_EQ(s->reader->getChainIDList(), (std::vector<std::string>{"B", "A"}));
    // The residue data reach the network only on request.
    EXPECT_TRUE(s->network->geometry().getChainIDs().empty());
    s->reader->enterResDataToELN();
    EXPECT_EQ(s->network->geometry().getChainIDs(), (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(s->network->geometry().getSeqNums().size(), 3u);
}

TEST(FileHandleTest, FieldsAreReadInFull)
{
    auto s = LoadedStructure::fromText(kHeader + kDetails + ca(1, 'A', 1234, 1.5, 100.0)
                                       + atomLine("HETATM", 2, " O  ", "HOH", 'W', 1, 5, 5, 5, 9, "O") + "\n"
                                       + atomLine("ATOM", 3, " CB ", "ALA", 'A', 1234, 2, 2, 2, 9, "") + "\n");
    ASSERT_EQ(s->nodeCount(), 1);
    const auto& node = s->network->geometry().getBackboneList()[0];
    EXPECT_EQ(node.residueNumber, "1234");
    EXPECT_DOUBLE_EQ(node.bFactor, 100.0);
    EXPECT_EQ(node.chainID, "A");
    EXPECT_EQ(node.residueName, "ALA");
    const Atom* first = s->atoms[0];
    EXPECT_EQ(first->getMyInfo(), "CA  ALA A1234");
    EXPECT_EQ(first->getResidue(), "1234");
    EXPECT_EQ(first->getMyLocalPosition(), Vector3d(15, 0, 0));
    EXPECT_FALSE(first->isWater());
    EXPECT_TRUE(s->atoms[1]->isWater());
    // Blank element columns: empty element, grey, default radius.
    EXPECT_EQ(s->atoms[2]->getEle(), "");
    EXPECT_EQ(s->atoms[2]->getMyColour(), Vector3d(0.5f, 0.5f, 0.5f));
    EXPECT_FLOAT_EQ(s->atoms[2]->getRadius(), 10.0f);
    // Oxygen: CPK red, van der Waals radius plus the probe.
    EXPECT_EQ(s->atoms[1]->getMyColour(), Vector3d(240 / 255.0f, 0, 0));
    EXPECT_FLOAT_EQ(s->atoms[1]->getRadius(), SuperAtom::getOrigHapticRadius() + 15.2f);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s->atoms[i]->getMyPositionInOriginalList(), i);
}

TEST(FileHandleTest, ElementFallsBackToColumn14OnShortLines)
{
    auto s = LoadedStructure::fromText(kHeader + kDetails + ca(1, 'A', 1, 0).substr(0, 66) + "\n"
                                       + atomLine("ATOM", 2, " N  ", "ALA", 'A', 1, 1, 0, 0).substr(0, 54) + "\n");
    ASSERT_EQ(s->atoms.size(), 2u);
    EXPECT_EQ(s->atoms[0]->getEle(), "C");
    EXPECT_EQ(s->atoms[1]->getEle(), "N");
    EXPECT_DOUBLE_EQ(s->network->geometry().getBackboneList()[0].bFactor, 20.0);
}

TEST(FileHandleTest, PdbCodeDialog)
{
    const std::string xxxx = "HEADER    TEST STRUCTURE                          01-JAN-00   XXXX              \n";
    {
        ScriptedPrompts prompts;
        prompts.queueText(std::string("9ABC"));
        ScopedUserPrompts scoped(&prompts);
        console::Capture capture;
        TempFile f(xxxx + kDetails + ca(1, 'A', 1, 0));
        NetworkFileHandle reader;
        reader.openFile(f.path());
        std::unique_ptr<ElasticNetworkModel> net(reader.getElasticNetwork());
        auto atoms = reader.getAtomList();
        deleteAtoms(atoms);
        ASSERT_EQ(prompts.textPrompts().size(), 1u);
        const TextPrompt p = prompts.textPrompts()[0];
        EXPECT_EQ(p.title, "File Data Warning");
        EXPECT_EQ(p.heading, "Unable to determine PDB Code from file...");
        EXPECT_EQ(p.prompt, "Please Enter PDB code for current protein");
        EXPECT_EQ(p.buttonText, "Enter");
        EXPECT_TRUE(p.requireNonEmpty);
        EXPECT_EQ(net->geometry().getPDBName(), "9ABC");
        EXPECT_TRUE(capture.contains("Before: XXXX"));
    }
    auto known = LoadedStructure::fromText(kHeader + kDetails + ca(1, 'A', 1, 0));
    EXPECT_TRUE(known->prompts.textPrompts().empty());
    // Blank lines before the HEADER record do not hide its code.
    auto late = LoadedStructure::fromText("\n" + kHeader + kDetails + ca(1, 'A', 1, 0));
    EXPECT_EQ(late->network->geometry().getPDBName(), "1TST");
    EXPECT_TRUE(late->prompts.textPrompts().empty());
    // No answer: the code stays XXXX.
    auto unanswered = LoadedStructure::fromText(xxxx + kDetails + ca(1, 'A', 1, 0));
    EXPECT_EQ(unanswered->network->geometry().getPDBName(), "XXXX");
}

TEST(FileHandleTest, FileWithoutHeaderKeepsItsFirstAtom)
{
    auto s = LoadedStructure::fromText(ca(1, 'A', 1, 0) + ca(2, 'A', 2, 3.8) + "END\n");
    EXPECT_EQ(s->nodeCount(), 2);
    EXPECT_EQ(s->atoms.size(), 2u);
    EXPECT_EQ(s->network->geometry().getTotalAmountOfAtoms(), 2); // the first line is counted once
    EXPECT_EQ(s->network->geometry().getPdbLines().size(), 2u);
    EXPECT_EQ(s->prompts.textPrompts().size(), 1u);
    EXPECT_EQ(s->network->geometry().getPDBName(), "XXXX");
    // No details block: both defaults with their message boxes.
    EXPECT_EQ(s->prompts.countMessages("Experiment type unable to be determined from PDB File. "
                                       "Defaulting to X-RAY DIFFRACTION Experiment data..."),
              1);
    EXPECT_EQ(s->prompts.countMessages("Experiment temperature unable to be determined from PDB File. "
                                       "Defaulting temperature to 300K..."),
              1);
    for (const auto& m : s->prompts.messages()) {
        EXPECT_EQ(m.caption, "PDB File Error");
        EXPECT_EQ(m.icon, MessageIcon::Warning);
        EXPECT_EQ(m.buttons, MessageButtons::Ok);
    }
    EXPECT_FLOAT_EQ(s->network->geometry().getTemperature(), 300.0f);
}

TEST(FileHandleTest, ExperimentDetails)
{
    const std::string block = "REMARK 210 EXPERIMENTAL DETAILS\n" // trailing blanks stripped
                              "REMARK 210  EXPERIMENT TYPE                : NMR\n"
                              "REMARK 210  TEMPERATURE           (KELVIN) : NULL\n";
    auto nmr = LoadedStructure::fromText(kHeader + block + ca(1, 'A', 1, 0));
    EXPECT_TRUE(nmr->network->geometry().isNMR());
    EXPECT_FLOAT_EQ(nmr->network->geometry().getTemperature(), 300.0f);
    EXPECT_TRUE(nmr->console.contains("Found NMR Experiment data..."));
    EXPECT_TRUE(nmr->console.contains("NULL temp Field setting Tx to 300"));
    EXPECT_TRUE(nmr->prompts.messages().empty());
    EXPECT_EQ(nmr->network->geometry().getHeaderLines().size(), 4u);

    // Two temperatures are not a number: unchanged, reported on the console, no message box.
    auto two =
        LoadedStructure::fromText(kHeader
                                  + "REMARK 200 EXPERIMENTAL DETAILS\nREMARK 200  EXPERIMENT TYPE : X-RAY DIFFRACTION\n"
                                    "REMARK 200  TEMPERATURE           (KELVIN) : 100; 200\n"
                                  + ca(1, 'A', 1, 0));
    EXPECT_FLOAT_EQ(two->network->geometry().getTemperature(), 300.0f);
    EXPECT_TRUE(two->console.contains("bad cast error in temperature derivation"));
    EXPECT_TRUE(two->prompts.messages().empty());

    // Lines without ':' are tolerated: the type stays missing, the temperature is unreadable.
    auto noColon = LoadedStructure::fromText(kHeader
                                             + "REMARK 200 EXPERIMENTAL DETAILS\nREMARK 200  EXPERIMENT TYPE   X-RAY\n"
                                               "REMARK 200  TEMPERATURE           (KELVIN)\n"
                                             + ca(1, 'A', 1, 0));
    EXPECT_EQ(noColon->nodeCount(), 1);
    EXPECT_EQ(noColon->prompts.countMessages("Experiment type unable"), 1);
    EXPECT_EQ(noColon->prompts.countMessages("Experiment temperature unable"), 0);
}

TEST(FileHandleTest, UnusualDetailsBlockDoesNotSwallowTheAtoms)
{
    // Electron microscopy: a type the reader does not know and no temperature line.
    auto s = LoadedStructure::fromText(kHeader
                                       + "REMARK 200 EXPERIMENTAL DETAILS\n"
                                         "REMARK 200  EXPERIMENT TYPE                : ELECTRON MICROSCOPY\n"
                                         "REMARK 200  DATA SCALING SOFTWARE          : NULL\n"
                                         "REMARK 280\n"
                                       + ca(1, 'A', 1, 0) + ca(2, 'A', 2, 3.8) + ter('A'));
    EXPECT_EQ(s->nodeCount(), 2);
    EXPECT_EQ(s->prompts.countMessages("Experiment type unable"), 1);
    EXPECT_EQ(s->prompts.countMessages("Experiment temperature unable"), 1);
    EXPECT_FALSE(s->network->geometry().isNMR());
}

TEST(FileHandleTest, ShortAndBrokenRecordsNeverCrash)
{
    const std::string full = ca(3, 'A', 3, 7.6);
    auto s = LoadedStructure::fromText("HEADER    SHORT\n" + kDetails + ca(1, 'A', 1, 0)
                                       + "ATOM      2  CA  ALA A   2      12.000  3.0\n"              // no z
                                       + "ATOM      3  CA  ALA A   2      abcdefgh   3.000   4.000\n" // x not a number
                                       + full.substr(0, 60) + "\n"                                    // no B-factor
                                       + "ATOM\nHETATM\nTER\nREMARK 200\n\n");
    EXPECT_EQ(s->nodeCount(), 2);
    EXPECT_EQ(s->atoms.size(), 2u);
    EXPECT_EQ(s->reader->getSkippedRecordCount(), 4);
    EXPECT_EQ(s->console.count("Atom record skipped"), 4);
    EXPECT_TRUE(s->console.contains("bad cast error in B Factor derivation"));
    EXPECT_DOUBLE_EQ(s->network->geometry().getBackboneList()[1].bFactor, 0.0);
    // Skipped records are neither stored nor counted; the bare TER is.
    EXPECT_EQ(s->network->geometry().getTotalAmountOfAtoms(), 1 + 2 + 1);
    EXPECT_EQ(s->prompts.textPrompts().size(), 1u); // header too short for a code
}

TEST(FileHandleTest, UnreadableAndForeignFiles)
{
    {
        auto s = std::make_unique<LoadedStructure>("/nonexistent/dir/none.pdb");
        EXPECT_FALSE(s->ok);
        EXPECT_TRUE(s->atoms.empty());
        EXPECT_TRUE(s->network->geometry().getChainList().empty());
        EXPECT_TRUE(s->console.contains("Unable to open file"));
        EXPECT_TRUE(s->console.contains("Total Amount of atoms: 0Arraysize: 0"));
        EXPECT_TRUE(s->console.contains("Time taken to load file: "));
    }
    {
        auto dir = std::make_unique<LoadedStructure>(std::filesystem::temp_directory_path());
        EXPECT_FALSE(dir->ok);
        EXPECT_TRUE(dir->console.contains("Unable to open file"));
    }
    std::mt19937 rng(12345);
    std::string random(20000, '\0');
    for (auto& c : random) c = static_cast<char>(rng());
    for (const std::string& content :
         {std::string(), std::string("\n\n\n"), random, std::string("just some text\nwithout records\n")}) {
        auto s = LoadedStructure::fromText(content);
        EXPECT_FALSE(s->ok);
        EXPECT_TRUE(s->atoms.empty());
        EXPECT_NE(s->reader->getLoadError().find("No atom records"), std::string::npos);
        EXPECT_EQ(s->prompts.countMessages("No atom records"), 1);
        EXPECT_EQ(s->prompts.countMessages("Experiment"), 0);
    }
}

TEST(FileHandleTest, LongPathsAndWindowsLineEnds)
{
    const auto dir = std::filesystem::temp_directory_path() / std::string(120, 'd') / std::string(120, 'e');
    std::filesystem::create_directories(dir);
    const auto path = dir / "structure-with-a-long-name.pdb";
    {
        std::string text = kHeader + kDetails + ca(1, 'A', 1, 0) + ca(2, 'A', 2, 3.8) + ter('A');
        std::string crlf;
        for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        std::ofstream(path, std::ios::binary) << crlf;
    }
    ASSERT_GT(path.string().size(), 200u);
    LoadedStructure s(path);
    std::filesystem::remove_all(dir.parent_path());
    EXPECT_TRUE(s.ok);
    EXPECT_EQ(s.nodeCount(), 2);
    EXPECT_EQ(s.network->geometry().getPDBName(), "1TST");
    EXPECT_FLOAT_EQ(s.network->geometry().getTemperature(), 150.0f);
    EXPECT_EQ(s.network->geometry().getPdbLines()[1].back(), ' ');
}

TEST(FileHandleTest, MidPointAndBounds)
{
    auto s = LoadedStructure::fromText(kHeader + kDetails + ca(1, 'A', 1, 1.0) + ca(2, 'A', 2, 3.0)
                                       + atomLine("ATOM", 3, " N  ", "ALA", 'A', 2, 2.0, 6.0, 0, 1, "N") + "\n");
    const Vector3d mid = s->reader->getMidPoint();
    EXPECT_NEAR(mid.x, 20.0f, 1e-4);
    EXPECT_NEAR(mid.y, 20.0f, 1e-4);
    EXPECT_TRUE(s->console.contains("LINE MAX: 3"));
    const float rc = SuperAtom::getOrigHapticRadius() + 17.0f;
    const float rn = SuperAtom::getOrigHapticRadius() + 15.5f;
    const Vector3d lo = s->reader->findMinCoord(), hi = s->reader->findMaxCoord();
    EXPECT_NEAR(lo.x, 10.0f - rc - 0.1f, 1e-4);
    EXPECT_NEAR(lo.y, 0.0f - rc - 0.1f, 1e-4);
    // The upper bound also subtracts the radius.
    EXPECT_NEAR(hi.x, 30.0f - rc + 0.1f, 1e-4);
    EXPECT_NEAR(hi.y, 60.0f - rn + 0.1f, 1e-4);
    // The reader's own atoms and the network's nodes stay in the file's frame.
    EXPECT_EQ(s->network->geometry().getBackboneList()[0].position, Vector3d(10, 0, 0));

    FileHandle empty;
    EXPECT_EQ(empty.getMidPoint(), Vector3d());
}

TEST(FileHandleTest, MultiModelFilesReadEveryModel)
{
    std::string text = kHeader + kDetails;
    for (int model = 1; model <= 3; ++model) {
        text += "MODEL        " + std::to_string(model) + "\n";
        text += ca(1, 'A', 1, 0.1 * model) + ca(2, 'A', 2, 3.8) + ter('A') + "ENDMDL\n";
    }
    auto s = LoadedStructure::fromText(text);
    EXPECT_EQ(s->nodeCount(), 6);
    EXPECT_EQ(chainSizes(*s), (std::vector<std::size_t>{2, 2, 2, 0}));
    EXPECT_EQ(s->reader->getChainIDList(), (std::vector<std::string>{"A"}));
}

TEST(FileHandleTest, NodeRecordsCutInsideTheirNumbersAreReportedOncePerFile)
{
    // Cut inside z, inside the B-factor, and a whole record; only the first cut is named.
    const std::string whole = ca(1, 'A', 1, 0.0, 13.5);
    const std::string cutZ = ca(2, 'A', 2, 3.8).substr(0, 50) + "\n";
    const std::string cutB = ca(3, 'A', 3, 7.6, 13.5).substr(0, 62) + "\n";
    auto s = LoadedStructure::fromText(kHeader + kDetails + whole + cutB + cutZ);
    const std::string firstCut = cutB.substr(0, cutB.size() - 1);
    int warnings = 0;
    for (const auto& [attribute, text] : s->console.lines())
        if (attribute == console::Warning
            && text.find("ends inside its coordinate or B-factor columns") != std::string::npos) {
            ++warnings;
            EXPECT_NE(text.find(firstCut), std::string::npos) << text;
        }
    EXPECT_EQ(warnings, 1);
    // A whole record (and one without B-factor columns at all) says nothing.
    auto fine = LoadedStructure::fromText(kHeader + kDetails + whole + ca(2, 'A', 2, 3.8).substr(0, 54) + "\n");
    EXPECT_FALSE(fine->console.contains("ends inside"));
}

TEST(FileHandleTest, PipesAndEndlessLinesAreNotRead)
{
    const std::filesystem::path fifo =
        std::filesystem::temp_directory_path() / ("vornax-fifo-" + std::to_string(::getpid()));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FileHandle reader;
    EXPECT_FALSE(reader.openFile(fifo)); // returns at once: nothing opens the FIFO
    EXPECT_NE(reader.getLoadError().find("not a regular file"), std::string::npos) << reader.getLoadError();
    std::filesystem::remove(fifo);

    TempFile endless(kHeader + std::string(100000, 'x'));
    FileHandle longReader;
    EXPECT_FALSE(longReader.openFile(endless.path()));
    EXPECT_NE(longReader.getLoadError().find("its line 2 is longer than 4096"), std::string::npos)
        << longReader.getLoadError();
}

// A gzipped PDB file reads as its text; gzip data cut short is named; long runs of blank lines
// are cut before the records are split (a gigabyte of them took 16 GB of line views).
TEST(FileHandleTest, GzippedTextAndLongBlankRuns)
{
    const std::string text = kHeader + kDetails + ca(1, 'A', 1, 0) + std::string(100000, '\n') + ca(2, 'A', 2, 3.8);
    const std::string packed = gzipped(text);
    const struct {
        std::string bytes, suffix, said; ///< said: empty when it loads
    } cases[] = {
        {text, ".pdb", ""},
        {packed, ".pdb.gz", ""},
        {packed, ".pdb", ""}, // known by its bytes, not its name
        {packed.substr(0, packed.size() - 9), ".pdb.gz", "cut short"},
    };
    for (const auto& c : cases) {
        TempFile file(c.bytes, c.suffix);
        LoadedStructure s(file.path());
        SCOPED_TRACE(c.suffix + " " + std::to_string(c.bytes.size()));
        EXPECT_EQ(s.ok, c.said.empty()) << s.reader->getLoadError();
        EXPECT_NE(s.reader->getLoadError().find(c.said), std::string::npos) << s.reader->getLoadError();
        EXPECT_EQ(s.nodeCount(), c.said.empty() ? 2 : 0);
    }
}
