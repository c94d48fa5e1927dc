// The logic of the "Colouring" page: a residue expression typed by the user, with an optional
// one-letter chain, picks network nodes by residue name, sequence number, number range or whole
// chain and colours them; every highlight becomes one line of the page's list.
//
//     ResidueHighlights highlights([] { return askHighlightColour(); });
//     highlights.performSearch(network, "10-20", "Enter Chain ID"); // residues 10 to 20, one colour
//     highlights.lines();      // "Added Residue Seq: 10 Colour (R, G, B): (1, 0, 0)", ...
//     highlights.resultText(); // what could not be done, for the user
//
// Expressions: "*" (the whole backbone, or with a chain the whole chain), one residue name or
// number ("ALA", "12"), a list of them ("ALA,GLY,12") or a range of numbers ("10-20"); a list
// holding a range is refused. The text and the chain are taken in capitals (a chain named in
// small letters is also found as typed). Without a chain a list or a range takes one colour;
// with a chain each residue found asks for its own. A cancelled colour question ends the
// expression: what was highlighted before it stays.
#pragma once

#include "common/UserPrompts.h"
#include "common/Vector3d.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vornax {

class ElasticNetworkModel;

class ResidueHighlights {
public:
    /// The colour of the next highlight (RGB 0..1), or nothing when the user cancelled.
    using ColourQuestion = std::function<std::optional<Vector3d>()>;

    /// The resting texts of the residue and chain boxes.
    static constexpr const char* kResiduePrompt = "Enter Residue ID";
    static constexpr const char* kChainPrompt = "Enter Chain ID";

    explicit ResidueHighlights(ColourQuestion askColour);

    /// "Add Residue" with the texts of the residue and chain boxes. A chain is given when the
    /// chain text is exactly one character. `network` may be null: nothing is found then.
    void performSearch(ElasticNetworkModel* network, const std::string& residueText, const std::string& chainText);
    /// "Remove All": the list and the results cleared, every node back to grey.
    void removeAll(ElasticNetworkModel* network);
    /// "Remove Residue": the list and the results cleared; the colours stay.
    void removeResidues();
    /// "Colour Chains" and "Chainbow": the whole-molecule colouring, the list replaced by its name.
    void colourChains(ElasticNetworkModel* network);
    void chainbow(ElasticNetworkModel* network);

    /// The "Highlighted Residues" list, one entry a line.
    const std::vector<std::string>& lines() const { return m_lines; }
    /// Why the last expression (or part of it) highlighted nothing; empty when all went well.
    const std::string& resultText() const { return m_result; }
    /// The colour kept for a list or a range without a chain.
    Vector3d getSelectedColour() const { return m_selectedColour; }

    /// " Colour (R, G, B): (r, g, b)", as the list writes a colour.
    static std::string colourText(const Vector3d& colour);
    /// A colour of the dialog (8-bit channels) as floats 0..1.
    static Vector3d fromRgb8(const Rgb8& colour);

private:
    struct Search;

    void wholeChain(Search& s);
    void wholeBackbone(Search& s);
    /// One residue name or number in every chain, with `colour` or (null) a colour asked for.
    bool singleSearch(Search& s, const std::string& piece, const Vector3d* colour);
    /// One residue name or number within the search's chain; asks for the colour.
    bool singleSearchWithChain(Search& s, const std::string& piece);
    void listSearch(Search& s, const std::string& text);
    void rangeSearch(Search& s, const std::string& text);
    std::optional<Vector3d> ask(Search& s);
    void report(const std::string& text);

    ColourQuestion m_askColour;
    std::vector<std::string> m_lines;
    std::string m_result;
    Vector3d m_selectedColour;
};

} // namespace vornax
