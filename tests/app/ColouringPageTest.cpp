// The "Colouring" page on the offscreen platform: its buttons and check boxes on a network, the
// colour dialog answered with canned colours.
#include "ColouringPage.h"

#include "molecule/Atom.h"
#include "support/TestData.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

using namespace vornax;
using namespace vornax::testing;

namespace {

std::vector<Vector3d> nodeColours(const ElasticNetworkModel& eln)
{
    std::vector<Vector3d> out;
    for (int i = 0; i < eln.getAmountOfAtoms(); ++i) out.push_back(eln.getAtom(i)->getMyResidueColour());
    return out;
}

/// The colours `colouring` gives the network, applied afresh.
std::vector<Vector3d> coloursOf(ElasticNetworkModel& eln, void (ElasticNetworkModel::*colouring)())
{
    (eln.*colouring)();
    return nodeColours(eln);
}

} // namespace

TEST(ColouringPage, ButtonsReachTheNetworkAndTheList)
{
    const auto path = findPdb("4hhb.pdb");
    ASSERT_FALSE(path.empty());
    auto s = buildNetwork(path);
    s->reader->enterResDataToELN();
    ElasticNetworkModel& eln = *s->network;
    ScriptedPrompts prompts;
    ScopedUserPrompts installed(&prompts);
    QWidget widget;
    ColouringPage page(widget, [&] { return &eln; });
    const std::vector<Vector3d> grey(static_cast<std::size_t>(eln.getAmountOfAtoms()),
                                     Vector3d(200 / 255.0f, 200 / 255.0f, 200 / 255.0f));
    EXPECT_EQ(page.residueBox->text(), "Enter Residue ID");
    EXPECT_EQ(page.chainBox->text(), "Enter Chain ID");

    // "*" with the chain box at its prompt: every node in the dialog's colour (8 bits / 255).
    prompts.queueColour(Rgb8{51, 102, 255});
    page.residueBox->setText("*");
    page.performSearch->click();
    EXPECT_EQ(prompts.colourPrompts().size(), 1u);
    EXPECT_EQ(nodeColours(eln), std::vector<Vector3d>(grey.size(), Vector3d(0.2f, 0.4f, 1.0f)));
    EXPECT_EQ(page.highlightedResidues->toPlainText(), "Added Entire Backbone:  Colour (R, G, B): (0.2, 0.4, 1)");
    EXPECT_EQ(page.residueBox->text(), "Enter Residue ID"); // both boxes back to their prompts
    EXPECT_EQ(page.chainBox->text(), "Enter Chain ID");

    // Lines add up; what is not found is said on the results line.
    page.removeAll->click();
    prompts.queueColour(Rgb8{255, 0, 0});
    page.residueBox->setText("146");
    page.chainBox->setText("b");
    page.performSearch->click();
    page.residueBox->setText("XYZ");
    page.performSearch->click();
    EXPECT_EQ(page.highlightedResidues->toPlainText(), "Added Residue Seq: 146 Chain: B Colour (R, G, B): (1, 0, 0)");
    EXPECT_EQ(page.resultsLine->text(), "No residue or sequence number XYZ in the structure.");

    // "Remove Residue" empties the list only; "Remove All" also greys the nodes.
    const std::vector<Vector3d> highlighted = nodeColours(eln);
    ASSERT_NE(highlighted, grey);
    page.removeRes->click();
    EXPECT_TRUE(page.highlightedResidues->toPlainText().isEmpty());
    EXPECT_TRUE(page.resultsLine->text().isEmpty());
    EXPECT_EQ(nodeColours(eln), highlighted);
    page.residueBox->setText("ALA");
    page.removeAll->click();
    EXPECT_EQ(page.residueBox->text(), "Enter Residue ID");
    EXPECT_EQ(nodeColours(eln), grey);

    // The two chain colourings exclude each other; unticking clears as "Remove All" does.
    page.colourChains->setChecked(true);
    EXPECT_EQ(page.highlightedResidues->toPlainText(), "Coloured all Chains");
    const std::vector<Vector3d> chains = nodeColours(eln);
    EXPECT_EQ(chains, coloursOf(eln, &ElasticNetworkModel::generateColourList));
    page.chainbow->setChecked(true);
    EXPECT_FALSE(page.colourChains->isChecked());
    EXPECT_EQ(page.highlightedResidues->toPlainText(), "Chainbow Activated");
    const std::vector<Vector3d> rainbow = nodeColours(eln);
    EXPECT_NE(rainbow, chains);
    EXPECT_EQ(rainbow, coloursOf(eln, &ElasticNetworkModel::generateColourListOverSeq));
    page.chainbow->setChecked(false);
    EXPECT_TRUE(page.highlightedResidues->toPlainText().isEmpty());
    EXPECT_EQ(nodeColours(eln), grey);
}
