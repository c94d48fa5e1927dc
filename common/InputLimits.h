// Every limit the readers of structure files enforce, in one place: what a file may ask of
// the program before it is refused with a message instead of taking the machine's memory or
// minutes of its time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vornax {

/// Longest text line any of the program's input formats needs (PDB records are 80 characters;
/// stylus scripts and eigenvalue lists are read by other means).
inline constexpr std::size_t kMaxRecordLine = 4096;

/// Most text of one structure file held whole (the plain file, or what its gzip data
/// inflates to): 1 GiB, and never more than an eighth of the memory available (reading the
/// text takes several times its size), but at least 64 MiB.
inline constexpr std::uint64_t kMostStructureText = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kStructureTextShareOfMemory = 8;
inline constexpr std::uint64_t kLeastStructureTextCap = std::uint64_t{64} << 20;

/// Blank lines of one run kept in PDB text (the rest are dropped before its records are read):
/// gemmi's reader spends some 80 ns on every line and the program's own keeps a view of each,
/// so that a gigabyte of line ends took 82 s of CPU, or 16 GB.
inline constexpr std::size_t kMostBlankLinesKept = 64;

/// Most copies of one biological assembly, and most operator ids one --copies list names.
inline constexpr std::size_t kMostCopies = 100000;
/// Most operators the _pdbx_struct_assembly_gen.oper_expression values of one mmCIF file
/// expand to, all assemblies together: the copies cap, counted before anything is expanded.
inline constexpr std::uint64_t kMostAssemblyOperators = kMostCopies;
/// Largest operator number a range in an operator expression may reach ("1-999999999").
inline constexpr long kLargestOperatorNumber = 999999999;
/// Most name comparisons reading the assembly tables of one mmCIF file may take (every
/// expanded operator against the operator list, every assembly against the generator rows).
inline constexpr std::uint64_t kMostAssemblyComparisons = 100'000'000;

/// Largest matrix element and translation (Å) an assembly operator may have.
inline constexpr double kLargestRotationElement = 1.0e3;
inline constexpr double kLargestTranslation = 1.0e6;
/// The 3×3 part of an assembly operator must be a rotation: M·Mᵀ = I within this, element by
/// element (an operator that scales or flattens a copy is refused).
inline constexpr double kRotationTolerance = 1.0e-3;

/// Memory one atom of an assembly takes while it is built and read into nodes (the library's
/// atom, its record, the program's atom and node), and what each node then needs for its
/// springs and the network around it: an assembly whose atoms × copies need more than the
/// memory available is refused before it is built. (The 60 copies of 3j6r, 1.03 million atoms
/// and 172080 nodes, peak at 1.3 GB up to the built network; these give 1.4 GB.)
inline constexpr std::uint64_t kAssemblyBytesPerAtom = 1024;
inline constexpr std::uint64_t kNetworkBytesPerNode = 2048;

} // namespace vornax
