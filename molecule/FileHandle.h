// Reader for Protein Data Bank (PDB) text files.
//
// Follows the wwPDB fixed-column format for ATOM/HETATM/TER records and the REMARK 200/210
// experimental-details block. Every ATOM/HETATM line becomes an atom record; C-alpha atoms
// (atom name exactly " CA ") and phosphorus atoms (name "P") become network nodes, grouped
// into chains by TER records. What the elastic network needs goes, as it is read, to the
// network given with setNetwork (NetworkRecordSink); NetworkFileHandle (enm/) is the reader
// with a network of its own. Usage:
//
//     FileHandle reader;
//     reader.setNetwork(&network);                            // optional
//     reader.openFile("TutorialFiles/1crn.pdb");
//     std::vector<Atom*> atoms = reader.getAtomList();       // caller deletes the atoms
#pragma once

#include "common/Vector3d.h"
#include "molecule/ELNBackboneData.h"
#include "molecule/NetworkRecordSink.h"
#include "molecule/PdbRecord.h"
#include "molecule/StructureFile.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vornax {

class Atom;
class DataTables;
struct LibraryStructure;

class FileHandle {
public:
    FileHandle();
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    /// Reads the structure at `path`. Returns false when the file could not be read or holds
    /// no atom records; the reason is in getLoadError() and on the console.
    bool openFile(const std::filesystem::path& path);
    /// Reads a PDB or mmCIF file (.cif, .cif.gz), optionally as one of its biological
    /// assemblies. A PDB file without an assembly goes to openFile; the others are read with
    /// gemmi into the same atoms and nodes. Refused (false, getLoadError) as a whole: a file
    /// that cannot be read, an assembly or copy it does not describe, unusable operators, an
    /// assembly too large for `availableMemory` (bytes; the machine's own when empty).
    bool openStructure(const std::filesystem::path& path, const AssemblyRequest& assembly = {},
                       const std::function<std::uint64_t()>& availableMemory = {});

    /// The atoms created, in file order (pointers only; the caller deletes the atoms).
    std::vector<Atom*> getAtomList() const { return atomList; }
    /// The network the next load fills (not owned); null for none: the reader then keeps
    /// the records to itself.
    void setNetwork(NetworkRecordSink* network);
    /// Copies the distinct chain IDs, residue names and residue numbers into the network.
    void enterResDataToELN();

    /// Mean of all atom positions (model units); prints "LINE MAX: " and the atom count.
    Vector3d getMidPoint();
    /// Per axis, the smallest (position − radius) over all atoms, minus 0.1.
    Vector3d findMinCoord() const;
    /// Per axis, the largest (position − radius) over all atoms, plus 0.1.
    Vector3d findMaxCoord() const;

    int32_t getAtomCount() const { return atomCount; }
    const ChainList& getChainList() const { return chainList; }
    const std::vector<Vector3d>& getPureCoordList() const { return pureCoordList; }
    const std::vector<std::string>& getChainIDList() const { return chainIDList; }
    const std::vector<std::string>& getResidueNameList() const { return residueNameList; }
    const std::vector<std::string>& getResidueNumberList() const { return residueNumberList; }
    /// Number of record lines (header line, ATOM/HETATM, TER) handed to the network.
    int32_t getRecordLineCount() const { return lineCounter; }
    /// Atom records skipped because their coordinates could not be read.
    int32_t getSkippedRecordCount() const { return skippedRecords; }
    const std::string& getLoadError() const { return loadError; }
    /// Seconds taken by the last openFile.
    double getLoadSeconds() const { return loadSeconds; }

private:
    /// Warns, once per file, of a node record cut inside its number columns.
    void warnIfCut(std::string_view line);

    void readLines(std::string_view content);
    void detailsScan(const std::vector<std::string_view>& lines, std::size_t& next);
    void handleRecord(std::string_view line, bool alreadyStored);
    void addAtom(std::string_view line, const pdb::AtomRecord& record);
    void terminateChain(std::string_view line, bool alreadyStored);
    void finishLoad();
    /// Hands a structure read with gemmi to the atoms, chains and network.
    void takeLibraryStructure(LibraryStructure& structure);

    std::vector<Atom*> atomList;
    int32_t atomCount = 0;
    std::vector<Vector3d> pureCoordList;
    ChainList chainList;
    int32_t chainIndex = -1;
    std::string currentChainID;
    std::vector<std::string> chainIDList;
    std::vector<std::string> residueNameList;
    std::vector<std::string> residueNumberList;
    std::unordered_set<std::string> seenChainIDs, seenResidueNames, seenResidueNumbers;
    std::unique_ptr<DataTables> dataTables;
    NetworkRecordSink* elasticNetwork = nullptr; ///< never null: a sink that drops everything without a network

    int32_t lineCounter = 0;
    bool typeMissing = true;
    bool temperatureMissing = true;
    int32_t skippedRecords = 0;
    bool cutRecordReported = false; ///< a node record cut inside its number columns was reported
    std::string loadError;
    std::chrono::steady_clock::time_point loadStart;
    double loadSeconds = 0.0;
};

/// Deletes every atom of `atoms` and empties the list.
void deleteAtoms(std::vector<Atom*>& atoms);
/// Mean of the atoms' positions (model units); the origin for none.
Vector3d centreOfAtoms(const std::vector<Atom*>& atoms);
/// Per axis, the largest (position − radius) over the atoms, plus 0.1; (0.1, 0.1, 0.1) for none.
Vector3d maxCoordOfAtoms(const std::vector<Atom*>& atoms);

} // namespace vornax
