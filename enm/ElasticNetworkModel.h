// The elastic network of one loaded structure: one node per C-alpha (or phosphorus) atom,
// springs between nodes closer than the cutoff Rc, and everything computed from it.
//
// A load fills the object through the reader calls (enterPDBName, addLineInfo,
// recieveChainList, …); construction of nodes and springs, the normal modes and the force
// response work on the same object.
#pragma once

#include "common/Vector3d.h"
#include "molecule/ELNBackboneData.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vornax {

class Atom;

class ElasticNetworkModel {
public:
    ElasticNetworkModel() = default;
    ~ElasticNetworkModel();
    ElasticNetworkModel(const ElasticNetworkModel&) = delete;
    ElasticNetworkModel& operator=(const ElasticNetworkModel&) = delete;

    /// Prepares the object's drawing resources (made by the view once a GL context exists).
    void init();

    // Calls from the structure reader, in load order.
    void enterPDBName(const std::string& name) { pdbName = name; }
    void savePdBHeaderLine(const std::string& line) { headerLines.push_back(line); }
    void addLineInfo(const std::string& line) { pdbLines.push_back(line); }
    void addLineInfo(std::string&& line) { pdbLines.push_back(std::move(line)); }
    /// Experiment temperature in K.
    void set_X_RAY_Temperature(float kelvin) { temperature = kelvin; }
    void set_NMR_Exp(bool nmr) { nmrExperiment = nmr; }
    /// Subtracts `centre` (model units) from every node record received so far.
    void subtractVectorFromLocalPosition(const Vector3d& centre);
    /// Takes the chains (emptying `chains`) and appends their records to the node list.
    void recieveChainList(ChainList& chains);
    /// Takes the unscaled backbone coordinates (Å), emptying `list`.
    void insertPureCoordList(std::vector<Vector3d>& list);
    void setTotalAmountOfAtoms(int32_t count) { totalAmountOfAtoms = count; }
    void setResidueData(std::vector<std::string> chainIDList, std::vector<std::string> residueNameList,
                        std::vector<std::string> residueNumberList);

    // Queries.
    const std::string& getPDBName() const { return pdbName; }
    /// Characters from offset 62 of the first stored record line (at most 66), trimmed.
    std::string getPDB_Code() const;
    float getTemperature() const { return temperature; }
    bool isNMR() const { return nmrExperiment; }
    int32_t getTotalAmountOfAtoms() const { return totalAmountOfAtoms; }
    const std::vector<std::string>& getPdbLines() const { return pdbLines; }
    const std::vector<std::string>& getHeaderLines() const { return headerLines; }
    const ChainList& getChainList() const { return chainList; }
    const std::vector<ELNBackboneData>& getBackboneList() const { return backboneList; }
    const std::vector<Vector3d>& getPureCoordList() const { return pureCoordList; }
    const std::vector<std::string>& getChainIDs() const { return chainIDs; }
    const std::vector<std::string>& getResidueNames() const { return residueNames; }
    const std::vector<std::string>& getSeqNums() const { return seqNums; }
    float getRc() const { return Rc; }
    void setRc(float rc) { Rc = rc; }

private:
    std::string pdbName;
    std::vector<ELNBackboneData> backboneList;
    ChainList chainList;
    std::string mainFileName;
    std::string yFileName;
    bool readingStandardData = false;
    float Rc = 11.0f;
    int32_t amountOfAtoms = 0;
    bool eigenComputed = false;
    int32_t chainCounter = -1;
    std::array<float, 3> midPoint{};
    std::string currentChainID;
    float currentZoom = 1.0f;
    std::array<int32_t, 20> modeArray{};
    int32_t amountSelected = -1;
    int32_t modeSelectState = 0;
    int32_t totalAmountOfAtoms = 0;
    int32_t modesAllowedByMemory = 0;
    int32_t loadResult = 0;
    bool yMatrixAvailable = false;
    std::vector<std::string> chainIDs;
    std::vector<std::string> residueNames;
    std::vector<std::string> seqNums;
    bool elNemoInput = false;
    int32_t totalMaxModes = 0;
    bool nmrExperiment = false;
    int32_t selectedCoordinate = 0;
    double newtonToKcal = 1.4396e10;
    std::vector<int32_t> elNemoModes;
    bool setupCompleteFlag = false;
    std::vector<std::string> pdbLines;
    std::vector<std::string> headerLines;
    bool forceRender = true;
    bool renderingSpheres = true;
    std::vector<Vector3d> pureCoordList;
    bool useAllModesFlag = true;
    bool receivingModes = false;
    int32_t threeN = 0;
    int32_t threeNMinusSix = 0;
    float temperature = 300.0f;
    double springConstant = 1.0;
    int32_t amountOfSprings = 0;
    bool modesReady = false;
};

} // namespace vornax
