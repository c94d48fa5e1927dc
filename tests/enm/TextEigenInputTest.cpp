// Eigen data from text: the plain-text eigen file, ElNemo mode files and the eigenvalue dialog.
#include "enm/io/StandardFileLoader.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <random>
#include <sstream>

using namespace vornax;
using namespace vornax::testing;

namespace {

MachineFacts plenty()
{
    MachineFacts f;
    f.availableMemory = [] { return uint64_t{1} << 32; };
    f.trialMilliseconds = [](int32_t) { return 1.0; };
    return f;
}

/// 1crn's network built, not solved (46 nodes, 132 non-rigid modes).
std::unique_ptr<LoadedStructure> crambin()
{
    auto s = buildNetwork(findPdb("1crn.pdb"));
    s->network->budget().setMachineFacts(plenty());
    return s;
}

// ---- Plain-text eigen files -------------------------------------------------------------------

/// Eigenvalues on the first line, then `vectors` eigenvector lines of 3N values each ended by
/// a blank, taken from 1crn's own solution.
std::string textEigenFile(const std::vector<double>& values, int vectors, const ElasticNetworkModel& solved)
{
    std::ostringstream text;
    text << std::setprecision(17);
    for (std::size_t i = 0; i < values.size(); ++i) text << (i ? " " : "") << values[i];
    text << '\n';
    const int dim = solved.get3N();
    for (int k = 0; k < vectors; ++k) {
        for (int c = 0; c < dim; ++c) text << solved.modes().getEigenvectorMatrixT()[k * dim + c] << ' ';
        text << "\n\n"; // empty lines between vectors are not vectors
    }
    return text.str();
}

} // namespace

TEST(StandardFileLoader, TheLastTokenOfAnEigenvectorLineIsDropped)
{
    TempFile file("1 2 3\n0.5 0.25 0.125 \n0.5 0.25 0.125\n", ".txt");
    StandardFileLoader loader;
    ASSERT_TRUE(loader.openStream(file.path().string()));
    loader.openFile();
    EXPECT_EQ(loader.getEigenVals(), (std::vector<double>{1, 2, 3}));
    loader.inputAmountToRead(5, 5);
    const auto vectors = loader.getEigenVectors();
    ASSERT_EQ(vectors.size(), 2u);
    EXPECT_EQ(vectors[0], (std::vector<double>{0.5, 0.25, 0.125}));
    EXPECT_EQ(vectors[1], (std::vector<double>{0.5, 0.25}));
}

TEST(StandardFileLoader, BadTokensAreSkippedAndCounted)
{
    console::Capture console;
    TempFile file("1 x 3\r\n", ".txt");
    StandardFileLoader loader;
    ASSERT_TRUE(loader.openStream(file.path().string()));
    loader.openFile();
    EXPECT_EQ(loader.getEigenVals(), (std::vector<double>{1, 3}));
    EXPECT_EQ(loader.getBadTokens(), 1);
    EXPECT_FALSE(loader.openStream("/nonexistent/eigen.txt"));
}

TEST(PlainTextEigenFile, FewerEigenvaluesThanModesLeaveZerosNotGarbage)
{
    // Eigenvalues and vectors of a solved copy stand in for another program's output.
    auto solved = crambin();
    {
        ScopedUserPrompts scoped(&solved->prompts);
        ASSERT_EQ(solved->network->constructHessianMatrix(nullptr), EnmStatus::Ok);
        ASSERT_EQ(solved->network->calculateEigen(nullptr), EnmStatus::Ok);
    }
    const auto& lambda = solved->network->modes().getEigenvalues();
    std::vector<double> values(lambda.begin() + 7, lambda.begin() + 7 + 100); // 100 of 132
    values[3] = 0.0;                                                          // refused: no infinite compliance
    values[4] = -2.0;                                                         // refused
    TempFile file(textEigenFile(values, 132, *solved->network), ".txt");

    auto s = crambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    ASSERT_TRUE(eln.loadStandardEigenFile(file.path().string(), 1.0f, nullptr)) << eln.files().getEigenFileError();
    EXPECT_TRUE(eln.modes().isReadingStandardData());
    EXPECT_EQ(eln.textInput().getMissingEigenvalues(), 32);
    EXPECT_EQ(eln.textInput().getRefusedEigenvalues(), 2);
    EXPECT_EQ(eln.getLoadResult(), -3);
    EXPECT_EQ(eln.getTotalMaxModes(), 132);
    EXPECT_EQ(eln.modes().getYMatrix(), nullptr);
    const auto& inv = eln.modes().getInverseScaledEigenvalues();
    ASSERT_EQ(inv.size(), 132u);
    for (std::size_t k = 0; k < inv.size(); ++k) {
        EXPECT_TRUE(std::isfinite(inv[k])) << k;
        if (k >= 100 || k == 3 || k == 4)
            EXPECT_EQ(inv[k], 0.0) << k;
        else
            EXPECT_GT(inv[k], 0.0) << k;
    }
    EXPECT_TRUE(std::isfinite(eln.getRTotal()));
    EXPECT_GT(eln.getS(), 0.0);
    EXPECT_TRUE(std::isfinite(eln.getS()));
    // The vectors are the file's (the last value of each line is its trailing blank's token).
    const double* rows = eln.modes().getModeVectors();
    ASSERT_NE(rows, nullptr);
    for (int c = 0; c < 138; ++c)
        EXPECT_DOUBLE_EQ(rows[138 * 5 + c], solved->network->modes().getEigenvectorMatrixT()[138 * 5 + c]);
}

TEST(PlainTextEigenFile, VectorsOfAnotherLengthAreRefusedBeforeAnythingChanges)
{
    auto s = crambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    std::ostringstream text;
    text << "1 2 3\n";
    for (int c = 0; c < 138; ++c) text << 0.01 << (c + 1 < 138 ? " " : ""); // no trailing blank: 137 values
    text << '\n';
    TempFile file(text.str(), ".txt");
    EXPECT_FALSE(eln.loadStandardEigenFile(file.path().string(), 1.0f, nullptr));
    EXPECT_EQ(s->prompts.countMessages("eigenvector 1 has 137 values"), 1);
    EXPECT_FALSE(eln.isSetup());
    EXPECT_EQ(eln.modes().getModeVectors(), nullptr);

    TempFile empty("", ".txt");
    EXPECT_FALSE(eln.loadStandardEigenFile(empty.path().string(), 1.0f, nullptr));
    EXPECT_FALSE(eln.isSetup());
}

// ---- The eigenvalue dialog --------------------------------------------------------------------

TEST(EigenvalueDialogText, NumbersAreTakenAndEverythingElseSkipped)
{
    console::Capture console;
    int32_t skipped = -1;
    EXPECT_EQ(parseEigenvalueText("0 0  0\n0 0 0 1.5 2.5 \n", &skipped),
              (std::vector<double>{0, 0, 0, 0, 0, 0, 1.5, 2.5}));
    EXPECT_EQ(skipped, 0);
    EXPECT_EQ(parseEigenvalueText("1.5 abc 1e999 2,5 3", &skipped), (std::vector<double>{1.5, 3}));
    EXPECT_EQ(skipped, 3);
    EXPECT_TRUE(parseEigenvalueText("", &skipped).empty());
    // A token with nothing to convert (control characters only) is reported as such.
    EXPECT_EQ(parseEigenvalueText("1.5 \v 2.5", &skipped), (std::vector<double>{1.5, 2.5}));
    EXPECT_EQ(skipped, 1);
    EXPECT_TRUE(console.contains("The String* is 0."));
}

// ---- ElNemo mode files ------------------------------------------------------------------------

namespace {

std::vector<double> expectedVector(const ElasticNetworkModel& eln, int mode)
{
    std::vector<double> v;
    const auto& nodes = eln.geometry().getBackboneList();
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) {
        const auto& c = nodes[static_cast<std::size_t>(i)].coordinates;
        for (int k = 0; k < 3; ++k) {
            // What the file holds is the coordinate rounded to three decimals.
            std::ostringstream x;
            x << std::fixed << std::setprecision(3) << c[k] - elnemoDisplacement(i, mode, k);
            v.push_back(c[k] - std::stod(x.str()));
        }
    }
    ElasticNetworkModel::normaliseEigenVectors(v);
    return v;
}

} // namespace

TEST(ElnemoImport, ModesSevenAndEightFillRowsZeroAndOneAndDialogValuesAreDividedByTen)
{
    auto s = crambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    TempFile seven(elnemoFile(eln, 7)), eight(elnemoFile(eln, 8));
    eln.setupBlankArrays();
    ASSERT_TRUE(eln.calculateEigenFromElnemo(eight.path().string())) << eln.files().getEigenFileError();
    ASSERT_TRUE(eln.calculateEigenFromElnemo(seven.path().string())) << eln.files().getEigenFileError();
    EXPECT_EQ(eln.getElNemoModes(), (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(eln.getTotalMaxModes(), 2);

    eln.textInput().finishElnemoImport(parseEigenvalueText("0 0 0 0 0 0 1.5 2.5"), 1.0f);
    EXPECT_DOUBLE_EQ(eln.modes().getEigenvalues()[7], 0.15);
    EXPECT_DOUBLE_EQ(eln.modes().getEigenvalues()[8], 0.25);
    EXPECT_DOUBLE_EQ(eln.modes().getInverseEigenvalues()[0], 1 / 0.15);
    EXPECT_EQ(eln.textInput().getMissingEigenvalues(), 130);
    EXPECT_TRUE(eln.isSetup());
    EXPECT_TRUE(eln.setupComplete());
    EXPECT_EQ(eln.getLoadResult(), -3);
    EXPECT_EQ(eln.getModeSelectState(), 2);
    EXPECT_EQ(eln.getAmountSelected(), 2);

    const double* rows = eln.modes().getModeVectors();
    ASSERT_NE(rows, nullptr);
    const auto v7 = expectedVector(eln, 7), v8 = expectedVector(eln, 8);
    double norm = 0;
    for (int c = 0; c < 138; ++c) {
        EXPECT_NEAR(rows[c], v7[static_cast<std::size_t>(c)], 1e-12);
        EXPECT_NEAR(rows[138 + c], v8[static_cast<std::size_t>(c)], 1e-12);
        norm += rows[c] * rows[c];
    }
    EXPECT_NEAR(norm, 1.0, 1e-12);
    const auto& inv = eln.modes().getInverseScaledEigenvalues();
    EXPECT_GT(inv[0], 0.0);
    EXPECT_GT(inv[1], inv[0] * 0.0);
    for (std::size_t k = 2; k < inv.size(); ++k) EXPECT_EQ(inv[k], 0.0);
    EXPECT_TRUE(std::isfinite(eln.getRTotal()));

    // A pull moves the network through the two modes.
    eln.getAtom(10)->simulateState(0);
    eln.applyNonScaleForce(Vector3d(1, 1, 1), 10);
    eln.simulate();
    double moved = 0;
    for (double d : eln.deformation().getDisplacement()) moved += std::fabs(d);
    EXPECT_GT(moved, 0.0);
}

TEST(ElnemoImport, FilesThatDoNotFitAreSkippedWithAMessage)
{
    auto s = crambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    eln.setupBlankArrays();
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {elnemoFile(eln, 7, 45), "has 45 atoms"},
        {elnemoFile(eln, 7, 47), "has 47 atoms"},
        {elnemoFile(eln, 3), "is for mode 3"},
        {elnemoFile(eln, 0), "is for mode 0"},
        {elnemoFile(eln, 7, -1, false), "no \"REMARK MODE\" line"},
    };
    for (const Case& c : cases) {
        TempFile file(c.text);
        EXPECT_FALSE(eln.calculateEigenFromElnemo(file.path().string())) << c.message;
        EXPECT_EQ(s->prompts.countMessages(c.message), 1) << c.message;
    }
    EXPECT_TRUE(eln.getElNemoModes().empty());
    EXPECT_EQ(eln.getTotalMaxModes(), -1);
    EXPECT_FALSE(eln.calculateEigenFromElnemo("/nonexistent/mode7.pdb"));
    eln.setupSelectedELNemoModes();
    EXPECT_FALSE(eln.isSetup());
}

TEST(TextEigenInput, RandomBytesAreRefusedAndWhatWasLoadedStays)
{
    auto solved = crambin();
    {
        ScopedUserPrompts scoped(&solved->prompts);
        ASSERT_EQ(solved->network->constructHessianMatrix(nullptr), EnmStatus::Ok);
        ASSERT_EQ(solved->network->calculateEigen(nullptr), EnmStatus::Ok);
    }
    const auto& lambda = solved->network->modes().getEigenvalues();
    TempFile good(textEigenFile(std::vector<double>(lambda.begin() + 7, lambda.end()), 132, *solved->network), ".txt");

    std::mt19937 random(777);
    std::string noise(5000, '\0');
    for (char& c : noise) c = static_cast<char>(random() & 0xff);
    TempFile bad(noise, ".txt");

    auto s = crambin();
    ScopedUserPrompts scoped(&s->prompts);
    ElasticNetworkModel& eln = *s->network;
    ASSERT_TRUE(eln.loadStandardEigenFile(good.path().string(), 1.0f, nullptr));
    const double* rows = eln.modes().getModeVectors();
    const std::vector<double> inverse = eln.modes().getInverseScaledEigenvalues();
    const double scaler = eln.getS();

    EXPECT_FALSE(eln.loadStandardEigenFile(bad.path().string(), 1.0f, nullptr));
    EXPECT_FALSE(eln.calculateEigenFromElnemo(bad.path().string()));
    EXPECT_EQ(s->prompts.messages().size(), 2u);
    for (const auto& m : s->prompts.messages()) EXPECT_EQ(m.caption, "Elastic Network Setup Error");
    EXPECT_TRUE(eln.isSetup());
    EXPECT_EQ(eln.modes().getModeVectors(), rows);
    EXPECT_EQ(eln.modes().getInverseScaledEigenvalues(), inverse);
    EXPECT_EQ(eln.getS(), scaler);
}
