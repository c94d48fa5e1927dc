// Structure files beyond the PDB reader's own: mmCIF (.cif, .cif.gz) and biological assemblies
// of either format, read with gemmi into the same atom records and network nodes.
#pragma once

#include <cstddef>
#include <cstdint>
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

/// One biological assembly a structure file describes.
struct AssemblyInfo {
    std::string id;                     ///< REMARK 350 BIOMOLECULE, _pdbx_struct_assembly.id
    std::vector<std::string> operators; ///< the ids of its operators, in order, each once
    std::string details;                ///< its oligomeric state as the file words it ("TRIMERIC"); may be empty
    /// One identity operator over every chain of the file that holds polymer residues: the
    /// assembly is the file's own content.
    bool sameAsFile = false;

    std::size_t copies() const { return operators.size(); }
};

/// The assemblies that the structure file at `path` (PDB or mmCIF) describes, in file order;
/// empty when it describes none. Nothing, and the reason in `error`, when it cannot be read.
std::optional<std::vector<AssemblyInfo>> listAssemblies(const std::filesystem::path& path, std::string& error);

/// Why `request` cannot be asked of the structure file at `path`: empty when it can (or when it
/// asks for no assembly). The file must describe assembly `request.id`, and every copy asked for
/// must be one of its operators; a file that cannot be listed gives listAssemblies' reason. The
/// window's command line and vornax-enm refuse a request with this text before anything loads.
std::string assemblyRequestProblem(const std::filesystem::path& path, const AssemblyRequest& request);

/// The name the network of an assembly goes by, made of letters and digits only (the eigen data
/// files are named by it): the structure's code, "A" and the assembly id, and for a choice of
/// copies "C" and that choice ("1to12", "1x3x5to7"), or a hash of it when it is long or its ids
/// are not numbers. Different requests of one code give different names. Without an assembly:
/// the code as it is.
std::string assemblyNetworkName(const std::string& code, const AssemblyRequest& request);

/// An mmCIF file by its name: .cif or .mmcif, optionally gzipped (.cif.gz), in any case.
bool isMmcifPath(const std::filesystem::path& path);

/// Empty when an assembly of `atoms` atoms, `nodes` of them nodes (atoms × copies), fits in
/// `available` bytes of memory (0: unknown); otherwise why not, naming the memory it needs
/// and the memory available (see kAssemblyBytesPerAtom).
std::string assemblyMemoryProblem(std::uint64_t atoms, std::uint64_t nodes, std::uint64_t available);

/// Splits a list of operator ids: "1,2,5-7" gives 1, 2, 5, 6, 7 (a range only between whole
/// numbers, at most kMostCopies ids). Empty ids, reversed ranges and repeated ids are refused:
/// std::nullopt and the reason in `error`.
std::optional<std::vector<std::string>> parseCopyList(std::string_view text, std::string& error);

} // namespace vornax
