#include "enm/ResidueHighlights.h"

#include "common/Console.h"
#include "common/TextParse.h"
#include "enm/ElasticNetworkModel.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <sstream>
#include <utility>

namespace vornax {

namespace {

const char* const kNoColour = "No colour chosen: nothing more was highlighted.";

std::string upperCase(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

/// Characters (UTF-8 sequences) in `s`.
std::size_t characterCount(const std::string& s)
{
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::vector<std::string> split(const std::string& s, char delimiter)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t at; (at = s.find(delimiter, start)) != std::string::npos; start = at + 1)
        pieces.push_back(s.substr(start, at - start));
    pieces.push_back(s.substr(start));
    return pieces;
}

/// A whole number as a text box holds it: white space around it and a leading '+' allowed.
text::NumberError readWholeNumber(std::string_view s, int32_t& out)
{
    s = text::trim(s);
    if (s.empty()) return text::NumberError::Empty;
    if (s.front() == '+') s.remove_prefix(1);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error == std::errc::result_out_of_range) return text::NumberError::Overflow;
    if (error != std::errc() || end != s.data() + s.size()) return text::NumberError::Format;
    out = value;
    return text::NumberError::None;
}

/// The smallest and largest whole numbers among the structure's sequence numbers and residue
/// names: no number outside them can match. Empty (lo > hi) when there are none.
std::pair<int64_t, int64_t> numberSpan(const ElasticNetworkModel* network)
{
    int64_t lo = std::numeric_limits<int64_t>::max(), hi = std::numeric_limits<int64_t>::min();
    if (!network) return {lo, hi};
    for (const auto* list : {&network->geometry().getSeqNums(), &network->geometry().getResidueNames()})
        for (const std::string& t : *list) {
            int32_t n = 0;
            if (readWholeNumber(t, n) != text::NumberError::None) continue;
            lo = std::min<int64_t>(lo, n);
            hi = std::max<int64_t>(hi, n);
        }
    return {lo, hi};
}

} // namespace

/// One "Add Residue": the network, the chain (when one is given) and whether the user cancelled.
struct ResidueHighlights::Search {
    ElasticNetworkModel* network = nullptr;
    std::string chain;
    bool chainGiven = false;
    bool cancelled = false;
};

ResidueHighlights::ResidueHighlights(ColourQuestion askColour) : m_askColour(std::move(askColour)) {}

std::string ResidueHighlights::colourText(const Vector3d& c)
{
    std::ostringstream out;
    out << " Colour (R, G, B): (" << c.x << ", " << c.y << ", " << c.z << ")";
    return out.str();
}

Vector3d ResidueHighlights::fromRgb8(const Rgb8& c)
{
    return Vector3d(static_cast<float>(c.red) / 255.0f, static_cast<float>(c.green) / 255.0f,
                    static_cast<float>(c.blue) / 255.0f);
}

void ResidueHighlights::report(const std::string& text)
{
    if (!m_result.empty()) m_result += "\n";
    m_result += text;
}

std::optional<Vector3d> ResidueHighlights::ask(Search& s)
{
    std::optional<Vector3d> colour = m_askColour ? m_askColour() : std::nullopt;
    if (!colour) {
        // Cancelled: the rest of the expression is dropped rather than painted black.
        s.cancelled = true;
        console::line("no colour chosen: nothing more is highlighted");
        report(kNoColour);
    }
    return colour;
}

void ResidueHighlights::performSearch(ElasticNetworkModel* network, const std::string& residueText,
                                      const std::string& chainText)
{
    m_result.clear();
    const std::string text = upperCase(residueText);
    Search s;
    s.network = network;
    s.chainGiven = characterCount(chainText) == 1;
    if (s.chainGiven) {
        // Taken in capitals, unless the structure names a chain in small letters as typed.
        s.chain = network && network->searchChainID(chainText) ? chainText : upperCase(chainText);
    }

    if (text::trim(text).empty() || residueText == kResiduePrompt) {
        console::line("no res to add");
        report("Type a residue name or number, a range (10-20), a list (ALA,GLY) or * first.");
        return;
    }
    const bool dash = text.find('-') != std::string::npos;
    const bool comma = text.find(',') != std::string::npos;
    if (text == "*" && s.chainGiven) {
        console::line("trying to add entire chain");
        wholeChain(s);
    } else if (text == "*") {
        console::line("trying to add entire backbone");
        wholeBackbone(s);
    } else if (!dash && !comma && !s.chainGiven) {
        console::line("single residue search no chain, no star");
        singleSearch(s, text, nullptr);
    } else if (!dash && !comma) {
        console::line("single residue search with chain, no star");
        singleSearchWithChain(s, text);
    } else if (comma) {
        console::line(s.chainGiven ? "multi residue add with chain and ," : "multi residue add with no chain and ,");
        if (dash)
            report("A list (,) cannot hold a range (-): nothing was highlighted.");
        else
            listSearch(s, text);
    } else {
        console::line(s.chainGiven ? "multi residue add with chain and -" : "multi residue add no chain with -");
        rangeSearch(s, text);
    }
}

void ResidueHighlights::wholeChain(Search& s)
{
    if (!s.network || !s.network->searchChainID(s.chain) || s.network->geometry().countHighlightNodes(s.chain) == 0) {
        console::line("couldnt find chain ID..");
        report("No chain " + s.chain + " in the structure.");
        return;
    }
    console::line("adding a chain");
    const std::optional<Vector3d> colour = ask(s);
    if (!colour) return;
    s.network->addChainID(s.chain, *colour);
    m_lines.push_back("Added Entire Chain: " + s.chain + colourText(*colour));
}

void ResidueHighlights::wholeBackbone(Search& s)
{
    if (!s.network || s.network->getAmountOfAtoms() == 0) {
        report("No structure is loaded: nothing was highlighted.");
        return;
    }
    const std::optional<Vector3d> colour = ask(s);
    if (!colour) return;
    s.network->setBBColour(*colour);
    m_lines.push_back("Added Entire Backbone: " + colourText(*colour));
}

bool ResidueHighlights::singleSearch(Search& s, const std::string& piece, const Vector3d* colour)
{
    console::line("searching residue");
    const bool byName = s.network && s.network->searchResidue(piece);
    if (!byName && !(s.network && s.network->searchseqNumList(piece))) {
        console::line("couldnt find res seq number..");
        report("No residue or sequence number " + text::trimmed(piece) + " in the structure.");
        return false;
    }
    console::line(byName ? "adding a residue name" : "adding a seq number");
    std::optional<Vector3d> asked;
    if (!colour) {
        asked = ask(s);
        if (!asked) return false;
        colour = &*asked;
    }
    if (byName) {
        s.network->addResidue(piece, *colour);
        m_lines.push_back("Added Residue: " + piece + colourText(*colour));
    } else {
        s.network->addSeqNum(piece, *colour);
        m_lines.push_back("Added Residue Seq: " + piece + colourText(*colour));
    }
    return true;
}

bool ResidueHighlights::singleSearchWithChain(Search& s, const std::string& piece)
{
    console::line("searching residue");
    ElasticNetworkModel* eln = s.network;
    const bool chain = eln && eln->searchChainID(s.chain);
    // Found only where the chain holds it: a name or number of another chain colours nothing.
    const bool byName = chain && eln->searchResidue(piece) && eln->geometry().countHighlightNodes(s.chain, &piece, false) > 0;
    const bool byNumber =
        !byName && chain && eln->searchseqNumList(piece) && eln->geometry().countHighlightNodes(s.chain, &piece, true) > 0;
    if (!byName && !byNumber) {
        console::line("couldnt find chain ID..");
        report(chain ? "No residue or sequence number " + text::trimmed(piece) + " in chain " + s.chain + "."
                     : "No chain " + s.chain + " in the structure.");
        return false;
    }
    console::line(byName ? "adding a residue name" : "adding a chain");
    const std::optional<Vector3d> colour = ask(s);
    if (!colour) return false;
    if (byName) {
        eln->addResidueChain(piece, s.chain, *colour);
        m_lines.push_back("Added Residue: " + piece + " Chain: " + s.chain + colourText(*colour));
    } else {
        eln->addSeqChain(piece, s.chain, *colour);
        m_lines.push_back("Added Residue Seq: " + piece + " Chain: " + s.chain + colourText(*colour));
    }
    return true;
}

void ResidueHighlights::listSearch(Search& s, const std::string& text)
{
    const std::vector<std::string> pieces = split(text, ',');
    if (s.chainGiven) {
        for (const std::string& piece : pieces) {
            singleSearchWithChain(s, piece);
            if (s.cancelled) return;
        }
        return;
    }
    const std::optional<Vector3d> colour = ask(s);
    if (!colour) return;
    m_selectedColour = *colour;
    for (const std::string& piece : pieces) singleSearch(s, piece, &m_selectedColour);
}

void ResidueHighlights::rangeSearch(Search& s, const std::string& text)
{
    const std::vector<std::string> pieces = split(text, '-');
    if (pieces.size() < 2) return;
    int32_t ends[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const text::NumberError error = readWholeNumber(pieces[static_cast<std::size_t>(i)], ends[i]);
        if (error == text::NumberError::None) continue;
        console::line(text::numberErrorMessage(error));
        // A range with an end that is no number would otherwise run from 0: nothing is done.
        report(error == text::NumberError::Empty
                   ? "The range " + text::trimmed(text) + " needs a number at each end: nothing was highlighted."
                   : "The range end \"" + text::trimmed(pieces[static_cast<std::size_t>(i)])
                       + "\" is not a whole number: nothing was highlighted.");
        return;
    }
    const int32_t first = ends[0], last = ends[1];
    console::Line() << "The String* as a float is: " << first << " , " << last;
    if (!s.chainGiven) {
        const std::optional<Vector3d> colour = ask(s);
        if (!colour) return;
        m_selectedColour = *colour;
    }
    if (first > last) {
        report("The range " + std::to_string(first) + "-" + std::to_string(last)
               + " runs backwards: nothing was highlighted.");
        return;
    }
    // Only the numbers the structure can hold are tried: a range such as 1-2000000000 stays quick.
    const auto [lo, hi] = numberSpan(s.network);
    const std::string result = m_result;
    int found = 0;
    for (int64_t i = std::max<int64_t>(first, lo); i <= std::min<int64_t>(last, hi) && !s.cancelled; ++i) {
        const std::string number = std::to_string(i);
        console::Line() << "multi search token: " << number;
        found += (s.chainGiven ? singleSearchWithChain(s, number) : singleSearch(s, number, &m_selectedColour)) ? 1 : 0;
    }
    // One line for the range rather than one per number missing from it.
    m_result = result;
    if (s.cancelled)
        report(kNoColour);
    else if (found == 0)
        report("No residue numbered " + std::to_string(first) + " to " + std::to_string(last)
               + (s.chainGiven ? " in chain " + s.chain : std::string(" in the structure")) + ".");
}

void ResidueHighlights::removeAll(ElasticNetworkModel* network)
{
    removeResidues();
    if (network) network->clearAllResCols();
}

void ResidueHighlights::removeResidues()
{
    m_result.clear();
    m_lines.clear();
}

void ResidueHighlights::colourChains(ElasticNetworkModel* network)
{
    if (network) network->generateColourList();
    m_lines.assign(1, "Coloured all Chains");
}

void ResidueHighlights::chainbow(ElasticNetworkModel* network)
{
    if (network) network->generateColourListOverSeq();
    m_lines.assign(1, "Chainbow Activated");
}

} // namespace vornax
