// The PDB reader together with the elastic network it fills: the network is created with the
// reader, receives the records as they are read, and is handed to the caller afterwards.
//
//     NetworkFileHandle reader;
//     reader.openFile("TutorialFiles/1crn.pdb");
//     std::vector<Atom*> atoms = reader.getAtomList();       // caller deletes the atoms
//     ElasticNetworkModel* eln = reader.getElasticNetwork();  // caller deletes the network
#pragma once

#include "molecule/FileHandle.h"

namespace vornax {

class ElasticNetworkModel;

class NetworkFileHandle final : public FileHandle {
public:
    /// Creates the network and prepares it (init) for the load.
    NetworkFileHandle();
    /// Deletes the network unless the caller took it.
    ~NetworkFileHandle();

    /// The network filled by the load; the caller takes ownership.
    ElasticNetworkModel* getElasticNetwork();

private:
    ElasticNetworkModel* network;
    bool networkTaken = false;
};

} // namespace vornax
