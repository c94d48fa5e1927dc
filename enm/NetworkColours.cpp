// The node colourings: by chain ("Colour Chains"), along each chain ("Chainbow"), one colour
// for all, and back to grey. They write the node atoms' residue colours, which the next frame
// draws.
#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "molecule/Atom.h"

namespace vornax {

Vector3d ElasticNetworkModel::hueColour(int h)
{
    int r = 0, g = 0, b = 0;
    HSVtoRGB(r, g, b, h, 255, 200);
    return Vector3d(r / 255.0f, g / 255.0f, b / 255.0f);
}

void ElasticNetworkModel::generateColourList()
{
    const auto n = static_cast<int>(chainIDs.size());
    if (n <= 1) {
        setBBColour(hueColour(240));
        return;
    }
    const int step = 240 / n;
    int hue = 240;
    for (const std::string& id : chainIDs) {
        const Vector3d colour = hueColour(hue);
        for (Atom* a : atomArray)
            if (a->getChainID() == id) a->setMyColour(colour);
        hue -= step;
    }
}

void ElasticNetworkModel::generateColourListOverSeq()
{
    const auto n = static_cast<int>(chainIDs.size());
    if (atomArray.empty()) return;
    // 240 over the mean chain length. Without chain identifiers the nodes form one chain.
    const double chains = n > 0 ? n : 1;
    const double step = 240.0 / (static_cast<double>(atomArray.size()) / chains);
    auto paint = [&](const std::string* id) {
        double hue = 240.0;
        for (Atom* a : atomArray) {
            if (id && a->getChainID() != *id) continue;
            // A chain longer than the mean runs on below hue 0 into the conversion's other
            // branches; the hue is kept within one turn so that the conversion stays defined.
            int h = static_cast<int>(hue) % 360;
            if (h < 0) h += 360;
            a->setMyColour(hueColour(h));
            hue -= step;
        }
    };
    if (n == 0) {
        paint(nullptr);
        return;
    }
    for (const std::string& id : chainIDs) paint(&id);
}

void ElasticNetworkModel::setBBColour(const Vector3d& colour)
{
    for (Atom* a : atomArray) a->setMyColour(colour);
}

void ElasticNetworkModel::clearAllResCols()
{
    setBBColour(Vector3d(200.0f / 255.0f, 200.0f / 255.0f, 200.0f / 255.0f));
}

} // namespace vornax
