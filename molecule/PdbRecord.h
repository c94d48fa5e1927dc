// Field access for fixed-column PDB records (columns numbered from 1, as in the format).
#pragma once

#include "common/Vector3d.h"
#include "molecule/ELNBackboneData.h"

#include <cstdint>
#include <string>
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

/// The fields of an ATOM/HETATM record that the reader's atoms and the network's nodes share.
struct AtomRecord {
    double coordinates[3] = {0.0, 0.0, 0.0}; ///< columns 31–54, Å as read
    Vector3d position;                       ///< the coordinates × 10 (model units)
    std::string residueNumber;               ///< columns 23–26, untrimmed
    std::string chainID;                     ///< column 22
    std::string residueName;                 ///< columns 18–20
    bool cAlpha = false;                     ///< isCAlphaRecord
    bool phosphorus = false;                 ///< isPhosphorusRecord and not a C-alpha

    bool isBackbone() const { return cAlpha || phosphorus; }
};

/// Reads the shared fields of an ATOM/HETATM line. False, with `record` unspecified, when the
/// coordinates cannot be read (readCoordinates).
bool readAtomRecord(std::string_view line, AtomRecord& record);

/// The network node of a backbone record (record.isBackbone()) read from `line`. Prints
/// "detected DNA/RNA" for a phosphorus atom. The B-factor is columns 61–66; when they are not
/// a number it prints "bad cast error in B Factor derivation" and uses 0.
ELNBackboneData backboneRecord(std::string_view line, const AtomRecord& record);

/// Appends `node` to the chain being filled, chains[chainIndex]. Before the first chain
/// (chainIndex < 0) it prints "Added first protein chain" (or "added first DNA Chain" for a
/// nucleic node), starts a chain holding the node and sets chainIndex to 0.
void appendBackboneRecord(ChainList& chains, int32_t& chainIndex, ELNBackboneData&& node);

/// Record lines made from mmCIF or assemblies carry a chain name that column 22 cannot hold
/// after column 80, as " chain NAME"; the text to append for `chain` (empty for one character).
std::string chainNameSuffix(const std::string& chain);
/// The chain name such a line carries past column 80; empty for every other line.
std::string_view chainNameAfterRecord(std::string_view line);

/// Offsets (zero-based) and widths of the coordinate and B-factor fields.
inline constexpr std::size_t kXColumn = 31, kYColumn = 39, kZColumn = 47, kCoordWidth = 8;
inline constexpr std::size_t kBFactorFirst = 61, kBFactorLast = 66;

} // namespace vornax::pdb
