// The "Colouring" page of the main window: the residue and chain boxes, "Add Residue",
// "Remove Residue", "Remove All", "Colour Chains", "Chainbow", a results line and the
// "Highlighted Residues" list, working on the network on the view through ResidueHighlights;
// and the "Colour by" choice of a colour map (NodeMaps.h), which the highlights stay on top of.
//
//     new ColouringPage(*controls.viewingTab, [this] { return networkOnView(); }, &colouring, window);
//
// The colour dialog is the user prompts' (Qt's colour dialog in the program, canned answers in
// tests). The controls carry form names (objectName) for the tests to find them.
#pragma once

#include "enm/NodeMaps.h"
#include "enm/ResidueHighlights.h"

#include <QObject>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace vornax {

class ElasticNetworkModel;

class ColouringPage final : public QObject {
    Q_OBJECT
public:
    /// The network on the view, or null before one is there.
    using NetworkSource = std::function<ElasticNetworkModel*()>;

    /// Builds the controls on `page` (which must have no layout yet). `colouring` (not owned, may
    /// be null: no "Colour by") is the view's colour map.
    ColouringPage(QWidget& page, NetworkSource network, NodeColouring* colouring = nullptr, QObject* parent = nullptr);

    /// "Colour by": the map of `by` (for ColourBy::ModeShape the mode of the mode box), or back
    /// to None with the reason on the results line when the network cannot give it.
    bool colourBy(ColourBy by);

    /// "Add Residue": the expression in the residue box, with the chain box's chain.
    void performSearch_Click();
    /// "Remove All": boxes back to their prompts, the list cleared, every node grey again.
    void removeAll_Click();
    /// "Remove Residue": the list cleared; the colours stay.
    void removeRes_Click();
    /// The colour dialog's choice as floats 0..1; nothing when it was cancelled.
    static std::optional<Vector3d> getColour();

    const ResidueHighlights& highlights() const { return m_highlights; }

    QLineEdit* residueBox = nullptr;
    QLineEdit* chainBox = nullptr;
    QPushButton* performSearch = nullptr; ///< "Add Residue"
    QPushButton* removeRes = nullptr;     ///< "Remove Residue"
    QPushButton* removeAll = nullptr;     ///< "Remove All"
    QCheckBox* colourChains = nullptr;    ///< "Colour Chains"
    QCheckBox* chainbow = nullptr;        ///< "Chainbow"
    QLabel* resultsLine = nullptr;
    QPlainTextEdit* highlightedResidues = nullptr;
    QComboBox* colourByBox = nullptr; ///< "Colour by", in the order of kColourChoices
    QSpinBox* colourByMode = nullptr; ///< the mode of "Mode shape", 1 = the lowest non-rigid one

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void colourChainsChanged(bool on);
    void chainbowChanged(bool on);
    void resetBoxes();
    void showHighlights();

    NetworkSource m_network;
    NodeColouring* m_colouring = nullptr;
    ResidueHighlights m_highlights;
};

} // namespace vornax
