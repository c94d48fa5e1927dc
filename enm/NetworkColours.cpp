// The node colourings: by chain ("Colour Chains"), along each chain ("Chainbow"), one colour
// for all, back to grey, and the highlights of single residues, sequence numbers and chains.
// They write the node atoms' residue colours, which the next frame draws.
#include "common/Console.h"
#include "common/TextParse.h"
#include "enm/NetworkGeometry.h"
#include "molecule/Atom.h"

#include <algorithm>

namespace vornax {

namespace {

bool sameTrimmed(std::string_view a, std::string_view b) { return text::trim(a) == text::trim(b); }

/// Whether `list` holds `value`, both trimmed. Blank text is held only where `blank` allows it
/// (a chain may be blank, a residue name or number not).
bool listHolds(const std::vector<std::string>& list, const std::string& value, bool blank = false)
{
    const std::string_view wanted = text::trim(value);
    if (wanted.empty() && !blank) return false;
    return std::any_of(list.begin(), list.end(), [&](const std::string& v) { return text::trim(v) == wanted; });
}

/// Which nodes a highlight takes: a residue name or sequence number, within one chain or in all.
struct HighlightMatch {
    const std::string* chain = nullptr; ///< whole chain: compared exactly
    const std::string* text = nullptr;  ///< name or number, trimmed
    bool byNumber = false;
    const std::string* inChain = nullptr; ///< restricting chain, trimmed

    bool takes(const Atom& a) const
    {
        if (chain && a.getChainID() != *chain) return false;
        if (text && !sameTrimmed(byNumber ? a.getResidue() : a.getResidueName(), *text)) return false;
        if (inChain && !sameTrimmed(a.getChainID(), *inChain)) return false;
        return true;
    }
};

/// Colours (with `colour`) or counts (without) the nodes `match` takes.
int32_t paintNodes(const std::vector<Atom*>& atoms, const HighlightMatch& match, const Vector3d* colour)
{
    int32_t n = 0;
    for (Atom* a : atoms) {
        if (!match.takes(*a)) continue;
        if (colour) a->setMyColour(*colour);
        ++n;
    }
    return n;
}

} // namespace

Vector3d NetworkGeometry::hueColour(int h)
{
    int r = 0, g = 0, b = 0;
    HSVtoRGB(r, g, b, h, 255, 200);
    return Vector3d(r / 255.0f, g / 255.0f, b / 255.0f);
}

void NetworkGeometry::generateColourList()
{
    const auto n = static_cast<int>(getChainIDs().size());
    if (n <= 1) {
        setBBColour(hueColour(240));
        return;
    }
    const int step = 240 / n;
    int hue = 240;
    for (const std::string& id : getChainIDs()) {
        const Vector3d colour = hueColour(hue);
        for (Atom* a : getAtoms())
            if (a->getChainID() == id) a->setMyColour(colour);
        hue -= step;
    }
}

void NetworkGeometry::generateColourListOverSeq()
{
    const auto n = static_cast<int>(getChainIDs().size());
    if (getAtoms().empty()) return;
    // 240 over the mean chain length. Without chain identifiers the nodes form one chain.
    const double chains = n > 0 ? n : 1;
    const double step = 240.0 / (static_cast<double>(getAtoms().size()) / chains);
    auto paint = [&](const std::string* id) {
        double hue = 240.0;
        for (Atom* a : getAtoms()) {
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
    for (const std::string& id : getChainIDs()) paint(&id);
}

void NetworkGeometry::setBBColour(const Vector3d& colour)
{
    for (Atom* a : getAtoms()) a->setMyColour(colour);
}

void NetworkGeometry::clearAllResCols() { setBBColour(kPlainNodeColour); }

bool NetworkGeometry::searchChainID(const std::string& chain) const { return listHolds(getChainIDs(), chain, true); }

bool NetworkGeometry::searchResidue(const std::string& name) const { return listHolds(getResidueNames(), name); }

bool NetworkGeometry::searchseqNumList(const std::string& number) const { return listHolds(getSeqNums(), number); }

int32_t NetworkGeometry::addChainID(const std::string& chain, const Vector3d& colour)
{
    return paintNodes(getAtoms(), HighlightMatch{&chain}, &colour);
}

int32_t NetworkGeometry::addResidue(const std::string& name, const Vector3d& colour)
{
    return paintNodes(getAtoms(), HighlightMatch{nullptr, &name, false}, &colour);
}

int32_t NetworkGeometry::addSeqNum(const std::string& number, const Vector3d& colour)
{
    return paintNodes(getAtoms(), HighlightMatch{nullptr, &number, true}, &colour);
}

int32_t NetworkGeometry::addResidueChain(const std::string& name, const std::string& chain, const Vector3d& colour)
{
    return paintNodes(getAtoms(), HighlightMatch{nullptr, &name, false, &chain}, &colour);
}

int32_t NetworkGeometry::addSeqChain(const std::string& number, const std::string& chain, const Vector3d& colour)
{
    return paintNodes(getAtoms(), HighlightMatch{nullptr, &number, true, &chain}, &colour);
}

int32_t NetworkGeometry::countHighlightNodes(const std::string& chain, const std::string* text, bool byNumber) const
{
    if (!text) return paintNodes(getAtoms(), HighlightMatch{&chain}, nullptr);
    return paintNodes(getAtoms(), HighlightMatch{nullptr, text, byNumber, &chain}, nullptr);
}

} // namespace vornax
