// The eigen data files: what is written comes back bit for bit, a network loaded from them
// responds as the computed one, and files that do not fit are refused without harm.
#include "common/LittleEndian.h"
#include "molecule/SessionFile.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

using namespace vornax;
using namespace vornax::testing;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

MachineFacts plenty()
{
    MachineFacts f;
    f.availableMemory = [] { return 4 * kGiB; };
    f.trialMilliseconds = [](int32_t) { return 1.0; };
    return f;
}

std::string readBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeBytes(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool sameBits(const double* a, const double* b, std::size_t n) { return std::memcmp(a, b, n * sizeof(double)) == 0; }

/// A structure solved, calibrated and written into `dir`.
struct Written {
    std::unique_ptr<LoadedStructure> s;
    ElasticNetworkModel* eln = nullptr;
    fs::path hdv, ppy;
};

Written solveAndWrite(const fs::path& pdb, const fs::path& dir, bool nmr = false)
{
    Written w;
    w.s = buildNetwork(pdb);
    w.eln = w.s->network.get();
    ScopedUserPrompts scoped(&w.s->prompts);
    w.eln->set_NMR_Exp(nmr);
    EXPECT_EQ(w.eln->constructHessianMatrix(nullptr), EnmStatus::Ok);
    EXPECT_EQ(w.eln->calculateEigen(nullptr), EnmStatus::Ok);
    w.eln->calculateForceScaler(1.0f, false);
    w.eln->setFileNames(dir);
    EXPECT_TRUE(w.eln->writeEigenDataToNewFile()) << w.eln->files().getEigenFileError();
    w.hdv = w.eln->files().getMainFileName();
    w.ppy = w.eln->files().getYFileName();
    w.eln->budget().setMachineFacts(plenty());
    w.eln->getMaxPossibleModes(nullptr);
    return w;
}

/// A network read from eigen data files through the load steps of the program.
struct Loaded {
    ScriptedPrompts prompts;
    console::Capture console;
    std::unique_ptr<ElasticNetworkModel> eln = std::make_unique<ElasticNetworkModel>();
    bool ok = false;

    Loaded(const std::vector<std::string>& files, MachineFacts facts = plenty(),
           MessageAnswer dataRequired = MessageAnswer::Yes)
    {
        ScopedUserPrompts scoped(&prompts);
        prompts.queueAnswer(dataRequired);
        if (!eln->files().inputEigenDataFiles(files)) return;
        eln->setRenderingDataUp();
        eln->budget().setMachineFacts(std::move(facts));
        eln->getMaxPossibleModes(nullptr);
        ok = eln->isSetup();
    }
};

void expectSameAsWritten(const ElasticNetworkModel& computed, const ElasticNetworkModel& loaded)
{
    ASSERT_EQ(loaded.getAmountOfAtoms(), computed.getAmountOfAtoms());
    const auto dim = static_cast<std::size_t>(computed.get3N());
    const auto modes = static_cast<std::size_t>(computed.geometry().get3NMinus6());
    EXPECT_EQ(loaded.getRc(), computed.getRc()); // Å, before and after the springs are built
    EXPECT_EQ(loaded.geometry().getAmountOfSprings(), computed.geometry().getAmountOfSprings());
    // The same nodes from the same coordinates (the positions may be centred differently).
    for (int32_t i = 0; i < computed.getAmountOfAtoms(); ++i) {
        const auto& a = loaded.geometry().getBackboneList()[static_cast<std::size_t>(i)];
        const auto& b = computed.geometry().getBackboneList()[static_cast<std::size_t>(i)];
        ASSERT_EQ(a.coordinates, b.coordinates) << "node " << i;
        ASSERT_EQ(a.chainID, b.chainID);
        ASSERT_EQ(a.residueNumber, b.residueNumber);
        ASSERT_EQ(a.bFactor, b.bFactor);
    }
    const double sLoaded = loaded.getS(), sComputed = computed.getS();
    EXPECT_TRUE(sameBits(&sLoaded, &sComputed, 1));
    ASSERT_EQ(loaded.modes().getInverseScaledEigenvalues().size(), modes);
    EXPECT_TRUE(
        sameBits(loaded.modes().getInverseScaledEigenvalues().data(), computed.modes().getInverseScaledEigenvalues().data(), modes));
    const auto kept = static_cast<std::size_t>(loaded.getTotalMaxModes());
    ASSERT_NE(loaded.modes().getModeVectors(), nullptr);
    EXPECT_TRUE(sameBits(loaded.modes().getModeVectors(), computed.modes().getEigenvectorMatrixT(), kept * dim));
}

} // namespace

// ---- Round trips ------------------------------------------------------------------------------

class EigenFileRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(EigenFileRoundTrip, EverythingComesBackBitForBitAndRespondsTheSame)
{
    const fs::path pdb = findPdb(GetParam());
    if (pdb.empty()) GTEST_SKIP() << GetParam() << " is not available";
    TempDir dir;
    Written w = solveAndWrite(pdb, dir.path());
    ASSERT_TRUE(fs::exists(w.hdv));
    ASSERT_TRUE(fs::exists(w.ppy));
    EXPECT_EQ(fs::path(w.hdv).parent_path(), dir.path());
    // The writer leaves Rc in Å.
    EXPECT_FLOAT_EQ(w.eln->getRc(), 11.0f);
    const auto n = static_cast<uint64_t>(w.eln->getAmountOfAtoms());
    EXPECT_EQ(fs::file_size(w.ppy), 72 * n * n);

    Loaded l({w.hdv.string(), w.ppy.string()});
    ASSERT_TRUE(l.ok) << l.eln->files().getEigenFileError();
    EXPECT_TRUE(l.prompts.messages().empty()); // Y named: nothing to ask
    expectSameAsWritten(*w.eln, *l.eln);
    EXPECT_EQ(l.eln->getLoadResult(), -2);
    EXPECT_TRUE(l.eln->setupComplete());
    EXPECT_EQ(l.eln->getPDB_Code(), w.eln->getPDB_Code());
    // A session saved on the computed network belongs to the one read back, by the same name.
    EXPECT_EQ(l.eln->sessionStructure(), w.eln->sessionStructure());
    EXPECT_EQ(l.eln->sessionStructure().name, w.eln->geometry().getPDBName());
    const auto dim = static_cast<std::size_t>(w.eln->get3N());
    ASSERT_NE(l.eln->modes().getYMatrix(), nullptr);
    EXPECT_TRUE(sameBits(l.eln->modes().getYMatrix(), w.eln->modes().getYMatrix(), dim * dim));

    // Responses through Y, the first modes and listed modes are those of the computed network.
    const double f[3] = {0.3, -1.1, 0.7};
    const int32_t listed[] = {0, 4, 9};
    const int node = static_cast<int>(n / 2);
    for (int route : {2, 1, 0}) {
        std::vector<double> a(dim), b(dim);
        w.eln->deformation().computeResponse(f, node, route, route == 0 ? 3 : 20, listed, a.data());
        l.eln->deformation().computeResponse(f, node, route, route == 0 ? 3 : 20, listed, b.data());
        EXPECT_TRUE(sameBits(a.data(), b.data(), dim)) << "route " << route;
    }
}

INSTANTIATE_TEST_SUITE_P(Structures, EigenFileRoundTrip,
                         ::testing::Values("1crn.pdb", "1ubq.pdb", "1d66.pdb", "4hhb.pdb", "1ake.pdb"),
                         [](const auto& info) { return std::string(info.param).substr(0, 4); });

TEST(EigenFiles, LayoutIsLittleEndianFieldByField)
{
    TempDir dir;
    Written w = solveAndWrite(findPdb("1crn.pdb"), dir.path());
    const std::string bytes = readBytes(w.hdv);
    const auto u32 = [&](std::size_t at) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
        return v;
    };
    const auto& lines = w.eln->geometry().getPdbLines();
    EXPECT_EQ(u32(0), lines.size());
    const uint32_t rcBits = u32(4);
    float rc = 0;
    std::memcpy(&rc, &rcBits, 4);
    EXPECT_EQ(rc, 11.0f);
    std::size_t at = 8;
    for (const auto& line : lines) {
        ASSERT_EQ(u32(at), line.size());
        EXPECT_EQ(bytes.substr(at + 4, line.size()), line);
        at += 4 + line.size();
    }
    const std::size_t modes = 132, dim = 138;
    EXPECT_EQ(bytes.size(), at + 16 + 8 * modes + 8 * modes * dim);
    double ntk = 0;
    std::memcpy(&ntk, bytes.data() + at, 8);
    EXPECT_EQ(ntk, 1.4396e10);
}

TEST(EigenFiles, FieldBytesDoNotDependOnTheHost)
{
    // The byte-by-byte path a big-endian host takes, checked here on any host.
    unsigned char b[8];
    le::toBytes<int32_t>(0x01020304, b);
    EXPECT_EQ(std::vector<int>(b, b + 4), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_EQ(le::fromBytes<int32_t>(b), 0x01020304);
    le::toBytes(1.0, b); // 0x3FF0000000000000
    EXPECT_EQ(b[7], 0x3F);
    EXPECT_EQ(b[6], 0xF0);
    EXPECT_EQ(le::fromBytes<double>(b), 1.0);
    le::toBytes(-2.5f, b);
    EXPECT_EQ(le::fromBytes<float>(b), -2.5f);
}

TEST(EigenFiles, OnlyTheModesTheBudgetKeepsAreRead)
{
    TempDir dir;
    Written w = solveAndWrite(findPdb("1ubq.pdb"), dir.path());
    MachineFacts f = plenty();
    const uint64_t m = 228;
    f.availableMemory = [m] { return 8 * (3 * m + 50 * m); }; // 50 modes, no room for Y
    Loaded l({w.hdv.string(), w.ppy.string()}, f);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.eln->getTotalMaxModes(), 50);
    EXPECT_EQ(l.eln->getLoadResult(), -3);
    EXPECT_EQ(l.eln->modes().getYMatrix(), nullptr);
    expectSameAsWritten(*w.eln, *l.eln);
}

TEST(EigenFiles, WithoutTheResponseMatrixFileYIsMadeFromTheModesOrLeftOut)
{
    TempDir dir;
    Written w = solveAndWrite(findPdb("1crn.pdb"), dir.path());
    const std::size_t dim = 138;
    Loaded yes({w.hdv.string()}, plenty(), MessageAnswer::Yes);
    ASSERT_TRUE(yes.ok);
    EXPECT_EQ(yes.prompts.countMessages("Preprocessed matrix is not available"), 1);
    EXPECT_EQ(yes.eln->getLoadResult(), -2);
    ASSERT_NE(yes.eln->modes().getYMatrix(), nullptr);
    EXPECT_TRUE(sameBits(yes.eln->modes().getYMatrix(), w.eln->modes().getYMatrix(), dim * dim));

    Loaded no({w.hdv.string()}, plenty(), MessageAnswer::No);
    ASSERT_TRUE(no.ok);
    EXPECT_EQ(no.eln->getLoadResult(), -3);
    EXPECT_EQ(no.eln->modes().getYMatrix(), nullptr);
}

TEST(EigenFiles, WritingTwiceGivesTheSameFileAndRc)
{
    TempDir dir;
    Written w = solveAndWrite(findPdb("1crn.pdb"), dir.path());
    const std::string first = readBytes(w.hdv);
    ScopedUserPrompts scoped(&w.s->prompts);
    ASSERT_TRUE(w.eln->writeEigenDataToNewFile());
    EXPECT_EQ(readBytes(w.hdv), first);
    EXPECT_EQ(w.eln->getRc(), 11.0f);
}

TEST(EigenFiles, UncalibratedStructureStoresZeroScalerAndLoadsWithoutForces)
{
    TempDir dir;
    // A stale response matrix of that name must not be taken for this structure's.
    writeBytes(dir.path() / "1CRN.ppy", std::string(72 * 46 * 46, '\0'));
    Written w = solveAndWrite(findPdb("1crn.pdb"), dir.path(), true);
    EXPECT_FALSE(fs::exists(w.ppy));
    Loaded l({w.hdv.string()}, plenty(), MessageAnswer::Yes);
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.eln->getS(), 0.0);
    EXPECT_FALSE(l.eln->setupComplete());
    EXPECT_EQ(l.eln->modes().getYMatrix(), nullptr);
    for (double v : l.eln->modes().getInverseScaledEigenvalues()) EXPECT_TRUE(std::isfinite(v));
}

// ---- Refusals ---------------------------------------------------------------------------------

class EigenFileRefusal : public ::testing::Test {
protected:
    void SetUp() override
    {
        crambin = solveAndWrite(findPdb("1crn.pdb"), dir.path());
        ubiquitin = solveAndWrite(findPdb("1ubq.pdb"), dir.path());
        good = readBytes(crambin.hdv);
    }

    /// `bytes` as a main eigen data file is refused with a message, and the same network
    /// object then still loads the good file.
    void expectRefused(const std::string& bytes, const std::string& what)
    {
        SCOPED_TRACE(what);
        const fs::path bad = dir.path() / "bad.hdv";
        writeBytes(bad, bytes);
        ScriptedPrompts prompts;
        console::Capture console;
        ScopedUserPrompts scoped(&prompts);
        ElasticNetworkModel eln;
        EXPECT_FALSE(eln.inputMainFile(bad.string()));
        ASSERT_EQ(prompts.messages().size(), 1u);
        EXPECT_EQ(prompts.messages()[0].caption, "Elastic Network Setup Error");
        EXPECT_FALSE(eln.files().getEigenFileError().empty());
        EXPECT_TRUE(eln.geometry().getPdbLines().empty());
        EXPECT_TRUE(eln.geometry().getBackboneList().empty());
        EXPECT_TRUE(eln.inputMainFile(crambin.hdv.string()));
        EXPECT_EQ(eln.geometry().getBackboneList().size(), 46u);
    }

    TempDir dir;
    Written crambin, ubiquitin;
    std::string good;
};

TEST_F(EigenFileRefusal, TruncatedPaddedForeignAndRandomFiles)
{
    expectRefused(good.substr(0, good.size() - 1), "one byte short");
    expectRefused(good.substr(0, good.size() / 2), "half");
    expectRefused(good.substr(0, 6), "inside the header");
    expectRefused(good + std::string(1, '\0'), "one byte more");
    expectRefused(good + good, "twice");
    expectRefused(std::string(), "empty");

    // Another structure's lines in front of this structure's eigen data.
    const std::string other = readBytes(ubiquitin.hdv);
    const std::size_t crambinEigen = 16 + 8 * 132 + 8 * 132 * 138;
    const std::size_t ubiquitinEigen = 16 + 8 * 222 + 8 * 222 * 228;
    expectRefused(other.substr(0, other.size() - ubiquitinEigen) + good.substr(good.size() - crambinEigen),
                  "foreign lines");

    std::mt19937 random(12345);
    for (int size : {64, 4096, static_cast<int>(good.size())}) {
        std::string noise(static_cast<std::size_t>(size), '\0');
        for (char& c : noise) c = static_cast<char>(random() & 0xff);
        expectRefused(noise, "random bytes");
    }
}

TEST_F(EigenFileRefusal, AbsurdCountsAllocateNothing)
{
    auto header = [](int32_t lineCount, int32_t firstLength) {
        std::string b(12, '\0');
        std::memcpy(b.data(), &lineCount, 4);
        const float rc = 11.0f;
        std::memcpy(b.data() + 4, &rc, 4);
        std::memcpy(b.data() + 8, &firstLength, 4);
        return b + std::string(100, 'A');
    };
    expectRefused(header(-1, 10), "negative line count");
    expectRefused(header(INT32_MAX, 10), "absurd line count");
    expectRefused(header(1, -5), "negative line length");
    expectRefused(header(1, INT32_MAX), "absurd line length");
    std::string badRc = good;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(badRc.data() + 4, &nan, 4);
    expectRefused(badRc, "cutoff not a number");
}

TEST_F(EigenFileRefusal, ResponseMatrixOfAnotherStructureIsRefusedAndTheModesStillLoad)
{
    Loaded l({crambin.hdv.string(), ubiquitin.ppy.string()});
    EXPECT_EQ(l.prompts.countMessages("does not belong to this structure"), 1);
    ASSERT_TRUE(l.ok);
    EXPECT_NE(l.eln->modes().getYMatrix(), nullptr);
    // Asked instead, and Y was made from the modes.
    EXPECT_EQ(l.prompts.countMessages("Preprocessed matrix is not available"), 1);
    expectSameAsWritten(*crambin.eln, *l.eln);
}

TEST_F(EigenFileRefusal, ResponseMatrixAloneIsNotEnough)
{
    Loaded l({crambin.ppy.string()});
    EXPECT_FALSE(l.ok);
    ASSERT_EQ(l.prompts.messages().size(), 1u);
    EXPECT_EQ(l.prompts.messages()[0].caption, "Elastic Network Setup Error");
    EXPECT_EQ(l.prompts.messages()[0].text, "File Input Error, the HDV file is missing.");
    EXPECT_TRUE(l.eln->geometry().getBackboneList().empty());
}

TEST_F(EigenFileRefusal, NetworkThatAlreadyHoldsAStructureIsNotOverwritten)
{
    ScopedUserPrompts scoped(&crambin.s->prompts);
    EXPECT_FALSE(crambin.eln->inputMainFile(ubiquitin.hdv.string()));
    EXPECT_EQ(crambin.eln->getAmountOfAtoms(), 46);
    EXPECT_EQ(crambin.eln->geometry().getBackboneList().size(), 46u);
}

TEST_F(EigenFileRefusal, UnusableNumbersInARightSizedFileAreRefusedWhenRead)
{
    const std::size_t eigenSection = 16 + 8 * 132 + 8 * 132 * 138;
    const std::size_t header = good.size() - eigenSection;
    const double nan = std::numeric_limits<double>::quiet_NaN(), negative = -1.0, huge = 1e200;
    const std::size_t vectors = header + 16 + 8 * 132;
    // Finite but absurd values too: they would overflow a response to infinity.
    const struct {
        std::size_t offset;
        double value;
        const char* message;
    } cases[] = {{header + 8, nan, "not usable numbers"},
                 {header + 16 + 8 * 5, negative, "not usable numbers"},
                 {header + 16 + 8 * 7, huge, "not usable numbers"},
                 {vectors + 8 * (138 * 2 + 11), 1e80, "not of unit length"}};
    for (const auto& c : cases) {
        std::string bytes = good;
        std::memcpy(bytes.data() + c.offset, &c.value, 8);
        const fs::path bad = dir.path() / "numbers.hdv";
        writeBytes(bad, bytes);
        Loaded l({bad.string()});
        EXPECT_FALSE(l.ok);
        EXPECT_EQ(l.prompts.countMessages(c.message), 1) << c.message;
        EXPECT_EQ(l.eln->modes().getModeVectors(), nullptr);
        EXPECT_EQ(l.eln->getS(), 0.0);
    }
}

// ---- Tampered files, checked against the network they rebuild --------------------------------

TEST_F(EigenFileRefusal, TamperedDenseDataIsCheckedAgainstItsOwnNetwork)
{
    const EigenFileLayout l = eigenFileLayout(good, 138);
    const std::string y = readBytes(crambin.ppy);
    // A consistent pair scaled by 1e80: Y still fits the modes, and responses came out at 1e79 Å.
    std::string scaled = good, scaledY = y;
    for (int32_t m = 0; m < l.k; ++m)
        writeAt(scaled, l.inverse + 8 * m, readAt<double>(scaled, l.inverse + 8 * m) * 1e80);
    for (std::size_t i = 0; i < y.size(); i += 8) writeAt(scaledY, i, readAt<double>(y, i) * 1e80);
    std::string equal = good, moved = good, widerRc = good, hugeRc = good;
    equalModes(equal, l, 2);
    moveFirstCAlpha(moved, l, 2.0);
    writeAt(widerRc, l.rc, 13.0f);
    writeAt(hugeRc, l.rc, 1e30f);
    const struct {
        const char* what;
        std::string hdv, ppy;
        const char* says;
    } cases[] = {{"inverse eigenvalues and Y times 1e80", scaled, scaledY, "e-80 kcal/mol"},
                 {"two equal modes", equal, "", "are not orthogonal"},
                 {"a record moved by 2 \u00c5", moved, "", "is not a normal mode of the network"},
                 {"Rc of 13 \u00c5", widerRc, "", "is not a normal mode of the network"},
                 {"Rc of 1e30 \u00c5", hugeRc, "", "cutoff Rc of 1e+30"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path hdv = dir.path() / "tampered.hdv", ppy = dir.path() / "tampered.ppy";
        writeBytes(hdv, c.hdv);
        std::vector<std::string> files{hdv.string()};
        if (!c.ppy.empty()) writeBytes(ppy, c.ppy), files.push_back(ppy.string());
        Loaded loaded(files);
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(loaded.prompts.countMessages(c.says), 1) << loaded.eln->files().getEigenFileError();
        EXPECT_EQ(loaded.eln->modes().getModeVectors(), nullptr);
    }
}

TEST(EigenFiles, TamperedSparseDataIsCheckedAgainstItsOwnNetworkAndBringsItsOwnResponses)
{
    TempDir dir;
    LoadOptions options = solvedOptions();
    options.path = EnginePath::Sparse;
    options.lowestModes = 10;
    options.eigenFileFolder = dir.path();
    auto computed = loadedThroughPipeline(findPdb("1crn.pdb"), options);
    ASSERT_TRUE(computed && computed->eigenFilesWritten);
    const std::string good = readBytes(dir.path() / "1CRN.hdv");
    const EigenFileLayout l = eigenFileLayout(good, 138);
    ASSERT_TRUE(l.sparse);
    ASSERT_GE(l.k, 10);

    // Loaded with a .ppy beside it: the file's own responses, and a word that the .ppy is not read.
    TempDir denseDir;
    const Written dense = solveAndWrite(findPdb("1crn.pdb"), denseDir.path());
    {
        LoadedStructure both(StructureSource::eigenDataFiles({(dir.path() / "1CRN.hdv").string(), dense.ppy.string()}),
                             LoadOptions());
        ASSERT_TRUE(both.ok) << both.message;
        EXPECT_EQ(both.console.count("is not read"), 1);
        EXPECT_EQ(both.network->modes().getYMatrix(), nullptr);
    }

    const auto with = [&](const std::function<void(std::string&)>& edit) {
        std::string bytes = good;
        edit(bytes);
        return bytes;
    };
    const struct {
        const char* what;
        std::string bytes;
        const char* says;
    } cases[] = {
        {"inverse eigenvalue 1e100", with([&](std::string& b) { writeAt(b, l.inverse, 1e100); }),
         "is not 1/(eigenvalue"},
        {"K of 1e-300", with([&](std::string& b) { writeAt(b, l.spring(), 1e-300); }), "spring constant 1e-300"},
        {"K of 1e300", with([&](std::string& b) { writeAt(b, l.spring(), 1e300); }), "spring constant 1e+300"},
        {"eigenvalue 1e100", with([&](std::string& b) { writeAt(b, l.values + 8 * 9, 1e100); }),
         "outside the network's"},
        {"every mode equal", with([&](std::string& b) { equalModes(b, l, l.k); }), "is not a normal mode"},
        {"Rc of 1e30 \u00c5", with([&](std::string& b) { writeAt(b, l.rc, 1e30f); }), "cutoff Rc of 1e+30"},
        {"a record moved by 2 \u00c5", with([&](std::string& b) { moveFirstCAlpha(b, l, 2.0); }),
         "is not a normal mode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path bad = dir.path() / "BAD.hdv";
        writeBytes(bad, c.bytes);
        LoadedStructure read(StructureSource::eigenDataFiles({bad.string()}), LoadOptions());
        EXPECT_FALSE(read.ok);
        EXPECT_NE(read.message.find(c.says), std::string::npos) << read.message;
    }
}
