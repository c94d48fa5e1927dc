#include "enm/NetworkGeometry.h"

#include "common/Console.h"
#include "common/LittleEndian.h"
#include "common/TextParse.h"
#include "common/Units.h"
#include "enm/NeighbourSearch.h"
#include "molecule/Atom.h"
#include "molecule/PdbRecord.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace vornax {

namespace {

void addIfAbsent(std::vector<std::string>& list, const std::string& value)
{
    if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

/// Longest record line accepted from a stored file; PDB lines have 80 characters.
constexpr int32_t kMaxStoredLineLength = 1 << 16;

} // namespace

NetworkGeometry::~NetworkGeometry() { freeNodes(); }

void NetworkGeometry::freeNodes()
{
    for (Atom* a : atomArray) delete a;
    atomArray.clear();
}

void NetworkGeometry::generateRenderingBB()
{
    const auto n = static_cast<int64_t>(backboneList.size());
    amountOfAtoms = static_cast<int32_t>(n);
    threeN = static_cast<int32_t>(3 * n);
    threeNMinusSix = n >= 2 ? static_cast<int32_t>(3 * (n - 2)) : 0;
}

void NetworkGeometry::buildLightAtomList()
{
    freeNodes();
    const std::size_t n = backboneList.size();
    atomArray.resize(n, nullptr);
    nodeCoordinates.resize(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const ELNBackboneData& r = backboneList[i];
        std::copy(r.coordinates.begin(), r.coordinates.end(),
                  nodeCoordinates.begin() + static_cast<std::ptrdiff_t>(3 * i));
        auto* atom = new Atom(r.position, Vector3d(0.5f, 0.5f, 0.5f), "C Alpha", 6.0f, static_cast<int32_t>(i), "C",
                              r.residueNumber, r.residueName, r.chainID);
        if (r.isNucleic) atom->setMyColour(kNucleicNodeColour);
        atom->init();
        atom->setMyBFactor(r.bFactor);
        atom->setInitEQForce(1.0f);
        atomArray[i] = atom;
    }
    double squared = 0.0;
    for (int a = 0; a < 3 && n > 0; ++a) {
        double lo = nodeCoordinates[a], hi = lo;
        for (std::size_t i = 0; i < n; ++i) {
            lo = std::min(lo, nodeCoordinates[3 * i + a]);
            hi = std::max(hi, nodeCoordinates[3 * i + a]);
        }
        squared += (hi - lo) * (hi - lo);
    }
    displacementLimit = kDisplacementExtents * std::max(std::sqrt(squared), kSmallestExtent);
}

std::size_t NetworkGeometry::storedLineCount() const
{
    if (totalAmountOfAtoms >= 0 && static_cast<std::size_t>(totalAmountOfAtoms) < pdbLines.size())
        return static_cast<std::size_t>(totalAmountOfAtoms);
    return pdbLines.size();
}

void NetworkGeometry::subtractVectorFromLocalPosition(const Vector3d& centre)
{
    for (auto& record : backboneList) record.position -= centre;
}

void NetworkGeometry::recieveChainList(ChainList& chains)
{
    chainList = std::move(chains);
    chains.clear();
    std::size_t total = backboneList.size();
    for (const auto& chain : chainList) total += chain.size();
    backboneList.reserve(total);
    for (const auto& chain : chainList) backboneList.insert(backboneList.end(), chain.begin(), chain.end());
}

void NetworkGeometry::insertPureCoordList(std::vector<Vector3d>& list)
{
    pureCoordList = std::move(list);
    list.clear();
}

void NetworkGeometry::setResidueData(std::vector<std::string> chainIDList, std::vector<std::string> residueNameList,
                                         std::vector<std::string> residueNumberList)
{
    chainIDs = std::move(chainIDList);
    residueNames = std::move(residueNameList);
    seqNums = std::move(residueNumberList);
}

std::string NetworkGeometry::getPDB_Code() const
{
    if (pdbLines.empty() || pdbLines.front().size() <= 62) return {};
    return text::trimmed(std::string_view(pdbLines.front()).substr(62, 66));
}

void NetworkGeometry::processLine(const std::string& line)
{
    pdb::AtomRecord record;
    if (!pdb::readAtomRecord(line, record)) {
        console::Line(console::Warning) << "Record skipped, its coordinates cannot be read: " << line;
        return;
    }
    if (const std::string_view chain = pdb::chainNameAfterRecord(line); !chain.empty()) record.chainID = chain;
    currentChainID = record.chainID;
    midPointSum[0] += record.position.x;
    midPointSum[1] += record.position.y;
    midPointSum[2] += record.position.z;
    ++midPointCount;
    if (!record.isBackbone()) return;

    ELNBackboneData node = pdb::backboneRecord(line, record);
    if (record.phosphorus) addIfAbsent(chainIDs, currentChainID);
    addIfAbsent(residueNames, record.residueName);
    addIfAbsent(seqNums, record.residueNumber);
    pdb::appendBackboneRecord(chainList, chainCounter, std::move(node));
}

bool NetworkGeometry::readStoredLines(std::istream& in, uint64_t bytesAvailable, int32_t& lineCount, float& rc,
                                          std::vector<std::string>& lines)
{
    lineCount = 0;
    rc = 0.0f;
    if (bytesAvailable < 8 || !le::read(in, lineCount) || !le::read(in, rc) || lineCount < 0) return false;
    uint64_t left = bytesAvailable - 8;
    // Every line costs at least its 4-byte length: a count the file cannot hold is refused
    // before anything is allocated for it.
    if (static_cast<uint64_t>(lineCount) * 4 > left) return false;
    lines.clear();
    lines.reserve(static_cast<std::size_t>(std::min(lineCount, int32_t{1} << 16)));
    for (int32_t i = 0; i < lineCount; ++i) {
        int32_t length = 0;
        if (left < 4 || !le::read(in, length) || length < 0 || length > kMaxStoredLineLength) return false;
        left -= 4;
        if (static_cast<uint64_t>(length) > left) return false;
        std::string line(static_cast<std::size_t>(length), '\0');
        if (length > 0 && !in.read(line.data(), length)) return false;
        left -= static_cast<uint64_t>(length);
        lines.push_back(std::move(line));
    }
    return true;
}

void NetworkGeometry::processStoredLines(std::vector<std::string>&& lines, int32_t lineCount, float rc)
{
    chainCounter = -1;
    midPoint = {0.0f, 0.0f, 0.0f};
    midPointSum = {0.0, 0.0, 0.0};
    midPointCount = 0;
    Rc = rc;
    for (auto& line : lines) {
        const std::string_view rec = pdb::recordName(line);
        if (pdb::isAtomRecord(line)) processLine(line);
        if (text::contains(rec, "TER") && rec != "MASTER") {
            addIfAbsent(chainIDs, currentChainID);
            chainList.emplace_back();
            ++chainCounter;
        }
        pdbLines.push_back(std::move(line));
    }
    for (const auto& chain : chainList) backboneList.insert(backboneList.end(), chain.begin(), chain.end());
    // The centre is the mean position of the atom records, as for a structure read from PDB.
    if (midPointCount > 0) {
        for (int k = 0; k < 3; ++k)
            midPoint[k] = static_cast<float>(midPointSum[k] / static_cast<double>(midPointCount));
        subtractVectorFromLocalPosition(Vector3d(midPoint[0], midPoint[1], midPoint[2]));
    }
    totalAmountOfAtoms = lineCount;
}

bool NetworkGeometry::processAtoms(std::istream& in)
{
    int32_t lineCount = 0;
    float rc = 0.0f;
    std::vector<std::string> lines;
    if (!readStoredLines(in, UINT64_MAX, lineCount, rc, lines)) return false;
    processStoredLines(std::move(lines), lineCount, rc);
    return true;
}

void NetworkGeometry::calcDistances()
{
    for (auto& chain : chainList) {
        if (chain.empty()) {
            console::line("final chain reached so time to exit");
            break;
        }
        for (std::size_t i = 0; i + 1 < chain.size(); ++i)
            chain[i].distance = units::toAngstrom(chain[i].position).euclideanDistance(units::toAngstrom(chain[i + 1].position));
    }
    // The node list carries the same records.
    std::size_t k = 0;
    for (const auto& chain : chainList)
        for (const auto& record : chain)
            if (k < backboneList.size()) backboneList[k++].distance = record.distance;
}

void NetworkGeometry::buildConnectedList()
{
    const int32_t n = amountOfAtoms;
    console::Line() << "Rc: " << units::toModel(Rc) << "backbonelength: " << n;

    // Each list is the node itself, then the others in index order. Distances come from the
    // coordinates as read (Å, double precision).
    const std::vector<std::vector<int32_t>> lists = neighbourLists(nodeCoordinates.data(), n, getRcAngstrom());
    int64_t springs = 0;
    for (int32_t i = 0; i < n; ++i) {
        Atom* a = atomArray[static_cast<std::size_t>(i)];
        a->addToMyConnectedList(a);
        for (int32_t j : lists[static_cast<std::size_t>(i)]) a->addToMyConnectedList(atomArray[static_cast<std::size_t>(j)]);
        a->createConnectedListPtr();
        springs += static_cast<int64_t>(lists[static_cast<std::size_t>(i)].size());
    }
    amountOfSprings = static_cast<int32_t>(springs);
    console::Line() << "total number of springs: " << amountOfSprings;
}

std::array<int32_t, 2> NetworkGeometry::findCoincidentNodes() const
{
    // A spring's Hessian block is d·dᵀ / |d|²: 0/0 exactly when |d|² is 0 in double precision,
    // that is when every component of d is 0 or so small (below about 1e-162 Å) that its
    // square underflows. Distinct doubles of magnitude 1e-100 or more differ by far more than
    // that, so with components below 1e-100 Å taken as 0, "equal after that" holds for every
    // such pair (and refuses nothing a PDB file can write: its coordinates have 3 decimals).
    const auto flushed = [](double v) { return std::fabs(v) < 1e-100 ? 0.0 : v; };
    const std::size_t n = backboneList.size();
    std::vector<std::array<double, 3>> position(n);
    for (std::size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            position[i][static_cast<std::size_t>(k)] =
                flushed(backboneList[i].coordinates[static_cast<std::size_t>(k)]);
    std::vector<int32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<int32_t>(i);
    // Lexicographic by position, then by index, so that equal positions sit together with their
    // lowest indices first. NaN would break the ordering: such a network is refused before.
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const auto& pa = position[static_cast<std::size_t>(a)];
        const auto& pb = position[static_cast<std::size_t>(b)];
        if (pa[0] != pb[0]) return pa[0] < pb[0];
        if (pa[1] != pb[1]) return pa[1] < pb[1];
        if (pa[2] != pb[2]) return pa[2] < pb[2];
        return a < b;
    });
    std::array<int32_t, 2> lowest{-1, -1};
    for (std::size_t k = 1; k < n; ++k) {
        const int32_t a = order[k - 1], b = order[k];
        if (position[static_cast<std::size_t>(a)] != position[static_cast<std::size_t>(b)]) continue;
        if (lowest[0] < 0 || a < lowest[0]) lowest = {a, b};
    }
    return lowest;
}

bool NetworkGeometry::nodeCoordinatesUsable() const
{
    for (const auto& record : backboneList)
        for (double v : record.coordinates)
            if (!(std::fabs(v) <= kLargestCoordinate)) return false; // NaN too
    return true;
}

Vector3d NetworkGeometry::findMaxCoord() const
{
    if (atomArray.empty()) return Vector3d(0.1f, 0.1f, 0.1f);
    Vector3d m(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (const Atom* a : atomArray) {
        const Vector3d p = a->getMyLocalPosition();
        for (int k = 0; k < 3; ++k) m[k] = std::max(m[k], p[k] - a->getRadius());
    }
    return m + Vector3d(0.1f, 0.1f, 0.1f);
}

void NetworkGeometry::set_X_RAY_Temperature(float kelvin)
{
    if (std::isfinite(kelvin) && kelvin > 0.0f && kelvin <= kMaxTemperature) {
        temperature = kelvin;
        return;
    }
    console::Line(console::Warning) << "The experiment temperature " << kelvin
                                    << " K cannot be used (it must be above 0 and at most " << kMaxTemperature
                                    << " K); 300 K is used instead.";
    temperature = 300.0f;
}

} // namespace vornax
