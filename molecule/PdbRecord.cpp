#include "molecule/PdbRecord.h"

#include "common/Console.h"
#include "common/TextParse.h"
#include "common/Units.h"

#include <cfloat>
#include <cmath>

namespace vornax::pdb {

std::string_view recordName(std::string_view line) { return text::trim(text::columns(line, 1, 6)); }

bool isAtomRecord(std::string_view line)
{
    const std::string_view rec = recordName(line);
    return text::contains(rec, "ATOM") || text::contains(rec, "HETATM");
}

bool isTerRecord(std::string_view line)
{
    const std::string_view rec = recordName(line);
    return text::contains(rec, "TER") && rec != "MASTER";
}

bool readCoordinates(std::string_view line, double xyz[3])
{
    for (int k = 0; k < 3; ++k) {
        const std::size_t first = 31 + 8 * static_cast<std::size_t>(k);
        if (!text::parseDouble(text::columns(line, first, first + 7), xyz[k]) || std::fabs(xyz[k]) > FLT_MAX)
            return false;
    }
    return true;
}

bool isCAlphaRecord(std::string_view line) { return text::columns(line, 13, 16) == " CA "; }

bool isPhosphorusRecord(std::string_view line) { return text::trim(text::columns(line, 14, 15)) == "P"; }

bool readAtomRecord(std::string_view line, AtomRecord& record)
{
    if (!readCoordinates(line, record.coordinates)) return false;
    const double* c = record.coordinates;
    record.position = units::toModel(
        Vector3d(static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2])));
    record.residueNumber.assign(text::columns(line, 23, 26));
    record.chainID.assign(text::columns(line, 22, 22));
    record.residueName.assign(text::columns(line, 18, 20));
    record.cAlpha = isCAlphaRecord(line);
    record.phosphorus = !record.cAlpha && isPhosphorusRecord(line);
    return true;
}

ELNBackboneData backboneRecord(std::string_view line, const AtomRecord& record)
{
    if (record.phosphorus) console::line("detected DNA/RNA");
    double bFactor = 0.0;
    // "nan", "inf" or 1e999 are kept as such: the calibration names them (they are not 0).
    if (!text::parseDoubleOrNonFinite(text::columns(line, kBFactorFirst, kBFactorLast), bFactor)) {
        console::line("bad cast error in B Factor derivation");
        bFactor = 0.0;
    }
    ELNBackboneData node(record.position, record.chainID, record.residueName, record.residueNumber, bFactor,
                         record.phosphorus);
    node.coordinates = {record.coordinates[0], record.coordinates[1], record.coordinates[2]};
    return node;
}

namespace {
constexpr std::string_view kChainMark = " chain ";
constexpr std::size_t kRecordWidth = 80;
} // namespace

std::string chainNameSuffix(const std::string& chain)
{
    return chain.size() > 1 ? std::string(kChainMark) + chain : std::string();
}

std::string_view chainNameAfterRecord(std::string_view line)
{
    if (line.size() <= kRecordWidth + kChainMark.size() || line.substr(kRecordWidth, kChainMark.size()) != kChainMark)
        return {};
    return line.substr(kRecordWidth + kChainMark.size());
}

void appendBackboneRecord(ChainList& chains, int32_t& chainIndex, ELNBackboneData&& node)
{
    if (chainIndex < 0) {
        console::line(node.isNucleic ? "added first DNA Chain" : "Added first protein chain");
        chains.emplace_back();
        chains.back().push_back(std::move(node));
        chainIndex = 0;
    } else {
        chains[static_cast<std::size_t>(chainIndex)].push_back(std::move(node));
    }
}

} // namespace vornax::pdb
