#include "enm/ElasticNetworkModel.h"

#include "common/Console.h"
#include "common/TextParse.h"

namespace vornax {

ElasticNetworkModel::~ElasticNetworkModel() { console::line("deleting elastic network object"); }

void ElasticNetworkModel::init() {}

void ElasticNetworkModel::subtractVectorFromLocalPosition(const Vector3d& centre)
{
    for (auto& record : backboneList) record.position -= centre;
}

void ElasticNetworkModel::recieveChainList(ChainList& chains)
{
    chainList = std::move(chains);
    chains.clear();
    std::size_t total = backboneList.size();
    for (const auto& chain : chainList) total += chain.size();
    backboneList.reserve(total);
    for (const auto& chain : chainList)
        backboneList.insert(backboneList.end(), chain.begin(), chain.end());
}

void ElasticNetworkModel::insertPureCoordList(std::vector<Vector3d>& list)
{
    pureCoordList = std::move(list);
    list.clear();
}

void ElasticNetworkModel::setResidueData(std::vector<std::string> chainIDList,
                                         std::vector<std::string> residueNameList,
                                         std::vector<std::string> residueNumberList)
{
    chainIDs = std::move(chainIDList);
    residueNames = std::move(residueNameList);
    seqNums = std::move(residueNumberList);
}

std::string ElasticNetworkModel::getPDB_Code() const
{
    if (pdbLines.empty() || pdbLines.front().size() <= 62) return {};
    return text::trimmed(std::string_view(pdbLines.front()).substr(62, 66));
}

} // namespace vornax
