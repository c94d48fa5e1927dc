// mmCIF input and biological assemblies: the same network from either format of one entry,
// assemblies from REMARK 350 and _pdbx_struct_assembly_gen, and hostile files refused.
#include "support/TestData.h"

#include "common/InputFile.h"
#include "common/SystemInfo.h"
#include "common/TextParse.h"
#include "molecule/StructureFile.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

using namespace vornax;
using namespace vornax::testing;

namespace {

std::filesystem::path cifData(const std::string& name)
{
    return repoPdbDir().parent_path() / "cif" / name;
}

/// Node identity and place: chain, residue, position (model units).
using NodeKey = std::tuple<std::string, std::string, std::string, float, float, float>;

std::vector<NodeKey> nodeKeys(const ElasticNetworkModel& network)
{
    std::vector<NodeKey> keys;
    for (const auto& n : network.geometry().getBackboneList())
        keys.emplace_back(n.chainID, n.residueName, n.residueNumber, n.position.x, n.position.y, n.position.z);
    return keys;
}

/// Fails the test when two nodes sit at one place.
void expectNoDuplicateNodes(const ElasticNetworkModel& network)
{
    std::set<std::tuple<double, double, double>> places;
    for (const auto& n : network.geometry().getBackboneList())
        EXPECT_TRUE(places.emplace(n.coordinates[0], n.coordinates[1], n.coordinates[2]).second)
            << "node of " << n.chainID << " " << n.residueNumber << " placed twice";
}

/// A minimal mmCIF text: atoms of `atomRows` and, when given, the assembly categories.
std::string cifText(const std::string& atomRows, const std::string& assemblies = {})
{
    return "data_TEST\n_entry.id TEST\n_exptl.method 'X-RAY DIFFRACTION'\n"
           "loop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.type_symbol\n_atom_site.label_atom_id\n"
           "_atom_site.label_alt_id\n_atom_site.label_comp_id\n_atom_site.label_asym_id\n_atom_site.label_entity_id\n"
           "_atom_site.label_seq_id\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n_atom_site.occupancy\n"
           "_atom_site.B_iso_or_equiv\n_atom_site.auth_seq_id\n_atom_site.auth_asym_id\n_atom_site.pdbx_PDB_model_num\n"
        + atomRows + assemblies;
}

std::string caRow(int id, const std::string& chain, int seq, double x)
{
    return "ATOM " + std::to_string(id) + " C CA . ALA " + chain + " 1 " + std::to_string(seq) + " "
        + std::to_string(x) + " 0 0 1 20 " + std::to_string(seq) + " " + chain + " 1\n";
}

const std::string kThreeCAlphas = caRow(1, "AB", 1, 0) + caRow(2, "AB", 2, 3.8) + caRow(3, "AB", 3, 7.6);

std::string assemblyTables(const std::string& operExpression, const std::string& operRows)
{
    return "_pdbx_struct_assembly.id 1\n_pdbx_struct_assembly.details author_defined_assembly\n"
           "_pdbx_struct_assembly.method_details ?\n_pdbx_struct_assembly.oligomeric_details dimeric\n"
           "_pdbx_struct_assembly.oligomeric_count 2\n"
           "_pdbx_struct_assembly_gen.assembly_id 1\n_pdbx_struct_assembly_gen.oper_expression '"
        + operExpression + "'\n_pdbx_struct_assembly_gen.asym_id_list AB\n"
          "loop_\n_pdbx_struct_oper_list.id\n_pdbx_struct_oper_list.type\n"
          "_pdbx_struct_oper_list.matrix[1][1]\n_pdbx_struct_oper_list.matrix[1][2]\n_pdbx_struct_oper_list.matrix[1][3]\n"
          "_pdbx_struct_oper_list.vector[1]\n"
          "_pdbx_struct_oper_list.matrix[2][1]\n_pdbx_struct_oper_list.matrix[2][2]\n_pdbx_struct_oper_list.matrix[2][3]\n"
          "_pdbx_struct_oper_list.vector[2]\n"
          "_pdbx_struct_oper_list.matrix[3][1]\n_pdbx_struct_oper_list.matrix[3][2]\n_pdbx_struct_oper_list.matrix[3][3]\n"
          "_pdbx_struct_oper_list.vector[3]\n"
        + operRows;
}

const std::string kIdentity = "1 'identity operation' 1 0 0 0 0 1 0 0 0 0 1 0\n";
const std::string kShift = "2 'translation' 1 0 0 0 0 1 0 20 0 0 1 0\n";

} // namespace

// mmCIF written by gemmi from the PDB file of the same entry gives the same nodes, residues,
// chains and springs as the PDB reader.
TEST(StructureFileTest, MmcifGivesTheNetworkOfItsPdbFile)
{
    for (const std::string entry : {"1crn", "4hhb"}) {
        SCOPED_TRACE(entry);
        auto pdb = buildNetwork(findPdb(entry + ".pdb"));
        auto cif = buildNetwork(cifData(entry + ".cif"));
        ASSERT_TRUE(pdb->ok);
        ASSERT_TRUE(cif->ok) << cif->reader->getLoadError();
        EXPECT_EQ(nodeKeys(*cif->network), nodeKeys(*pdb->network));
        EXPECT_EQ(cif->network->geometry().getChainList().size(), pdb->network->geometry().getChainList().size());
        EXPECT_EQ(cif->network->geometry().getAmountOfSprings(), pdb->network->geometry().getAmountOfSprings());
        EXPECT_EQ(cif->reader->getChainIDList(), pdb->reader->getChainIDList());
        EXPECT_EQ(cif->reader->getResidueNumberList(), pdb->reader->getResidueNumberList());
        EXPECT_EQ(cif->atoms.size(), pdb->atoms.size());
        const auto& a = cif->network->geometry().getBackboneList();
        const auto& b = pdb->network->geometry().getBackboneList();
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
            EXPECT_EQ(a[i].bFactor, b[i].bFactor) << i;
            EXPECT_EQ(a[i].coordinates, b[i].coordinates) << i;
        }
        EXPECT_EQ(cif->network->getPDB_Code(), pdb->network->getPDB_Code());
    }
}

// REMARK 350 and _pdbx_struct_assembly_gen: every copy's nodes in one network, none twice,
// chain names kept whole, the copies narrowed on request.
TEST(StructureFileTest, AssembliesHaveEveryCopyOnce)
{
    auto asu = buildNetwork(findPdb("2por.pdb"));
    auto trimer = buildNetwork(findPdb("2por.pdb"), 11.0f, {"1", {}});
    ASSERT_TRUE(trimer->ok) << trimer->reader->getLoadError();
    EXPECT_EQ(trimer->nodeCount(), 3 * asu->nodeCount());
    expectNoDuplicateNodes(*trimer->network);
    EXPECT_EQ(buildNetwork(findPdb("2por.pdb"), 11.0f, {"1", {"1", "3"}})->nodeCount(), 2 * asu->nodeCount());

    struct Case {
        std::string expression;
        std::string opers;
        std::vector<std::string> copies;
        int nodes;
    };
    const Case cases[] = {
        {"1,2", kIdentity + kShift, {}, 6},
        {"(1,2)", kIdentity + kShift, {"2"}, 3},
        {"1,1", kIdentity, {}, 3},                                      // the identity twice: once
        {"1,2", kIdentity + "2 'same' 1 0 0 0 0 1 0 0 0 0 1 0\n", {}, 3}, // a second identity: once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression + " " + c.opers);
        TempFile file(cifText(kThreeCAlphas, assemblyTables(c.expression, c.opers)), ".cif");
        auto s = buildNetwork(file.path(), 11.0f, {"1", c.copies});
        ASSERT_TRUE(s->ok) << s->reader->getLoadError();
        EXPECT_EQ(s->nodeCount(), c.nodes);
        expectNoDuplicateNodes(*s->network);
        EXPECT_EQ(s->network->geometry().getBackboneList().front().chainID, "AB1");
    }
    TempFile plain(cifText(kThreeCAlphas), ".cif");
    auto s = buildNetwork(plain.path());
    ASSERT_TRUE(s->ok);
    EXPECT_EQ(s->network->geometry().getBackboneList().front().chainID, "AB");
    EXPECT_EQ(s->network->geometry().getBackboneList().back().residueNumber, "   3");
}

// The assemblies a file offers: copies counted once per operator, and an assembly that is the
// file's own content (one identity copy of every polymer chain) told apart.
TEST(StructureFileTest, AssembliesAreListedWithTheirCopies)
{
    struct Case {
        std::filesystem::path file;
        std::vector<std::tuple<std::string, std::size_t, bool>> expected; ///< id, copies, same as the file
    };
    TempFile dimer(cifText(kThreeCAlphas, assemblyTables("(1,2)", kIdentity + kShift)), ".cif");
    TempFile one(cifText(kThreeCAlphas, assemblyTables("1", kIdentity)), ".cif");
    TempFile none(cifText(kThreeCAlphas), ".cif");
    const Case cases[] = {
        {findPdb("2por.pdb"), {{"1", 3, false}}},
        {findPdb("1crn.pdb"), {{"1", 1, true}}},
        {findPdb("4hhb.pdb"), {{"1", 1, true}}},
        {dimer.path(), {{"1", 2, false}}},
        {one.path(), {{"1", 1, true}}},
        {none.path(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.string());
        std::string error;
        const auto listed = listAssemblies(c.file, error);
        ASSERT_TRUE(listed) << error;
        std::vector<std::tuple<std::string, std::size_t, bool>> got;
        for (const AssemblyInfo& a : *listed) got.emplace_back(a.id, a.copies(), a.sameAsFile);
        EXPECT_EQ(got, c.expected);
    }
    std::string error;
    EXPECT_FALSE(listAssemblies("/nonexistent/x.pdb", error));
    EXPECT_NE(error.find("does not exist"), std::string::npos);
}

// An assembly's network has its own name of letters and digits, different for every choice of
// copies, so that its eigen data files never replace those of the file's own content.
TEST(StructureFileTest, AssemblyNetworksAreNamedApart)
{
    const std::pair<AssemblyRequest, std::string> cases[] = {
        {{}, "2POR"},
        {{"1", {}}, "2PORA1"},
        {{"1", {"1", "2", "3"}}, "2PORA1C1to3"},
        {{"1", {"1", "3"}}, "2PORA1C1x3"},
        {{"1", {"3", "1"}}, "2PORA1C3x1"},
        {{"1", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}}, "2PORA1C1to12"},
        {{"1", {"1", "2", "7", "8", "9"}}, "2PORA1C1x2x7to9"},
    };
    for (const auto& [request, name] : cases) EXPECT_EQ(assemblyNetworkName("2POR", request), name);
    std::set<std::string> names;
    for (const AssemblyRequest& r : std::vector<AssemblyRequest>{{"1", {}}, {"1", {"P"}}, {"1", {"X0"}},
                                                                  {"1", {"01"}}, {"1", {"1"}}, {"PAU", {}},
                                                                  {"a b", {}}, {"a/b", {}}}) {
        const std::string name = assemblyNetworkName("2POR", r);
        EXPECT_TRUE(text::isAlphanumeric(name)) << name;
        EXPECT_TRUE(names.insert(name).second) << name << " twice";
    }
    EXPECT_EQ(assemblyNetworkName("../x", {"1", {}}), "xA1");

    // The loads of the asymmetric unit and of one copy of the trimer have the same nodes, and
    // write their eigen data files side by side.
    TempDir folder;
    LoadOptions options = solvedOptions();
    options.eigenFileFolder = folder.path();
    for (const AssemblyRequest& request : {AssemblyRequest{}, AssemblyRequest{"1", {"1"}}}) {
        LoadedStructure s(StructureSource::pdbFile(findPdb("2por.pdb"), request), options);
        ASSERT_TRUE(s.ok) << s.message;
        EXPECT_EQ(s.nodeCount(), 301);
        EXPECT_EQ(s.network->geometry().getPDBName(), assemblyNetworkName("2POR", request));
    }
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "2POR.hdv"));
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "2PORA1C1.hdv"));
    EXPECT_TRUE(std::filesystem::exists(folder.path() / "2PORA1C1.ppy"));
}

TEST(StructureFileTest, WholeCapsidOf3j6r)
{
    const auto file = findPdb("3j6r.pdb");
    if (file.empty()) GTEST_SKIP() << "3j6r.pdb is not here";
    LoadOptions options;
    options.lastStage = LoadStage::Network;
    LoadedStructure s(StructureSource::pdbFile(file, {"1", {}}), options);
    ASSERT_TRUE(s.ok) << s.message;
    EXPECT_EQ(s.nodeCount(), 172080);
    expectNoDuplicateNodes(*s.network);
}

TEST(StructureFileTest, HostileFilesAreRefusedWithAMessage)
{
    const std::string good = cifText(kThreeCAlphas, assemblyTables("1,2", kIdentity + kShift));
    const std::string packed = gzipped(good);
    std::string damaged = packed;
    for (std::size_t i = 20; i < 40; ++i) damaged[i] = static_cast<char>(~damaged[i]);
    struct Case {
        std::string name;
        std::string text;
        AssemblyRequest assembly;
        std::string said; ///< part of the message
        std::string suffix = ".cif";
    };
    auto withOperators = [](const std::string& expression, const std::string& opers) {
        return cifText(kThreeCAlphas, assemblyTables(expression, opers));
    };
    const Case cases[] = {
        // Operator expressions are counted before anything is expanded.
        {"range bomb", withOperators("(1-10000000)", kIdentity), {"1", {}}, "expands to 10000000 operators"},
        {"range past int", withOperators("(1-2000000000)", kIdentity), {"1", {}}, "beyond 999999999"},
        {"empty operator expression", withOperators("()", kIdentity), {"1", {}}, "empty operator id in its operator"},
        {"flattening operator", withOperators("1", "1 x 1 0 0 0 0 1 0 0 0 0 1e-6 0\n"), {"1", {}},
         "operator 1 of assembly 1 cannot be used: its matrix is not a rotation"},
        {"scaling operator", withOperators("1", "1 x 2 0 0 0 0 2 0 0 0 0 2 0\n"), {"1", {}}, "not a rotation"},
        {"cut short gzip", packed.substr(0, packed.size() / 2), {}, "cut short", ".cif.gz"},
        {"damaged gzip", damaged, {}, "damaged", ".cif.gz"},
        {"truncated inside a row", good.substr(0, good.find(caRow(3, "AB", 3, 7.6)) + 12), {}, "cannot be read"},
        {"wrong column count", cifText(kThreeCAlphas + "ATOM 4 C CA\n"), {}, "cannot be read"},
        {"no coordinates column", cifText(kThreeCAlphas).replace(cifText("").find("_atom_site.Cartn_y\n"), 19, ""),
         {}, "cannot"},
        {"not a cif", "HELLO\x01\x02", {}, "cannot be read"},
        {"no atoms", "data_X\n_entry.id X\n", {}, "no _atom_site"},
        {"unknown assembly", good, {"7", {}}, "no assembly 7"},
        {"unknown copy", good, {"1", {"9"}}, "no operator 9"},
        {"unknown operator", cifText(kThreeCAlphas, assemblyTables("1,5", kIdentity + kShift)), {"1", {}}, "operator 5"},
        {"singular operator", cifText(kThreeCAlphas, assemblyTables("1", "1 x 1 0 0 0 1 0 0 0 0 0 1 0\n")),
         {"1", {}}, "cannot be inverted"},
        {"non-finite operator", cifText(kThreeCAlphas, assemblyTables("1", "1 x nan 0 0 0 0 1 0 0 0 0 1 0\n")),
         {"1", {}}, "cannot be used"},
        {"enormous operator", cifText(kThreeCAlphas, assemblyTables("1", "1 x 1e200 0 0 0 0 1 0 0 0 0 1 0\n")),
         {"1", {}}, "its matrix holds 1e+200"}, // six digits at most, not 200
        {"non-finite coordinate", cifText(caRow(1, "A", 1, 0) + "ATOM 2 C CA . ALA A 1 2 inf 0 0 1 20 2 A 1\n"), {},
         "no usable position"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file(c.text, c.suffix);
        LoadedStructure s(file.path(), c.assembly);
        EXPECT_FALSE(s.ok);
        EXPECT_NE(s.reader->getLoadError().find(c.said), std::string::npos) << s.reader->getLoadError();
        EXPECT_TRUE(s.atoms.empty());
        EXPECT_TRUE(s.network->geometry().getBackboneList().empty());
    }
}

TEST(StructureFileTest, CopyListsAndFileNames)
{
    std::string error;
    EXPECT_EQ(parseCopyList("1,3-5, 7", error), (std::vector<std::string>{"1", "3", "4", "5", "7"}));
    EXPECT_EQ(parseCopyList("P1,X0", error), (std::vector<std::string>{"P1", "X0"}));
    for (const char* bad : {"", "1,,2", "5-3", "1,1", "1-999999999"}) EXPECT_FALSE(parseCopyList(bad, error)) << bad;
    // A range that ends at the largest number ends there.
    EXPECT_EQ(parseCopyList("9223372036854775807-9223372036854775807", error),
              (std::vector<std::string>{"9223372036854775807"}))
        << error;
    for (const char* name : {"a.cif", "B.CIF.GZ", "x.mmcif"}) EXPECT_TRUE(isMmcifPath(name)) << name;
    for (const char* name : {"a.pdb", "cif", "a.cif.bak"}) EXPECT_FALSE(isMmcifPath(name)) << name;
}

// Assemblies nobody asked for are never expanded; the list of a file's assemblies counts its
// operator expressions before expanding them; an assembly is built only where its atoms ×
// copies fit in the memory available.
TEST(StructureFileTest, AssembliesCostOnlyWhatTheyAreWorth)
{
    TempFile bomb(cifText(kThreeCAlphas, assemblyTables("(1-10000000)", kIdentity)), ".cif");
    const int64_t peakBefore = peakResidentBytes();
    auto plain = buildNetwork(bomb.path());
    ASSERT_TRUE(plain->ok) << plain->reader->getLoadError();
    EXPECT_EQ(plain->nodeCount(), 3);
    // Ten million operators took 530 MB; the file's own three atoms take next to nothing.
    EXPECT_LT(peakResidentBytes() - peakBefore, int64_t{100} << 20);
    std::string error;
    EXPECT_FALSE(listAssemblies(bomb.path(), error));
    EXPECT_NE(error.find("expands to 10000000 operators"), std::string::npos) << error;

    TempFile dimer(cifText(kThreeCAlphas, assemblyTables("1,2", kIdentity + kShift)), ".cif");
    const struct {
        uint64_t available;
        bool loads;
    } memory[] = {{uint64_t{1} << 30, true}, {4096, false}};
    for (const auto& m : memory) {
        LoadOptions options;
        options.lastStage = LoadStage::Read;
        options.machineFacts.availableMemory = [&] { return m.available; };
        LoadedStructure s(StructureSource::pdbFile(dimer.path(), {"1", {}}), options);
        EXPECT_EQ(s.ok, m.loads) << s.message;
        if (!m.loads) {
            EXPECT_NE(s.message.find("6 atoms (6 nodes) need about 19 kB of memory to be read into a network, and 5 kB"),
                      std::string::npos)
                << s.message;
        }
    }
    const struct {
        uint64_t atoms, nodes, available;
        const char* said; ///< empty: fits
    } estimates[] = {
        {1000, 100, 0, ""},                                           // memory unknown
        {1000, 100, uint64_t{1} << 30, ""},
        {2'870'000'000, 2'870'000, uint64_t{8} << 30, "need about"},
        {UINT64_MAX, UINT64_MAX, uint64_t{8} << 30, "8.59 GB is available"}, // no overflow into a small need
    };
    for (const auto& e : estimates) {
        const std::string why = assemblyMemoryProblem(e.atoms, e.nodes, e.available);
        EXPECT_EQ(why.empty(), *e.said == '\0') << why;
        EXPECT_NE(why.find(e.said), std::string::npos) << why;
    }
}

// Structure text is held whole only up to a cap: plain or gzipped (any number of members),
// inflated piece by piece and stopped at the cap; gzip data cut short or damaged is named.
TEST(StructureFileTest, StructureTextIsReadUpToItsCap)
{
    const std::string text(5000, '\n');
    const std::string member = gzipped(text);
    std::string large(1 << 20, 'A'); // inflated in many steps
    for (std::size_t i = 0; i < large.size(); i += 4099) large[i] = '\n';
    const struct {
        std::string name, bytes;
        uint64_t cap;
        std::string said; ///< empty: read whole, as `expected`
        std::string expected;
    } cases[] = {
        {"plain", text, 5000, "", text},
        {"plain over the cap", text, 4999, "it holds more than", ""},
        {"one member", member, 5000, "", text},
        {"one large member", gzipped(large), large.size(), "", large},
        {"three members and padding", member + member + member + std::string(8, '\0'), 15000, "", text + text + text},
        {"members over the cap", member + member + member, 12000, "it inflates to more than", ""},
        {"cut short", member.substr(0, member.size() - 4), 5000, "cut short", ""},
        {"second member cut short", member + member.substr(0, 12), 10000, "cut short", ""},
        {"not deflate", std::string("\x1f\x8b\x08\x00junkjunkjunk", 16), 5000, "damaged", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file(c.bytes, ".cif.gz");
        std::string read = "left over";
        const std::string why = readStructureText(file.path(), c.cap, read);
        if (c.said.empty()) {
            EXPECT_EQ(why, "");
            EXPECT_EQ(read, c.expected);
        } else {
            EXPECT_NE(why.find(c.said), std::string::npos) << why;
            EXPECT_TRUE(read.empty());
        }
    }
    const std::pair<uint64_t, uint64_t> caps[] = {
        {0, kMostStructureText}, {uint64_t{64} << 30, kMostStructureText},
        {uint64_t{2} << 30, uint64_t{256} << 20}, {uint64_t{100} << 20, kLeastStructureTextCap}};
    for (const auto& [available, cap] : caps) EXPECT_EQ(structureTextCap(available), cap) << available;
}
