// The geometry of one network: the structure as the reader hands it over (names, record lines,
// chains, residues, the unscaled backbone coordinates), one node atom per C-alpha (or phosphorus)
// record, and the springs between nodes closer than the cutoff Rc, found by the neighbour search.
#pragma once

#include "common/Vector3d.h"
#include "enm/Calibration.h"
#include "molecule/ELNBackboneData.h"
#include "molecule/NetworkRecordSink.h"

#include <array>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace vornax {

class Atom;

class NetworkGeometry final : public NetworkRecordSink {
public:
    NetworkGeometry() = default;
    ~NetworkGeometry() override;
    NetworkGeometry(const NetworkGeometry&) = delete;
    NetworkGeometry& operator=(const NetworkGeometry&) = delete;

    // ---- Filling: calls from the structure reader, in load order (NetworkRecordSink) ------
    void enterPDBName(const std::string& name) override { pdbName = name; }
    void savePdBHeaderLine(const std::string& line) override { headerLines.push_back(line); }
    void addLineInfo(const std::string& line) { pdbLines.push_back(line); }
    void addLineInfo(std::string&& line) override { pdbLines.push_back(std::move(line)); }
    /// Experiment temperature in K. A value that is not a number, not above 0 or above
    /// kMaxTemperature is replaced by 300 K, with a warning.
    void set_X_RAY_Temperature(float kelvin) override;
    static constexpr float kMaxTemperature = vornax::kMaxTemperature;
    void set_NMR_Exp(bool nmr) override { nmrExperiment = nmr; }
    /// Subtracts `centre` (model units) from every node record received so far.
    void subtractVectorFromLocalPosition(const Vector3d& centre) override;
    /// Takes the chains (emptying `chains`) and appends their records to the node list.
    void recieveChainList(ChainList& chains) override;
    /// Takes the unscaled backbone coordinates (Å), emptying `list`.
    void insertPureCoordList(std::vector<Vector3d>& list) override;
    void setTotalAmountOfAtoms(int32_t count) override { totalAmountOfAtoms = count; }
    void setResidueData(std::vector<std::string> chainIDList, std::vector<std::string> residueNameList,
                        std::vector<std::string> residueNumberList) override;

    // ---- Filling from stored record lines (eigen data files) ------------------------------
    /// Reads one stored record line into a node (C-alpha or phosphorus); other lines add nothing.
    void processLine(const std::string& line);
    /// Reads the line count, Rc (Å) and the record lines from `in` and rebuilds the nodes.
    /// Returns false (nothing changed) when the stream ends early or the counts are absurd.
    bool processAtoms(std::istream& in);
    /// Line count, Rc and the stored lines of a main eigen data file, of which at most
    /// `bytesAvailable` bytes are left. False when they do not fit in it.
    static bool readStoredLines(std::istream& in, uint64_t bytesAvailable, int32_t& lineCount, float& rc,
                                std::vector<std::string>& lines);
    /// Rebuilds the node records from stored lines.
    void processStoredLines(std::vector<std::string>&& lines, int32_t lineCount, float rc);
    /// How many of pdbLines the main eigen data file stores (the first totalAmountOfAtoms).
    std::size_t storedLineCount() const;

    // ---- Construction ---------------------------------------------------------------------
    void setRc(float rc) { Rc = rc; }
    /// The spring cutoff in Å, as set (and as the springs were built with).
    float getRc() const { return Rc; }
    /// The cutoff the springs were built with, in Å, as the neighbour search takes it.
    double getRcAngstrom() const { return Rc; }
    void calcDistances();
    /// Fixes N, 3N and 3N − 6.
    void generateRenderingBB();
    /// Creates one node atom per record (deleting those of an earlier build) and the node
    /// coordinates, and fixes the displacement limit.
    void buildLightAtomList();
    /// Links every pair of nodes closer than Rc.
    void buildConnectedList();
    /// Deletes the node atoms.
    void freeNodes();
    /// Two nodes whose spring would have no direction (a Hessian of 0/0): their coordinates as
    /// read are equal, components smaller than 1e-100 Å counting as 0. The lowest such pair of
    /// node indices, or {-1, -1}. Sorts the node records: O(N log N), before any neighbour list.
    std::array<int32_t, 2> findCoincidentNodes() const;
    /// True when every node coordinate is a finite number within ±kLargestCoordinate Å (beyond,
    /// squared spring lengths overflow and model units leave the range of a float).
    bool nodeCoordinatesUsable() const;
    static constexpr double kLargestCoordinate = 1e9;

    /// No node is ever moved farther than this many times the size of the structure (the
    /// diagonal of its nodes' bounding box, at least kSmallestExtent Å). A linear model holds
    /// for displacements of a few Å; one that carries a node across several widths of the whole
    /// structure comes from absurd numbers (a tampered eigen data file, a force far beyond any
    /// device), never from physics, and would leave the positions without finite values.
    static constexpr double kDisplacementExtents = 4.0;
    static constexpr double kSmallestExtent = 10.0;
    /// The largest displacement of a node (Å) that a step publishes or a session restores.
    double getDisplacementLimit() const { return displacementLimit; }

    // ---- Colours (window thread; read by the frame; NetworkColours.cpp) -------------------
    /// "Colour Chains": one hue per chain identifier, blue (240) towards red in order of first
    /// appearance; a single chain is all blue.
    void generateColourList();
    /// "Chainbow": each chain runs from blue at its first node towards red at its end.
    void generateColourListOverSeq();
    /// Every node gets `colour` (RGB 0..1).
    void setBBColour(const Vector3d& colour);
    /// Every node back to grey (200/255).
    void clearAllResCols();
    /// Colour (RGB 0..1) of hue `h` degrees at saturation 255 and value 200.
    static Vector3d hueColour(int h);

    // ---- Residue highlights (window thread) -----------------------------------------------
    /// Whether the chain identifier, residue name or residue sequence number (text) occurs in
    /// the loaded structure. Both sides are compared without surrounding white space; a blank
    /// name or number occurs nowhere (a blank chain may).
    bool searchChainID(const std::string& chain) const;
    bool searchResidue(const std::string& name) const;
    bool searchseqNumList(const std::string& number) const;
    /// Colour every node of chain `chain` (compared exactly), of residue name `name` or of
    /// sequence number `number` (both trimmed), the last two optionally within one chain
    /// (trimmed). Each returns the number of nodes coloured.
    int32_t addChainID(const std::string& chain, const Vector3d& colour);
    int32_t addResidue(const std::string& name, const Vector3d& colour);
    int32_t addSeqNum(const std::string& number, const Vector3d& colour);
    int32_t addResidueChain(const std::string& name, const std::string& chain, const Vector3d& colour);
    int32_t addSeqChain(const std::string& number, const std::string& chain, const Vector3d& colour);
    /// The nodes the operations above would colour, none coloured: of chain `chain` alone when
    /// `text` is null, else of the residue name (or, with `byNumber`, sequence number) `*text`
    /// within that chain.
    int32_t countHighlightNodes(const std::string& chain, const std::string* text = nullptr,
                                bool byNumber = false) const;

    // ---- Queries --------------------------------------------------------------------------
    Atom* getAtom(int32_t i) const { return atomArray[static_cast<std::size_t>(i)]; }
    const std::vector<Atom*>& getAtoms() const { return atomArray; }
    int32_t getAmountOfAtoms() const { return amountOfAtoms; }
    int32_t get3N() const { return threeN; }
    int32_t get3NMinus6() const { return threeNMinusSix; }
    /// Sets 3N for eigen data given as text before any node exists.
    void insertThreeN(int32_t n) { threeN = n; }
    Vector3d getMidPoint() const { return Vector3d(midPoint[0], midPoint[1], midPoint[2]); }
    /// Per axis, the largest node position minus its radius, plus 0.1 (model units).
    Vector3d findMaxCoord() const;
    /// Characters from offset 62 of the first stored record line (at most 66), trimmed.
    std::string getPDB_Code() const;
    const std::string& getPDBName() const { return pdbName; }
    float getTemperature() const { return temperature; }
    bool isNMR() const { return nmrExperiment; }
    int32_t getTotalAmountOfAtoms() const { return totalAmountOfAtoms; }
    const std::vector<std::string>& getPdbLines() const { return pdbLines; }
    const std::vector<std::string>& getHeaderLines() const { return headerLines; }
    const ChainList& getChainList() const { return chainList; }
    const std::vector<ELNBackboneData>& getBackboneList() const { return backboneList; }
    /// Node coordinates as read (Å, double precision), 3N, node-major; the springs' geometry.
    const std::vector<double>& getNodeCoordinates() const { return nodeCoordinates; }
    const std::vector<Vector3d>& getPureCoordList() const { return pureCoordList; }
    const std::vector<std::string>& getChainIDs() const { return chainIDs; }
    const std::vector<std::string>& getResidueNames() const { return residueNames; }
    const std::vector<std::string>& getSeqNums() const { return seqNums; }
    int32_t getAmountOfSprings() const { return amountOfSprings; }

private:
    std::string pdbName;
    std::vector<std::string> headerLines;
    std::vector<std::string> pdbLines;
    float temperature = 300.0f;
    bool nmrExperiment = false;
    int32_t totalAmountOfAtoms = 0;
    std::vector<ELNBackboneData> backboneList;
    ChainList chainList;
    std::vector<Vector3d> pureCoordList;
    std::vector<std::string> chainIDs;
    std::vector<std::string> residueNames;
    std::vector<std::string> seqNums;
    float Rc = 11.0f; ///< Å, always
    int32_t chainCounter = -1;
    std::string currentChainID;
    std::array<float, 3> midPoint{};
    std::array<double, 3> midPointSum{};
    int64_t midPointCount = 0;
    int32_t amountOfAtoms = 0;
    int32_t threeN = 0;
    int32_t threeNMinusSix = 0;
    std::vector<Atom*> atomArray;
    std::vector<double> nodeCoordinates; ///< 3N, Å as read, double precision
    double displacementLimit = 0.0;      ///< Å, set with the nodes (getDisplacementLimit)
    int32_t amountOfSprings = 0;
};

} // namespace vornax
