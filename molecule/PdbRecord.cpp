#include "molecule/PdbRecord.h"

#include "common/TextParse.h"

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

bool isCAlphaRecord(std::string_view line) { return text::columns(line, 13, 16) == " CA "; }

bool isPhosphorusRecord(std::string_view line) { return text::trim(text::columns(line, 14, 15)) == "P"; }

} // namespace vornax::pdb
