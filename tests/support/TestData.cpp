#include "support/TestData.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <unistd.h>

namespace vornax::testing {

std::string gzipped(const std::string& text)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::filesystem::path repoPdbDir() { return std::filesystem::path(VORNAX_TEST_DATA_DIR) / "pdb"; }

static std::filesystem::path sharedRoot()
{
    if (const char* env = std::getenv("VORNAX_SHARED_DIR"); env && *env) return env;
    return VORNAX_SHARED_DIR;
}

std::filesystem::path sharedPdbDir()
{
    const auto dir = sharedRoot() / "data" / "pdb";
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path();
}

std::filesystem::path sharedReferenceDir()
{
    const auto dir = sharedRoot() / "reference";
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path();
}

std::vector<std::string> referenceResultNames()
{
    std::vector<std::string> names;
    if (const auto dir = sharedReferenceDir(); !dir.empty())
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().extension() == ".json") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

int environmentNumber(const char* name, int fallback)
{
    if (const char* env = std::getenv(name); env && *env) return std::atoi(env);
    return fallback;
}

std::filesystem::path findPdb(const std::string& name)
{
    std::error_code ec;
    if (auto p = repoPdbDir() / name; std::filesystem::exists(p, ec)) return p;
    if (auto dir = sharedPdbDir(); !dir.empty()) {
        if (auto p = dir / name; std::filesystem::exists(p, ec)) return p;
    }
    return {};
}

std::string shellQuoted(const std::string& text)
{
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

double maxAbs(const std::vector<double>& values)
{
    double largest = 0.0;
    for (double v : values) largest = std::max(largest, std::fabs(v));
    return largest;
}

TempFile::TempFile(const std::string& content, const std::string& suffix)
{
    static std::atomic<int> counter{0};
    m_path = std::filesystem::temp_directory_path()
        / ("vornax-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + suffix);
    std::ofstream out(m_path, std::ios::binary);
    out << content;
}

TempFile::~TempFile()
{
    std::error_code ec;
    std::filesystem::remove(m_path, ec);
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vornax-test-XXXXXX").string();
    if (::mkdtemp(pattern.data())) m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

LoadedStructure::LoadedStructure(const std::filesystem::path& path, const AssemblyRequest& assembly)
{
    ScopedUserPrompts scoped(&prompts);
    reader = std::make_unique<NetworkFileHandle>();
    ok = reader->openStructure(path, assembly);
    atoms = reader->getAtomList();
    network.reset(reader->getElasticNetwork());
}

LoadedStructure::LoadedStructure(const StructureSource& source, const LoadOptions& options)
{
    ScopedUserPrompts scoped(&prompts);
    LoadResult load = runLoadPipeline(source, options);
    ok = load.ok();
    status = load.status;
    message = load.message;
    stages = load.stages;
    path = load.path;
    pathReason = load.pathReason;
    timeToFirstPull = load.timeToFirstPull;
    eigenFilesWritten = load.eigenFilesWritten;
    denseLater = load.denseLater;
    reader = std::move(load.reader);
    atoms = load.takeAtoms();
    network = std::move(load.network);
}

std::unique_ptr<LoadedStructure> LoadedStructure::fromText(const std::string& pdbText)
{
    TempFile file(pdbText);
    return std::make_unique<LoadedStructure>(file.path());
}

LoadedStructure::~LoadedStructure() { deleteAtoms(atoms); }

std::string cAlphaChain(const std::vector<Vector3d>& positions, double bFactor, char chain)
{
    std::string text = "HEADER    SYNTHETIC                               01-JAN-00   1SYN              \n"
                       "REMARK 200 EXPERIMENTAL DETAILS\n"
                       "REMARK 200  EXPERIMENT TYPE                : X-RAY DIFFRACTION\n"
                       "REMARK 200  TEMPERATURE           (KELVIN) : 300\n";
    int serial = 1;
    for (const auto& p : positions) {
        text += atomLine("ATOM", serial, " CA ", "ALA", chain, serial, p.x, p.y, p.z, bFactor) + "\n";
        ++serial;
    }
    return text + "TER\nEND\n";
}

std::unique_ptr<LoadedStructure> buildNetwork(const std::filesystem::path& pdb, float rc,
                                              const AssemblyRequest& assembly)
{
    auto s = std::make_unique<LoadedStructure>(pdb, assembly);
    ScopedUserPrompts scoped(&s->prompts);
    s->network->setRc(rc);
    s->network->setRenderingDataUp();
    return s;
}

std::unique_ptr<LoadedStructure> buildNetworkFromText(const std::string& pdbText, float rc)
{
    TempFile file(pdbText);
    return buildNetwork(file.path(), rc);
}

LoadOptions solvedOptions(float rc, bool withY)
{
    LoadOptions options;
    options.rc = rc;
    options.computeY = withY;
    options.keepAllModes = true;
    return options;
}

std::unique_ptr<LoadedStructure> loadedThroughPipeline(const std::filesystem::path& pdb, const LoadOptions& options)
{
    auto s = std::make_unique<LoadedStructure>(StructureSource::pdbFile(pdb), options);
    if (s->ok) return s;
    ADD_FAILURE() << "the load of " << pdb << " failed: " << s->message;
    return nullptr;
}

std::unique_ptr<LoadedStructure> solvedStructure(const std::filesystem::path& pdb, float rc)
{
    return loadedThroughPipeline(pdb, solvedOptions(rc));
}

std::string atomLine(const std::string& record, int serial, const std::string& name, const std::string& resName,
                     char chain, int resSeq, double x, double y, double z, double bFactor, const std::string& element)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "%-6s%5d %-4s %3s %c%4d    %8.3f%8.3f%8.3f%6.2f%6.2f          %2s  ", record.c_str(),
                  serial, name.c_str(), resName.c_str(), chain, resSeq, x, y, z, 1.0, bFactor, element.c_str());
    return buf;
}

double elnemoDisplacement(int node, int mode, int k)
{
    const double d[3] = {0.01 * (node % 7 + mode), -0.02 * (node % 3), 0.005 * mode};
    return d[k];
}

std::string elnemoFile(const ElasticNetworkModel& eln, int mode, int atoms, bool header)
{
    std::ostringstream text;
    if (header) text << "REMARK MODE    " << std::setw(2) << std::left << mode << " FREQUENCY 1.0\n";
    text << "REMARK generated for the test\n";
    const int n = atoms < 0 ? eln.getAmountOfAtoms() : atoms;
    const auto& nodes = eln.geometry().getBackboneList();
    for (int i = 0; i < n; ++i) {
        const auto& c = nodes[static_cast<std::size_t>(i % eln.getAmountOfAtoms())].coordinates;
        text << atomLine("ATOM", i + 1, "CA", "ALA", 'A', i + 1, c[0] - elnemoDisplacement(i, mode, 0),
                         c[1] - elnemoDisplacement(i, mode, 1), c[2] - elnemoDisplacement(i, mode, 2))
             << '\n';
    }
    text << "END\n";
    return text.str();
}

EigenFileLayout eigenFileLayout(const std::string& bytes, std::size_t dim)
{
    EigenFileLayout l;
    l.dim = dim;
    l.sparse = readAt<int32_t>(bytes, 0) == -1;
    l.rc = l.sparse ? 20 : 4;
    l.firstLine = l.rc + 4;
    std::size_t at = l.firstLine;
    for (int32_t i = 0, lines = readAt<int32_t>(bytes, l.rc - 4); i < lines; ++i) at += 4 + readAt<int32_t>(bytes, at);
    l.fields = at;
    if (l.sparse) {
        l.k = readAt<int32_t>(bytes, at + 40);
        l.values = at + 44;
        l.inverse = l.values + 8 * static_cast<std::size_t>(l.k);
    } else {
        l.k = static_cast<int32_t>(dim) - 6;
        l.inverse = at + 16;
    }
    l.modes = l.inverse + 8 * static_cast<std::size_t>(l.k);
    return l;
}

void moveFirstCAlpha(std::string& bytes, const EigenFileLayout& l, double by)
{
    for (std::size_t at = l.firstLine; at < l.fields; at += 4 + readAt<int32_t>(bytes, at)) {
        const std::string line = bytes.substr(at + 4, static_cast<std::size_t>(readAt<int32_t>(bytes, at)));
        if (line.compare(0, 4, "ATOM") != 0 || line.compare(12, 4, " CA ") != 0) continue;
        char x[16];
        std::snprintf(x, sizeof x, "%8.3f", std::stod(line.substr(30, 8)) + by);
        bytes.replace(at + 4 + 30, 8, x);
        return;
    }
    ADD_FAILURE() << "no C-alpha line";
}

void equalModes(std::string& bytes, const EigenFileLayout& l, int32_t rows)
{
    for (int32_t m = 1; m < rows; ++m)
        bytes.replace(l.modes + 8 * l.dim * static_cast<std::size_t>(m), 8 * l.dim, bytes, l.modes, 8 * l.dim);
}

} // namespace vornax::testing
