// Residue expressions of the "Colouring" page: which nodes they colour, how many colours they
// ask for, the lines they list and the console lines they print.
#include "enm/ResidueHighlights.h"

#include "support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>

using namespace vornax;
using namespace vornax::testing;

namespace {

const Vector3d kGrey(200.0f / 255.0f, 200.0f / 255.0f, 200.0f / 255.0f);
const Vector3d kRed(1, 0, 0);
const std::string kRedText = " Colour (R, G, B): (1, 0, 0)";
const char* const kNoChain = ResidueHighlights::kChainPrompt;

/// "A12"-style labels of chain `chain`, residues `first`..`last`.
std::vector<std::string> span(char chain, int first, int last)
{
    std::vector<std::string> out;
    for (int i = first; i <= last; ++i) out.push_back(chain + std::to_string(i));
    return out;
}

std::vector<std::string> labels(char chain, std::initializer_list<int> numbers)
{
    std::vector<std::string> out;
    for (int i : numbers) out.push_back(chain + std::to_string(i));
    std::sort(out.begin(), out.end());
    return out;
}

/// A structure's network with the highlight logic; colours are answered from `answers` (red
/// when it is empty, nothing for a cancelled dialog).
struct Highlighting {
    std::unique_ptr<LoadedStructure> s;
    std::deque<std::optional<Vector3d>> answers;
    int asked = 0;
    ResidueHighlights h{[this]() -> std::optional<Vector3d> {
        ++asked;
        if (answers.empty()) return kRed;
        const std::optional<Vector3d> a = answers.front();
        answers.pop_front();
        return a;
    }};

    explicit Highlighting(std::unique_ptr<LoadedStructure> loaded) : s(std::move(loaded))
    {
        s->reader->enterResDataToELN(); // the chains, names and numbers, as a load hands them over
    }

    ElasticNetworkModel& eln() const { return *s->network; }
    std::vector<Vector3d> before; ///< the node colours before the last search

    void search(const std::string& text, const std::string& chain)
    {
        before.clear();
        for (int i = 0; i < eln().getAmountOfAtoms(); ++i) before.push_back(eln().getAtom(i)->getMyResidueColour());
        s->console.clear();
        asked = 0;
        h.performSearch(s->network.get(), text, chain);
    }
    /// Chain and residue number ("A12") of every node the last search coloured, sorted.
    std::vector<std::string> coloured() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < eln().getAmountOfAtoms(); ++i) {
            const Atom* a = eln().getAtom(i);
            if (a->getMyResidueColour() != before[static_cast<std::size_t>(i)]) out.push_back(a->getChainID() + a->getResidue());
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

std::unique_ptr<Highlighting> load(const char* name)
{
    const auto path = findPdb(name);
    if (path.empty()) return nullptr;
    return std::make_unique<Highlighting>(buildNetwork(path));
}

} // namespace

TEST(ResidueHighlights, ExpressionsOnCrambin)
{
    auto x = load("1crn.pdb");
    ASSERT_TRUE(x);
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    const auto all = sorted(span('A', 1, 46));
    const auto alaGly = labels('A', {9, 24, 27, 38, 45, 20, 31, 37, 42});
    struct Case {
        const char* text;
        std::string chain;
        int asks;                       // colour questions
        std::vector<std::string> nodes; // coloured afterwards
        std::size_t lines;              // listed
        std::string firstLine;
        const char* console; // a console line printed
    };
    const Case cases[] = {
        // The prompt (or any text longer than one character) gives no chain.
        {"*", kNoChain, 1, all, 1, "Added Entire Backbone:  Colour (R, G, B): (1, 0, 0)",
         "trying to add entire backbone"},
        {"*", "AB", 1, all, 1, "Added Entire Backbone: " + kRedText, "trying to add entire backbone"},
        {"*", "a", 1, all, 1, "Added Entire Chain: A" + kRedText, "adding a chain"},
        {"*", "Z", 0, {}, 0, "", "couldnt find chain ID.."},
        {"10-20", kNoChain, 1, sorted(span('A', 10, 20)), 11, "Added Residue Seq: 10" + kRedText,
         "multi search token: 20"},
        {"20-10", kNoChain, 1, {}, 0, "", "The String* as a float is: 20 , 10"},
        {"10-12", "A", 3, span('A', 10, 12), 3, "Added Residue Seq: 10 Chain: A" + kRedText,
         "multi residue add with chain and -"},
        // Ranges reach only as far as the structure's numbers: quick however wide.
        {"1-2000000000", kNoChain, 1, all, 46, "Added Residue Seq: 1" + kRedText, "multi search token: 46"},
        {"ala,gly", kNoChain, 1, alaGly, 2, "Added Residue: ALA" + kRedText, "multi residue add with no chain and ,"},
        {"ALA,GLY", "A", 2, alaGly, 2, "Added Residue: ALA Chain: A" + kRedText, "multi residue add with chain and ,"},
        {"5-9,12", kNoChain, 0, {}, 0, "", "multi residue add with no chain and ,"},
        {"5-9,12", "A", 0, {}, 0, "", "multi residue add with chain and ,"},
        {"12", kNoChain, 1, {"A12"}, 1, "Added Residue Seq: 12" + kRedText, "adding a seq number"},
        {"12", "A", 1, {"A12"}, 1, "Added Residue Seq: 12 Chain: A" + kRedText, "search with chain, no star"},
        {"XYZ", kNoChain, 0, {}, 0, "", "couldnt find res seq number.."},
        {"ALA", "Z", 0, {}, 0, "", "couldnt find chain ID.."},
        {"", kNoChain, 0, {}, 0, "", "no res to add"},
        {"Enter Residue ID", "A", 0, {}, 0, "", "no res to add"},
        // A range end that is no whole number colours nothing (rather than counting from 0).
        {"x-20", kNoChain, 0, {}, 0, "", "The String* is not formatted as a float."},
        {"2.5-20", kNoChain, 0, {}, 0, "", "The String* is not formatted as a float."},
        {"-20", kNoChain, 0, {}, 0, "", "The String* is 0."},
        {"1-99999999999", kNoChain, 0, {}, 0, "", "The conversion from String*-to-float overflowed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.chain);
        x->h.removeAll(&x->eln());
        const auto start = std::chrono::steady_clock::now();
        x->search(c.text, c.chain);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(x->asked, c.asks);
        EXPECT_EQ(x->coloured(), c.nodes);
        ASSERT_EQ(x->h.lines().size(), c.lines);
        if (c.lines > 0) {
            EXPECT_EQ(x->h.lines().front(), c.firstLine);
        }
        EXPECT_TRUE(x->s->console.contains(c.console));
        // What highlighted nothing says why on the page.
        EXPECT_EQ(x->h.resultText().empty(), !c.nodes.empty()) << x->h.resultText();
    }
    EXPECT_EQ(x->h.getSelectedColour(), kRed);
    EXPECT_EQ(ResidueHighlights::colourText(kGrey), " Colour (R, G, B): (0.784314, 0.784314, 0.784314)");
    EXPECT_EQ(ResidueHighlights::fromRgb8({51, 0, 255}), Vector3d(0.2f, 0.0f, 1.0f));
}

TEST(ResidueHighlights, ACancelledColourEndsTheExpressionAndPaintsNothingBlack)
{
    auto x = load("1crn.pdb");
    ASSERT_TRUE(x);
    struct Case {
        const char* text;
        const char* chain;
        int answered; // colours given before the cancel
        std::vector<std::string> nodes;
    };
    const Case cases[] = {
        {"*", kNoChain, 0, {}},
        {"ALA,GLY", kNoChain, 0, {}},
        {"ALA,GLY", "A", 1, labels('A', {9, 24, 27, 38, 45})},
        {"10-20", "A", 1, {"A10"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        x->h.removeAll(&x->eln());
        for (int i = 0; i < c.answered; ++i) x->answers.push_back(kRed);
        x->answers.push_back(std::nullopt);
        x->search(c.text, c.chain);
        EXPECT_EQ(x->asked, c.answered + 1) << "no question after the cancel";
        EXPECT_EQ(x->coloured(), c.nodes);
        EXPECT_EQ(x->h.lines().size(), static_cast<std::size_t>(c.answered));
        EXPECT_NE(x->h.resultText().find("No colour chosen"), std::string::npos);
        x->answers.clear();
    }
}

TEST(ResidueHighlights, ChainsOfHaemoglobin)
{
    auto x = load("4hhb.pdb");
    ASSERT_TRUE(x);
    // Residue 146 exists in the beta chains only: asked within chain A it is not found, and no
    // colour is asked for.
    x->search("146", "A");
    EXPECT_EQ(x->asked, 0);
    EXPECT_TRUE(x->s->console.contains("couldnt find chain ID.."));
    EXPECT_TRUE(x->h.lines().empty());
    x->search("146", "b");
    EXPECT_EQ(x->coloured(), std::vector<std::string>{"B146"});
    EXPECT_EQ(x->h.lines().back(), "Added Residue Seq: 146 Chain: B" + kRedText);

    x->h.removeAll(&x->eln());
    x->search("*", "C");
    const auto chainC = x->coloured();
    EXPECT_EQ(chainC.size(), 141u);
    EXPECT_TRUE(std::all_of(chainC.begin(), chainC.end(), [](const std::string& l) { return l[0] == 'C'; }));

    // Without a chain a number colours it in every chain.
    x->h.removeAll(&x->eln());
    x->search("141", kNoChain);
    EXPECT_EQ(x->coloured(), (std::vector<std::string>{"A141", "B141", "C141", "D141"}));
}

TEST(ResidueHighlights, NameBeforeNumberAndChainsInSmallLetters)
{
    // Node 2 is a residue named "12"; node 1 is residue number 12; node 3 sits in chain "a".
    const std::string pdb = atomLine("ATOM", 1, " CA ", "GLY", 'A', 12, 0, 0, 0) + "\n"
        + atomLine("ATOM", 2, " CA ", "12", 'A', 3, 3.8, 0, 0) + "\n"
        + atomLine("ATOM", 3, " CA ", "ALA", 'a', 4, 7.6, 0, 0) + "\nEND\n";
    Highlighting x(buildNetworkFromText(pdb));
    x.search("12", kNoChain);
    EXPECT_EQ(x.coloured(), std::vector<std::string>{"A3"});
    EXPECT_EQ(x.h.lines().back(), "Added Residue: 12" + kRedText);

    x.h.removeAll(&x.eln());
    x.search("ala", "a");
    EXPECT_EQ(x.coloured(), std::vector<std::string>{"a4"});
    EXPECT_EQ(x.h.lines().back(), "Added Residue: ALA Chain: a" + kRedText);
}
