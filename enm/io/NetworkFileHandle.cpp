#include "enm/io/NetworkFileHandle.h"

#include "enm/ElasticNetworkModel.h"

namespace vornax {

NetworkFileHandle::NetworkFileHandle() : network(new ElasticNetworkModel())
{
    network->init();
    setNetwork(network);
}

NetworkFileHandle::~NetworkFileHandle()
{
    // The caller owns the network once it asked for it; a network nobody took is freed here.
    if (!networkTaken) delete network;
}

ElasticNetworkModel* NetworkFileHandle::getElasticNetwork()
{
    networkTaken = true;
    return network;
}

} // namespace vornax
