// Structure files beyond the PDB reader's own: mmCIF (.cif, .cif.gz) and biological assemblies
// of either format, read with gemmi into the same atom records and network nodes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornax {

/// Which biological assembly to build, and which of its copies.
struct AssemblyRequest {
    std::string id;                  ///< assembly id (REMARK 350 BIOMOLECULE, _pdbx_struct_assembly.id); empty for none
    std::vector<std::string> copies; ///< operator ids to keep; empty keeps every operator of the assembly

    bool wanted() const { return !id.empty(); }
};

/// An mmCIF file by its name: .cif or .mmcif, optionally gzipped (.cif.gz), in any case.
bool isMmcifPath(const std::filesystem::path& path);

/// Splits a list of operator ids: "1,2,5-7" gives 1, 2, 5, 6, 7 (a range only between whole
/// numbers, at most 100000 ids). Empty ids, reversed ranges and repeated ids are refused:
/// std::nullopt and the reason in `error`.
std::optional<std::vector<std::string>> parseCopyList(std::string_view text, std::string& error);

} // namespace vornax
