// What the PDB reader hands to the elastic network while it reads a structure. The network
// implements it; the reader knows nothing else of the network. Calls come in load order:
// enterPDBName, savePdBHeaderLine and addLineInfo per line as read, set_X_RAY_Temperature and
// set_NMR_Exp from the experimental details, then subtractVectorFromLocalPosition,
// recieveChainList, insertPureCoordList and setTotalAmountOfAtoms once the file is read.
#pragma once

#include "common/Vector3d.h"
#include "molecule/ELNBackboneData.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornax {

class NetworkRecordSink {
public:
    virtual ~NetworkRecordSink() = default;

    virtual void enterPDBName(const std::string& name) = 0;
    virtual void savePdBHeaderLine(const std::string& line) = 0;
    /// One record line (the header line, ATOM/HETATM, TER), in file order.
    virtual void addLineInfo(std::string&& line) = 0;
    /// Experiment temperature in K.
    virtual void set_X_RAY_Temperature(float kelvin) = 0;
    virtual void set_NMR_Exp(bool nmr) = 0;
    /// Subtracts `centre` (model units) from every node record received so far.
    virtual void subtractVectorFromLocalPosition(const Vector3d& centre) = 0;
    /// Takes the chains, emptying `chains`.
    virtual void recieveChainList(ChainList& chains) = 0;
    /// Takes the unscaled backbone coordinates (Å), emptying `list`.
    virtual void insertPureCoordList(std::vector<Vector3d>& list) = 0;
    /// Number of record lines handed over with addLineInfo.
    virtual void setTotalAmountOfAtoms(int32_t count) = 0;
    /// Distinct chain IDs, residue names and residue numbers of the backbone atoms.
    virtual void setResidueData(std::vector<std::string> chainIDList, std::vector<std::string> residueNameList,
                                std::vector<std::string> residueNumberList) = 0;

protected:
    NetworkRecordSink() = default;
    NetworkRecordSink(const NetworkRecordSink&) = default;
    NetworkRecordSink& operator=(const NetworkRecordSink&) = default;
};

} // namespace vornax
