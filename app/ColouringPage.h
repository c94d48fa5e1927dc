// The "Colouring" page of the main window: the residue and chain boxes, "Add Residue",
// "Remove Residue", "Remove All", "Colour Chains", "Chainbow", a results line and the
// "Highlighted Residues" list, working on the network on the view through ResidueHighlights.
//
//     new ColouringPage(*controls.viewingTab, [this] { return networkOnView(); }, window);
//
// The colour dialog is the user prompts' (Qt's colour dialog in the program, canned answers in
// tests). The controls carry form names (objectName) for the tests to find them.
#pragma once

#include "enm/ResidueHighlights.h"

#include <QObject>

#include <functional>
#include <optional>

class QCheckBox;
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

    /// Builds the controls on `page` (which must have no layout yet).
    ColouringPage(QWidget& page, NetworkSource network, QObject* parent = nullptr);

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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void colourChainsChanged(bool on);
    void chainbowChanged(bool on);
    void resetBoxes();
    void showHighlights();

    NetworkSource m_network;
    ResidueHighlights m_highlights;
};

} // namespace vornax
