// vornax-enm and the eigen data files: modes --out writes them, load reads them back, and a
// response from them equals the response computed from the PDB file.
#include "support/TestData.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using nlohmann::json;
using vornax::testing::findPdb;
using vornax::testing::readWholeFile;
using vornax::testing::shellQuoted;
using vornax::testing::TempFile;
namespace fs = std::filesystem;

struct CliResult {
    int status = -1;
    std::string out, err;
    json report;
};

CliResult run(const std::vector<std::string>& args, bool json = true)
{
    TempFile jsonFile("", ".json"), outFile("", ".out"), errFile("", ".err");
    std::string command = shellQuoted(VORNAX_ENM_BINARY);
    for (const std::string& a : args) command += ' ' + shellQuoted(a);
    if (json) command += " --json " + shellQuoted(jsonFile.path().string());
    command += " </dev/null >" + shellQuoted(outFile.path().string()) + " 2>" + shellQuoted(errFile.path().string());
    CliResult r;
    const int raw = std::system(command.c_str());
    r.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readWholeFile(outFile.path());
    r.err = readWholeFile(errFile.path());
    if (r.status == 0 && json) r.report = json::parse(readWholeFile(jsonFile.path()), nullptr, false);
    return r;
}

class CliEigenFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        pdb = findPdb("1ubq.pdb").string();
        std::string pattern = (fs::temp_directory_path() / "vornax-cli-eigen-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        const CliResult modes = run({"modes", pdb, "--out", dir.string()});
        ASSERT_EQ(modes.status, 0) << modes.err;
        hdv = (dir / "1UBQ.hdv").string();
        ppy = (dir / "1UBQ.ppy").string();
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    std::string pdb, hdv, ppy;
    fs::path dir;
};

} // namespace

TEST_F(CliEigenFiles, LoadReportsWhatTheBudgetKept)
{
    ASSERT_TRUE(fs::exists(hdv));
    ASSERT_EQ(fs::file_size(ppy), 72u * 76 * 76);
    const CliResult withY = run({"load", hdv, ppy});
    ASSERT_EQ(withY.status, 0) << withY.err;
    EXPECT_EQ(withY.report["nodes"], 76);
    EXPECT_EQ(withY.report["rc"], 11.0);
    EXPECT_EQ(withY.report["modes_kept"], 222);
    EXPECT_EQ(withY.report["load_result"], -2);
    EXPECT_EQ(withY.report["y_matrix"], true);
    EXPECT_GT(withY.report["force_scaler"].get<double>(), 0.0);
    EXPECT_GE(withY.report["modes_allowed_by_memory"].get<int>(), 222);

    const CliResult without = run({"load", hdv, "--without-y"});
    ASSERT_EQ(without.status, 0) << without.err;
    EXPECT_EQ(without.report["load_result"], -3);
    EXPECT_EQ(without.report["y_matrix"], false);
    EXPECT_EQ(without.report["force_scaler"], withY.report["force_scaler"]);
    // Without --without-y the question is answered Yes and Y is made from the modes.
    const CliResult asked = run({"load", hdv});
    ASSERT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(asked.report["load_result"], -2);
}

TEST_F(CliEigenFiles, ResponseFromTheFilesEqualsTheComputedOne)
{
    for (const std::string modes : {"all", "first:15", "list:0,2,40"}) {
        SCOPED_TRACE(modes);
        const std::vector<std::string> request = {"--node", "20", "--force", "0.5", "-1", "2", "--modes", modes};
        std::vector<std::string> a = {"response", pdb}, b = {"response", hdv, "--ppy", ppy}, c = {"response", hdv};
        for (auto* args : {&a, &b, &c}) args->insert(args->end(), request.begin(), request.end());
        const CliResult computed = run(a), withY = run(b), fromModes = run(c);
        ASSERT_EQ(computed.status, 0) << computed.err;
        ASSERT_EQ(withY.status, 0) << withY.err;
        ASSERT_EQ(fromModes.status, 0) << fromModes.err;
        EXPECT_EQ(withY.report["displacement"], computed.report["displacement"]);
        EXPECT_EQ(fromModes.report["displacement"], computed.report["displacement"]);
        EXPECT_EQ(withY.report["spring_constant"], nullptr);
    }
}

TEST_F(CliEigenFiles, BadEigenFilesGiveOneLineAndExitStatus2)
{
    const std::string bytes = readWholeFile(hdv);
    const TempFile truncated(bytes.substr(0, bytes.size() - 8), ".hdv");
    const TempFile padded(bytes + "x", ".hdv");
    const TempFile shortY(readWholeFile(ppy).substr(1), ".ppy");
    const TempFile text("not an eigen file", ".txt");
    const std::vector<std::vector<std::string>> cases = {
        {"load", ppy},
        {"load", truncated.path().string()},
        {"load", padded.path().string()},
        {"load", hdv, shortY.path().string()},
        {"load", hdv, text.path().string()},
        {"load", hdv, ppy, ppy},
        {"response", truncated.path().string(), "--node", "0", "--force", "1", "0", "0"},
        {"response", hdv, "--ppy", shortY.path().string(), "--node", "0", "--force", "1", "0", "0"},
        {"response", pdb, "--ppy", ppy, "--node", "0", "--force", "1", "0", "0"},
        {"response", hdv, "--node", "76", "--force", "1", "0", "0"},
        {"modes", hdv},
        {"modes", pdb, "--out", (fs::path(hdv) / "sub").string()},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += ' ' + a;
        SCOPED_TRACE("vornax-enm" + shown);
        const CliResult r = run(args, false);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("vornax-enm: error: ", 0), 0u) << r.err;
    }
    const CliResult onlyY = run({"load", ppy}, false);
    EXPECT_NE(onlyY.err.find("File Input Error, the HDV file is missing."), std::string::npos) << onlyY.err;
}
