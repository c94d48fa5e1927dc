// Field access for fixed-column PDB records (columns numbered from 1, as in the format).
#pragma once

#include <string_view>

namespace vornax::pdb {

/// Record name: columns 1–6 trimmed.
std::string_view recordName(std::string_view line);
/// ATOM or HETATM record (substring test on the trimmed record name).
bool isAtomRecord(std::string_view line);
/// Chain terminator: the record name contains "TER" and is not "MASTER".
bool isTerRecord(std::string_view line);

/// A C-alpha node: atom-name columns 13–16 are exactly " CA " (so calcium, named "CA" from
/// column 13, and heme or ligand names such as " CAA" are not).
bool isCAlphaRecord(std::string_view line);
/// A phosphorus node: columns 14–15, trimmed, are "P".
bool isPhosphorusRecord(std::string_view line);

/// Coordinates of an ATOM/HETATM line (columns 31–38, 39–46, 47–54), Å. False when one is
/// missing, not a number, or too large for single precision.
bool readCoordinates(std::string_view line, double xyz[3]);

/// Offsets (zero-based) and widths of the coordinate and B-factor fields.
inline constexpr std::size_t kXColumn = 31, kYColumn = 39, kZColumn = 47, kCoordWidth = 8;
inline constexpr std::size_t kBFactorFirst = 61, kBFactorLast = 66;

} // namespace vornax::pdb
