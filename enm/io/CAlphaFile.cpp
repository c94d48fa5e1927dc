// The deformed structure as a small PDB file: REMARK lines for the kept forces, the C-alpha
// records moved by the current displacement, END.
#include "enm/io/NetworkOutput.h"

#include "enm/Deformation.h"
#include "enm/ForceRoutes.h"
#include "enm/ModeSet.h"
#include "enm/NetworkGeometry.h"

#include "common/AtomicFile.h"
#include "common/Console.h"
#include "common/TextParse.h"
#include "molecule/Atom.h"
#include "molecule/PdbRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vornax {

namespace {

/// Shortest general text of a coordinate: at most seven significant digits, '.' as the
/// decimal separator whatever the locale.
std::string coordinateText(float value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.7g", static_cast<double>(value));
    std::string text(buffer);
    std::replace(text.begin(), text.end(), ',', '.');
    return text;
}

/// The integer part as text with no exponent: exponent notation is spelled out with three
/// decimals first, so that the layout below sees digits only.
std::string withoutExponent(const std::string& text)
{
    if (text.find_first_of("eE") == std::string::npos) return text;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) return text;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

/// The C-alpha records of `lines` moved by `shown` (Å, 3 a node), in file order: every node
/// record advances the node index, so that phosphorus nodes of mixed protein / nucleic acid
/// structures keep the C-alpha displacements in step; only the C-alpha records are returned.
/// False, with `problem` set, when a moved coordinate does not fit its 8 columns.
bool movedCAlphaRecords(const std::vector<std::string>& lines, int32_t nodes, const std::vector<double>& shown,
                        const std::string& filename, std::vector<std::string>& records, std::string& problem)
{
    int32_t node = 0;
    for (const std::string& line : lines) {
        if (node >= nodes) break;
        if (!pdb::isAtomRecord(line)) continue;
        const bool cAlpha = pdb::isCAlphaRecord(line);
        if (!cAlpha && !pdb::isPhosphorusRecord(line)) continue;
        double xyz[3];
        if (!pdb::readCoordinates(line, xyz)) {
            console::line("bad cast error in c alpha file read out");
            continue; // never became a node
        }
        const auto k = static_cast<std::size_t>(3 * node);
        ++node;
        if (!cAlpha) continue;
        std::string record = line.substr(0, 30);
        for (int c = 0; c < 3; ++c) {
            const float moved = static_cast<float>(static_cast<float>(xyz[c]) + shown[k + static_cast<std::size_t>(c)]);
            const std::string field = padCoordinateField(coordinateText(moved));
            if (!std::isfinite(moved) || field.size() != 8) {
                std::ostringstream text;
                text << "The deformed structure cannot be written to " << filename << ": node " << node - 1
                     << " would move to "
                     << "xyz"[c] << " = " << moved
                     << " \u00c5, which does not fit the 8 columns of a PDB coordinate. The force is too large"
                        " for the structure to be written.";
                problem = text.str();
                return false;
            }
            record += field;
        }
        if (line.size() > 54) record += line.substr(54, 26);
        records.push_back(std::move(record));
    }
    return true;
}

/// The REMARK lines of one node that keeps a force: the force, then the mode selection it went
/// through (`totalMaxModes` for all modes).
void writeForceRemarks(std::ostream& os, const Atom& atom, int32_t totalMaxModes)
{
    // Adding +0 writes a zero component as "0" whichever sign the arithmetic gave it.
    const Vector3d newtons = atom.getMyForceApplied() + Vector3d(0.0f, 0.0f, 0.0f);
    std::ostringstream remark;
    remark << "REMARK   1 Force Applied to " << atom.getResidueName() << " " << atom.getResidue() << " "
           << atom.getChainID() << ": (X) " << newtons.x << " (Y) " << newtons.y << " (Z) " << newtons.z
           << " KCalPerMolPerAngstrom: " << atom.getKcalForce().size() << " Newtons: " << newtons.size();
    os << remark.str() << '\n';

    const ModeStateArray state = atom.getStateArray();
    switch (state[0]) {
    case kRouteAllModes: os << "REMARK  MAXIMUM MODES ACTIVE FOR FORCE " << totalMaxModes << '\n'; break;
    // The slider amount that was in force for this node's pull.
    case kRouteFirstModes: os << "REMARK  MODE SLIDER ACTIVE FOR FORCE " << state[1] << '\n'; break;
    case kRouteModeList: {
        os << "REMARK  MODE BUTTONS ACTIVE FOR FORCE " << '\n';
        const int32_t count = std::clamp(state[1], 0, 20);
        for (int32_t k = 0; k < count; ++k) os << "REMARK  MODE NUMBER " << state[2 + k] + 1 << '\n';
        break;
    }
    default: break;
    }
}

} // namespace

std::string padCoordinateField(const std::string& input)
{
    const std::string text = withoutExponent(input);
    const std::size_t dot = text.find('.');
    const std::string whole = dot == std::string::npos ? text : text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);

    std::string padded;
    if (whole.size() < 4) padded.assign(4 - whole.size(), ' ');
    padded += whole;
    // Three decimals when the integer part fits in four characters; a longer integer part
    // gives up decimals so that the field stays 8 characters and the columns do not shift.
    const std::size_t decimals = whole.size() <= 4 ? 3 : (whole.size() < 7 ? 7 - whole.size() : 0);
    if (fraction.size() > decimals) fraction.resize(decimals);
    fraction.append(decimals - fraction.size(), ' ');
    return padded + "." + fraction;
}

bool writeCAlphaFile(const NetworkGeometry& geometry, const ModeSet& modes, const Deformation& deformation,
                     const std::string& filename, std::string& error)
{
    error.clear();
    auto refuse = [&](const std::string& text) {
        error = text;
        console::write(console::Warning, text);
        return false;
    };

    // The C-alpha records first: a coordinate that cannot be written in its 8 columns refuses
    // the whole file before anything is written.
    std::vector<std::string> records;
    std::string problem;
    if (!movedCAlphaRecords(geometry.getPdbLines(), geometry.getAmountOfAtoms(), deformation.displacementSnapshot(), filename,
                            records, problem))
        return refuse(problem);

    // Written whole to a temporary file that replaces `filename` only once complete.
    AtomicFile out(filename);
    if (!out.ok()) return refuse("The deformed structure cannot be written to " + filename + ": " + out.error());
    std::ostream& os = out.stream();
    for (int32_t i = 0; i < geometry.getAmountOfAtoms(); ++i) {
        const Atom* atom = geometry.getAtoms()[static_cast<std::size_t>(i)];
        if (!isZeroForce(atom->getOLDKcalForce())) writeForceRemarks(os, *atom, modes.getTotalMaxModes());
    }
    for (const std::string& record : records) os << record << '\n';
    os << "END" << std::string(77, ' ') << '\n';
    if (!out.commit())
        return refuse("The deformed structure could not be written completely to " + filename + ": " + out.error()
                      + " The file that was there before is unchanged.");
    return true;
}

} // namespace vornax
