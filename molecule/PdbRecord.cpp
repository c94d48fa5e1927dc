#include "molecule/PdbRecord.h"

#include "common/TextParse.h"

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

} // namespace vornax::pdb
