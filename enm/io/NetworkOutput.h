// What leaves a network for files other than its eigen data: the deformed structure as C-alpha
// records (CAlphaFile.cpp) and the kept forces and structure of a session (SessionForces.cpp).
#pragma once

#include "molecule/SessionFile.h"

#include <ostream>
#include <string>

namespace vornax {

class Deformation;
class ModeSet;
class NetworkGeometry;

/// Writes the C-alpha records of the structure with the current deformation added to
/// their coordinates, after REMARK lines for every node that keeps a force, then END.
/// False (with a console warning, nothing written, the reason in `error`) when the file cannot
/// be written whole or a moved coordinate does not fit its 8 columns; the file is replaced only
/// once complete. Any thread: the displacement is taken between two simulation steps (so not
/// under a ModeChangeToken). `error` is cleared on success.
bool writeCAlphaFile(const NetworkGeometry& geometry, const ModeSet& modes, const Deformation& deformation,
                     const std::string& filename, std::string& error);
/// One coordinate's text laid out in the 8 columns of a PDB coordinate field: the integer
/// part right-aligned in 4 characters, the fraction cut (not rounded) or blank-filled to 3.
std::string padCoordinateField(const std::string& text);

/// The count n and the n force records of the kept forces, as a session file holds them.
bool writeKeptForces(const Deformation& deformation, std::ostream& out);
/// The structure a session on this network belongs to: the record lines the main eigen
/// data file stores, the cutoff and the node count, named by the PDB code (or the main eigen
/// data file's name, `mainFileName`). The same whether the network was computed or read from
/// its files.
SessionStructure describeSessionStructure(const NetworkGeometry& geometry, const std::string& mainFileName);

} // namespace vornax
