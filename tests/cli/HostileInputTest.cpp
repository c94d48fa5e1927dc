// vornax-enm against hostile files and arguments, run as a user would: every case must end
// with a clear message (or a warning and a sane result), never a crash, a hang, output outside
// the chosen folder, a good file destroyed, or a broken file written with exit status 0.
#include "support/TestData.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;
using vornax::testing::findPdb;
using vornax::testing::readWholeFile;
using vornax::testing::shellQuoted;
namespace fs = std::filesystem;

struct Outcome {
    int status = -1; ///< −1 when the program did not exit normally (crash, timeout)
    std::string out, err;
    json report;
};

/// A scratch folder, removed with everything in it.
struct Scratch {
    fs::path dir;
    Scratch()
    {
        std::string pattern = (fs::temp_directory_path() / "vornax-hostile-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
    }
    ~Scratch()
    {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    fs::path operator/(const std::string& name) const { return dir / name; }
};

/// Runs vornax-enm under `sh -c`, after the shell text `limits` (ulimit, trap), within a
/// time limit; --json goes to `json` when given.
Outcome run(const std::vector<std::string>& args, const fs::path& jsonFile = {}, const std::string& limits = "")
{
    static int counter = 0;
    const fs::path base = fs::temp_directory_path()
        / ("vornax-hostile-run-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::string command = "timeout 60 " + shellQuoted(VORNAX_ENM_BINARY);
    for (const std::string& a : args) command += ' ' + shellQuoted(a);
    if (!jsonFile.empty()) command += " --json " + shellQuoted(jsonFile.string());
    command += " </dev/null >" + shellQuoted(base.string() + ".out") + " 2>" + shellQuoted(base.string() + ".err");
    if (!limits.empty()) command = limits + "; exec " + command;
    const std::string shell = "sh -c " + shellQuoted(command);
    Outcome r;
    const int raw = std::system(shell.c_str());
    r.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (r.status == 124) r.status = -1; // timed out
    r.out = readWholeFile(base.string() + ".out");
    r.err = readWholeFile(base.string() + ".err");
    fs::remove(base.string() + ".out");
    fs::remove(base.string() + ".err");
    if (r.status == 0 && !jsonFile.empty()) r.report = json::parse(readWholeFile(jsonFile), nullptr, false);
    return r;
}

std::string describe(const Outcome& r) { return "exit " + std::to_string(r.status) + ", stderr: " + r.err; }

int lineCount(const std::string& text)
{
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

void writeFile(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

/// 1crn.pdb with `edit` applied to every line.
std::string editedCrambin(const std::function<std::string(const std::string&)>& edit)
{
    std::istringstream in(readWholeFile(findPdb("1crn.pdb")));
    std::string out;
    for (std::string line; std::getline(in, line);) out += edit(line) + '\n';
    return out;
}

/// True when `line` starts with `record`.
bool is(const std::string& line, std::string_view record) { return line.compare(0, record.size(), record) == 0; }

bool isCAlpha(const std::string& line)
{
    return is(line, "ATOM") && line.size() > 16 && line.compare(12, 4, " CA ") == 0;
}

/// Same line with columns first..last (1-based) replaced by `text`, right-aligned.
std::string withField(std::string line, std::size_t first, std::size_t last, const std::string& text)
{
    line.resize(std::max<std::size_t>(line.size(), 80), ' ');
    const std::size_t width = last - first + 1;
    std::string field = text.size() >= width ? text.substr(0, width) : std::string(width - text.size(), ' ') + text;
    return line.replace(first - 1, width, field);
}

class HostileInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        crn = findPdb("1crn.pdb").string();
        if (crn.empty()) GTEST_SKIP() << "1crn.pdb is not available";
    }
    std::string crn;
    Scratch scratch;
};

} // namespace

// ---- Output names and output files --------------------------------------------------------

TEST_F(HostileInput, StructureCodeCannotPlaceFilesOutsideTheFolder)
{
    for (const std::string kind : {"../../x", "absolute", "1A B"}) {
        Scratch s;
        const std::string code = kind == "absolute" ? (s / "abs").string() : kind;
        const fs::path pdb = s / "code.pdb";
        writeFile(pdb, editedCrambin([&](const std::string& line) -> std::string {
                      return is(line, "HEADER") ? line.substr(0, 62) + code : line;
                  }));
        fs::create_directories(s / "a/b/out");
        const Outcome r = run({"modes", pdb.string(), "--out", (s / "a/b/out").string()}, s / "m.json");
        ASSERT_EQ(r.status, 0) << code << ": " << describe(r);
        EXPECT_TRUE(fs::exists(s / "a/b/out/XXXX.hdv")) << code;
        EXPECT_TRUE(fs::exists(s / "a/b/out/XXXX.ppy")) << code;
        EXPECT_FALSE(fs::exists(s / "x.hdv")) << code;
        EXPECT_FALSE(fs::exists(s / "abs.hdv")) << code;
        EXPECT_NE(r.err.find("cannot name a file"), std::string::npos) << r.err;
    }
}

TEST_F(HostileInput, FailedWritesLeaveTheFilesThereBefore)
{
    const fs::path good = scratch / "good.pdb";
    ASSERT_EQ(run({"deform", crn, "--node", "3", "--force", "1", "0", "0", "--out", good.string()}, scratch / "d.json")
                  .status,
              0);
    const std::string before = readWholeFile(good);
    ASSERT_GT(before.size(), 2048u);

    // A file-size limit of 1 KiB cuts the deformed structure: the write fails with a message
    // (the program does not die of SIGXFSZ) and the good file stays.
#if defined(__SANITIZE_ADDRESS__)
    const char* limit = "trap '' XFSZ; ulimit -f 1"; // the sanitizer's start-up would meet the signal first
#else
    const char* limit = "ulimit -f 1";
#endif
    const Outcome cut =
        run({"deform", crn, "--node", "3", "--force", "2", "0", "0", "--out", good.string()}, {}, limit);
    EXPECT_EQ(cut.status, 2) << describe(cut);
    EXPECT_NE(cut.err.find("unchanged"), std::string::npos) << cut.err;
    EXPECT_EQ(readWholeFile(good), before);

    // The eigen data pair: a .ppy that cannot be replaced (a folder is in its place) must not
    // leave a new .hdv beside it.
    const fs::path out = scratch / "eigen";
    fs::create_directories(out);
    ASSERT_EQ(run({"modes", crn, "--out", out.string()}, scratch / "m.json").status, 0);
    const std::string hdv = readWholeFile(out / "1CRN.hdv");
    fs::remove(out / "1CRN.ppy");
    fs::create_directories(out / "1CRN.ppy" / "inside");
    const Outcome pair = run({"modes", crn, "--rc", "8", "--out", out.string()}, scratch / "m.json");
    EXPECT_EQ(pair.status, 2) << describe(pair);
    EXPECT_EQ(readWholeFile(out / "1CRN.hdv"), hdv);

    // A --json that cannot be written fails before any other output is touched.
    const fs::path fresh = scratch / "fresh";
    fs::create_directories(fresh);
    const Outcome json = run({"modes", crn, "--out", fresh.string()}, scratch / "missing" / "m.json");
    EXPECT_EQ(json.status, 2) << describe(json);
    EXPECT_TRUE(fs::is_empty(fresh));
    const Outcome deformJson = run({"deform", crn, "--node", "3", "--force", "2", "0", "0", "--out", good.string()},
                                   scratch / "missing" / "d.json");
    EXPECT_EQ(deformJson.status, 2);
    EXPECT_EQ(readWholeFile(good), before);

    // No temporary file is left behind by any of these.
    for (const auto& entry : fs::recursive_directory_iterator(scratch.dir))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

// ---- Eigen data files ---------------------------------------------------------------------

TEST_F(HostileInput, EigenDataThatIsNotFiniteOrNotThisStructuresIsRefused)
{
    const fs::path out = scratch / "a", other = scratch / "b", moved = scratch / "c";
    for (const fs::path& d : {out, other, moved}) fs::create_directories(d);
    ASSERT_EQ(run({"modes", crn, "--out", out.string()}, scratch / "m.json").status, 0);
    ASSERT_EQ(run({"modes", crn, "--rc", "8", "--out", other.string()}, scratch / "m.json").status, 0);
    // The same number of nodes, another structure: one C-alpha moved by 1.5 Å.
    const fs::path shifted = scratch / "shifted.pdb";
    int seen = 0;
    writeFile(shifted, editedCrambin([&](const std::string& line) -> std::string {
                  if (!isCAlpha(line) || ++seen != 20) return line;
                  char x[16];
                  std::snprintf(x, sizeof x, "%8.3f", std::stod(line.substr(30, 8)) + 1.5);
                  return withField(line, 31, 38, x);
              }));
    ASSERT_EQ(run({"modes", shifted.string(), "--out", moved.string()}, scratch / "m.json").status, 0);
    const std::string hdv = (out / "1CRN.hdv").string(), ppy = (out / "1CRN.ppy").string();
    ASSERT_EQ(run({"load", hdv, ppy}, scratch / "l.json").status, 0);

    // NaN in the first eigenvector (the last 8 bytes of the first row), and in Y.
    auto poisoned = [&](const std::string& from, const std::string& name, std::size_t offsetFromEnd) {
        std::string bytes = readWholeFile(from);
        const double nan = std::nan("");
        std::memcpy(bytes.data() + bytes.size() - offsetFromEnd, &nan, sizeof nan);
        const fs::path to = scratch / name;
        writeFile(to, bytes);
        return to.string();
    };
    const std::size_t threeN = 3 * 46, modes = threeN - 6;
    const std::string nanVector = poisoned(hdv, "v.hdv", 8 * threeN * modes - 8);
    const std::string nanY = poisoned(ppy, "y.ppy", 8 * threeN * threeN / 2);

    struct Case {
        std::vector<std::string> files;
        const char* expected;
    };
    const Case cases[] = {
        {{nanVector}, "not finite"},
        {{hdv, nanY}, "not finite"},
        {{hdv, (other / "1CRN.ppy").string()}, "does not belong"},
        {{hdv, (moved / "1CRN.ppy").string()}, "does not belong"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"load"};
        args.insert(args.end(), c.files.begin(), c.files.end());
        const Outcome r = run(args, scratch / "l.json");
        EXPECT_EQ(r.status, 2) << c.files.back() << ": " << describe(r);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
    }
    // Responses from such files are refused too, before any number is given.
    const Outcome response = run({"response", nanVector, "--node", "3", "--force", "1", "0", "0"}, scratch / "r.json");
    EXPECT_EQ(response.status, 2) << describe(response);
}

TEST_F(HostileInput, TamperedEigenDataIsRefusedBeforeAnyPull)
{
    // Each of these once loaded, and the tutorial's pull then gave non-finite positions that
    // ended the program (exit 134) in the contact search.
    const fs::path dense = scratch / "dense", sparse = scratch / "sparse";
    for (const fs::path& d : {dense, sparse}) fs::create_directories(d);
    ASSERT_EQ(run({"modes", crn, "--out", dense.string()}, scratch / "m.json").status, 0);
    ASSERT_EQ(
        run({"modes", crn, "--path", "sparse", "--lowest", "10", "--out", sparse.string()}, scratch / "m.json").status,
        0);
    using vornax::testing::readAt;
    using vornax::testing::writeAt;
    std::string hdv = readWholeFile(dense / "1CRN.hdv"), ppy = readWholeFile(dense / "1CRN.ppy");
    const auto d = vornax::testing::eigenFileLayout(hdv, 138);
    for (int32_t m = 0; m < d.k; ++m) writeAt(hdv, d.inverse + 8 * m, readAt<double>(hdv, d.inverse + 8 * m) * 1e80);
    for (std::size_t i = 0; i < ppy.size(); i += 8) writeAt(ppy, i, readAt<double>(ppy, i) * 1e80);
    writeFile(scratch / "scaled.hdv", hdv);
    writeFile(scratch / "scaled.ppy", ppy);
    std::string loose = readWholeFile(sparse / "1CRN.hdv");
    writeAt(loose, vornax::testing::eigenFileLayout(loose, 138).spring(), 1e-300);
    writeFile(scratch / "loose.hdv", loose);
    const fs::path script = scratch / "pull.stylus";
    writeFile(script, "600 node 10 11 0 0 0\n3 node 10 11 0 0 1\n1000 node 10 40 0 0 1\n2 node 10 40 0 0 0\n");

    const struct {
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {{"replay", (scratch / "scaled.hdv").string(), "--ppy", (scratch / "scaled.ppy").string(), "--script",
          script.string()},
         "spring constant of"},
        {{"replay", (scratch / "loose.hdv").string(), "--script", script.string()}, "spring constant 1e-300"},
        {{"load", (scratch / "loose.hdv").string()}, "spring constant 1e-300"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args, scratch / "r.json");
        EXPECT_EQ(r.status, 2) << c.args[1] << ": " << describe(r);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
    }
    // A .ppy beside a sparse file is set aside with a word, not silently.
    const Outcome both =
        run({"load", (sparse / "1CRN.hdv").string(), (dense / "1CRN.ppy").string()}, scratch / "l.json");
    EXPECT_EQ(both.status, 0) << describe(both);
    EXPECT_NE(both.err.find("is not read"), std::string::npos) << both.err;
}

// ---- Text that is not text ------------------------------------------------------------------

TEST_F(HostileInput, InvalidUtf8AndControlBytesNeitherBreakTheJsonNorReachTheTerminal)
{
    const fs::path pdb = scratch / "bytes\xff.pdb";
    int atoms = 0;
    writeFile(pdb, editedCrambin([&](const std::string& line) -> std::string {
                  if (is(line, "HEADER")) return line.substr(0, 62) + "1\xff\x1b[2J";
                  // An atom record with an escape sequence in its coordinates is skipped and quoted.
                  if (is(line, "ATOM") && ++atoms == 5) return withField(line, 31, 38, "\x1b[31m");
                  return line;
              }));
    fs::create_directories(scratch / "out");
    const Outcome r = run({"modes", pdb.string(), "--out", (scratch / "out").string(), "-v"}, scratch / "m.json");
    ASSERT_EQ(r.status, 0) << describe(r);
    ASSERT_FALSE(r.report.is_discarded());
    EXPECT_TRUE(r.report["pdb_code"].is_string());
    EXPECT_TRUE(r.report["file"].is_string());
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    EXPECT_NE(r.err.find("\\x1b"), std::string::npos);
    EXPECT_TRUE(fs::exists(scratch / "out" / "XXXX.hdv"));
}

// ---- Files that are not files, lines that never end ----------------------------------------

TEST_F(HostileInput, PipesDevicesAndEndlessLinesAreRefusedAtOnce)
{
    const fs::path fifo = scratch / "f.hdv", fifoPdb = scratch / "f.pdb", script = scratch / "s.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(fifoPdb.c_str(), 0600), 0);
    writeFile(script, "1 0 0 0 0\n");
    const fs::path longLine = scratch / "long.pdb";
    writeFile(longLine, std::string(8 << 20, 'A'));
    const std::vector<std::vector<std::string>> cases = {
        {"load", fifo.string()},
        {"modes", fifoPdb.string()},
        {"modes", "/dev/zero"},
        {"modes", "/dev/urandom"},
        {"modes", longLine.string()},
        {"replay", crn, "--script", fifoPdb.string()},
        {"replay", fifoPdb.string(), "--script", script.string()},
    };
    for (const auto& args : cases) {
        // 400 MB of address space is far more than a refusal needs, far less than /dev/zero would
        // take (AddressSanitizer reserves far more address space than that for itself).
#if defined(__SANITIZE_ADDRESS__)
        const Outcome r = run(args);
#else
        const Outcome r = run(args, {}, "ulimit -v 400000");
#endif
        EXPECT_EQ(r.status, 2) << args[1] << ": " << describe(r);
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
    }
}

// ---- Structure files that cost more than they are worth --------------------------------------

TEST_F(HostileInput, StructureFilesThatCostMoreThanTheyAreWorthAreRefusedAtOnce)
{
    const std::string cif = readWholeFile(vornax::testing::repoPdbDir().parent_path() / "cif" / "1crn.cif");
    ASSERT_NE(cif.find("_pdbx_struct_assembly_gen.oper_expression 1\n"), std::string::npos);
    auto withLine = [&](const std::string& from, const std::string& to) {
        std::string text = cif;
        return text.replace(text.find(from), from.size(), to);
    };
    auto expression = [&](const std::string& e) {
        return withLine("_pdbx_struct_assembly_gen.oper_expression 1\n",
                        "_pdbx_struct_assembly_gen.oper_expression '" + e + "'\n");
    };
    const std::string packed = vornax::testing::gzipped(cif);
    // 400 MB of address space: ten million operators took 534 MB.
#if defined(__SANITIZE_ADDRESS__)
    const char* limit = "";
#else
    const char* limit = "export OPENBLAS_NUM_THREADS=1; ulimit -v 400000";
#endif
    const struct {
        std::string name, text;
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {"range.cif", expression("(1-10000000)"), {"--assembly", "1"}, "expands to 10000000 operators"},
        {"empty.cif", expression("()"), {"--assembly", "1"}, "empty operator id in its operator expression '()'"},
        {"flat.cif", withLine("_pdbx_struct_oper_list.matrix[3][3] 1\n", "_pdbx_struct_oper_list.matrix[3][3] 1e-6\n"),
         {"--assembly", "1"}, "operator 1 of assembly 1 cannot be used: its matrix is not a rotation"},
        {"cut.cif.gz", packed.substr(0, packed.size() / 2), {}, "its gzip data ends before"},
        {"copies.cif", cif, {"--assembly", "1", "--copies", "9223372036854775807-9223372036854775807"},
         "has no operator 9223372036854775807"},
    };
    for (const auto& c : cases) {
        writeFile(scratch / c.name, c.text);
        std::vector<std::string> args{"modes", (scratch / c.name).string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = run(args, {}, limit);
        EXPECT_EQ(r.status, 2) << c.name << ": " << describe(r);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
    }
    // Without --assembly no assembly is expanded: the file's own content loads.
    writeFile(scratch / "plain.cif", expression("(1-10000000)"));
    const Outcome plain = run({"modes", (scratch / "plain.cif").string()}, scratch / "m.json", limit);
    EXPECT_EQ(plain.status, 0) << describe(plain);
}

// ---- Forces the PDB format cannot hold --------------------------------------------------------

TEST_F(HostileInput, DeformRefusesCoordinatesBeyondTheirColumns)
{
    // Forces whose response carries nodes farther than the structure's size are let go, not kept.
    for (const char* force : {"1e308", "1e20", "1e12"}) {
        const fs::path out = scratch / "big.pdb";
        const Outcome r =
            run({"deform", crn, "--node", "3", "--force", force, "0", "0", "--out", out.string()}, scratch / "d.json");
        EXPECT_EQ(r.status, 2) << force << ": " << describe(r);
        EXPECT_NE(r.err.find("was let go"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out)) << force;
    }
    // A force that fits writes a file whose every record reads back.
    const fs::path out = scratch / "ok.pdb";
    ASSERT_EQ(run({"deform", crn, "--node", "3", "--force", "100", "0", "0", "--out", out.string()}, scratch / "d.json")
                  .status,
              0);
    std::istringstream in(readWholeFile(out));
    int records = 0;
    for (std::string line; std::getline(in, line);) {
        if (!is(line, "ATOM")) continue;
        ++records;
        for (std::size_t c = 30; c < 54; c += 8) {
            std::size_t used = 0;
            const double v = std::stod(line.substr(c, 8), &used);
            EXPECT_TRUE(std::isfinite(v)) << line;
            EXPECT_EQ(line.substr(c, 8).find_first_not_of(' ', used), std::string::npos) << line;
        }
    }
    EXPECT_EQ(records, 46);
}

// ---- B-factors and temperatures -------------------------------------------------------------

TEST_F(HostileInput, AbsurdBFactorsAreNamedAndDecidedOnceForEveryCommand)
{
    const struct {
        const char* value;
        const char* named;
    } cases[] = {{"1e300", "above"}, {"nan", "not finite"}, {"inf", "not finite"}, {"-5.0", "negative"}};
    for (const auto& c : cases) {
        const fs::path pdb = scratch / "b.pdb";
        writeFile(pdb, editedCrambin([&](const std::string& line) -> std::string {
                      return is(line, "ATOM") ? withField(line, 61, 66, c.value) : line;
                  }));
        const Outcome modes = run({"modes", pdb.string()}, scratch / "m.json");
        ASSERT_EQ(modes.status, 0) << describe(modes);
        EXPECT_FALSE(modes.report["calibrated"].get<bool>()) << c.value;
        EXPECT_DOUBLE_EQ(modes.report["spring_constant"].get<double>(), 1.0) << c.value;
        EXPECT_GT(modes.report["force_scaler"].get<double>(), 0.0) << c.value;
        EXPECT_NE(modes.err.find(c.named), std::string::npos) << modes.err;
        EXPECT_EQ(modes.err.find("all zero"), std::string::npos) << modes.err;

        // response and deform take the same decision: the unit spring constant.
        const Outcome response =
            run({"response", pdb.string(), "--node", "3", "--force", "1", "0", "0"}, scratch / "r.json");
        ASSERT_EQ(response.status, 0) << describe(response);
        EXPECT_FALSE(response.report["calibrated"].get<bool>());
        double largest = 0.0;
        for (double d : response.report["displacement"]) largest = std::max(largest, std::fabs(d));
        EXPECT_GT(largest, 0.0);
        EXPECT_LT(largest, 100.0) << c.value;
        const Outcome deform = run(
            {"deform", pdb.string(), "--node", "3", "--force", "1", "0", "0", "--out", (scratch / "d.pdb").string()},
            scratch / "d.json");
        EXPECT_EQ(deform.status, 0) << describe(deform);
    }
}

TEST_F(HostileInput, TemperaturesThatCannotBeUsedFallBackTo300K)
{
    for (const char* value : {"NaN", "Inf", "1e308", "abc", "-4", "1e30"}) {
        const fs::path pdb = scratch / "t.pdb";
        writeFile(pdb, editedCrambin([&](const std::string& line) -> std::string {
                      if (!is(line, "REMARK 200  TEMPERATURE")) return line;
                      return line.substr(0, 45) + value;
                  }));
        const Outcome r = run({"modes", pdb.string()}, scratch / "m.json");
        ASSERT_EQ(r.status, 0) << describe(r);
        EXPECT_DOUBLE_EQ(r.report["temperature"].get<double>(), 300.0) << value;
        EXPECT_DOUBLE_EQ(r.report["kT"].get<double>(), 0.6) << value;
        EXPECT_NE(r.err.find("300 K is used instead"), std::string::npos) << value << ": " << r.err;
    }
}

// ---- Arguments ------------------------------------------------------------------------------

TEST_F(HostileInput, ArgumentMistakesAreNamedForWhatTheyAre)
{
    const fs::path missing = scratch / "missing" / "dir";
    const struct {
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {{"frobnicate", crn}, "unknown subcommand 'frobnicate'"},
        {{"response", "--node", "1", "--force", "1", "0", "7"}, "FILE is required"},
        {{"response", crn, "--node", "", "--force", "1", "0", "0"}, "--node must be a whole number"},
        {{"response", crn, "--node", "99999999999999999999", "--force", "1", "0", "0"},
         "--node 99999999999999999999 is out of range"},
        {{"response", crn, "--node", "1", "--force", "1", "0", "0", "--modes", "first:2147483648"}, "is out of range"},
        {{"response", crn, "--node", "1", "--force", "1", "0", "0", "--without-y"}, "--without-y goes with"},
        {{"modes", crn, "--out", missing.string()}, "is not an existing folder"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args, scratch / "a.json");
        EXPECT_EQ(r.status, 2) << c.args[0] << ": " << describe(r);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(lineCount(r.err), 1) << r.err;
    }
    EXPECT_FALSE(fs::exists(missing.parent_path()));
}

// ---- Long replays -----------------------------------------------------------------------------

TEST_F(HostileInput, ReplayStreamsItsTicksAndReportsMemoryExhaustionInOneLine)
{
    const fs::path script = scratch / "s.txt";
    writeFile(script, "2000 node 10 11 0 0 0\n1 node 10 11 0 0 1\n");
    const Outcome every = run({"replay", crn, "--script", script.string(), "--every", "500"}, scratch / "r.json");
    ASSERT_EQ(every.status, 0) << describe(every);
    EXPECT_EQ(every.report["tick_every"], 500);
    ASSERT_EQ(every.report["ticks"].size(), 5u); // ticks 0, 500, 1000, 1500, 2000
    EXPECT_EQ(every.report["ticks"][4]["atom"], 10);

#if !defined(__SANITIZE_ADDRESS__)
    // Out of memory anywhere (here: 400 000 water records in 150 MB of address space, while
    // the reader builds their atoms) is one line and exit status 2, not an abort.
    const fs::path water = scratch / "water.pdb";
    {
        std::ofstream out(water);
        out << "HEADER    WATER                                   01-JAN-00   1WAT\n";
        char line[96];
        for (int i = 0; i < 400000; ++i) {
            std::snprintf(line, sizeof line, "HETATM%5d  O   HOH W%4d    %8.3f%8.3f%8.3f  1.00 20.00           O\n",
                          i % 100000, i % 10000, i % 100 * 1.0, i / 100 % 100 * 1.0, i / 10000 * 1.0);
            out << line;
        }
    }
    const Outcome starved =
        run({"modes", water.string()}, scratch / "m.json", "export OPENBLAS_NUM_THREADS=1; ulimit -v 150000");
    EXPECT_EQ(starved.status, 2) << describe(starved);
    EXPECT_EQ(lineCount(starved.err), 1) << starved.err;
    EXPECT_NE(starved.err.find("not enough memory"), std::string::npos) << starved.err;
#endif
}
