#include "ColouringPage.h"

#include "common/UserPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStringList>

#include <algorithm>
#include <iterator>

namespace vornax {

namespace {

const QString kResiduePrompt = QString::fromLatin1(ResidueHighlights::kResiduePrompt);
const QString kChainPrompt = QString::fromLatin1(ResidueHighlights::kChainPrompt);

} // namespace

ColouringPage::ColouringPage(QWidget& page, NetworkSource network, NodeColouring* colouring, QObject* parent)
    : QObject(parent), m_network(std::move(network)), m_colouring(colouring), m_highlights([] { return getColour(); })
{
    setObjectName("colouringPage");
    residueBox = new QLineEdit(kResiduePrompt);
    residueBox->setToolTip("A residue name (ALA) or number (12), a list (ALA,GLY,12), a range (10-20), or * for all");
    chainBox = new QLineEdit(kChainPrompt);
    chainBox->setToolTip("One chain identifier (A), or leave the prompt for every chain");
    performSearch = new QPushButton("Add Residue");
    removeRes = new QPushButton("Remove Residue");
    removeAll = new QPushButton("Remove All");
    colourChains = new QCheckBox("Colour Chains");
    chainbow = new QCheckBox("Chainbow");
    resultsLine = new QLabel;
    const std::pair<QObject*, const char*> names[] = {
        {residueBox, "residueBox"}, {chainBox, "chainBox"},       {performSearch, "performSearch"},
        {removeRes, "removeRes"},   {removeAll, "removeAll"},     {colourChains, "colourChains"},
        {chainbow, "chainbow"},     {resultsLine, "resultsLine"},
    };
    for (const auto& [control, name] : names) control->setObjectName(QString::fromLatin1(name));
    resultsLine->setWordWrap(true);
    resultsLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    highlightedResidues = new QPlainTextEdit;
    highlightedResidues->setObjectName("highlightedResidues");
    highlightedResidues->setReadOnly(true);
    highlightedResidues->setMaximumBlockCount(0); // no limit

    auto* row = new QHBoxLayout(&page);
    auto* grid = new QGridLayout;
    grid->addWidget(residueBox, 0, 0);
    grid->addWidget(chainBox, 0, 1);
    grid->addWidget(performSearch, 1, 0);
    grid->addWidget(removeRes, 1, 1);
    grid->addWidget(removeAll, 2, 0);
    if (m_colouring) {
        colourByBox = new QComboBox;
        colourByBox->setObjectName("colourBy");
        colourByBox->setToolTip("Colour the nodes by a number of each (blue lowest, white, red highest); "
                                "highlighted residues keep their colours");
        for (const ColourBy by : kColourChoices) colourByBox->addItem(QString("Colour by: ") + colourByName(by));
        colourByMode = new QSpinBox;
        colourByMode->setObjectName("colourByMode");
        colourByMode->setPrefix("Mode ");
        colourByMode->setRange(1, 100000);
        colourByMode->setToolTip("The mode of \"Mode shape\" (1 is the lowest non-rigid mode)");
        grid->addWidget(colourByBox, 2, 1);
        grid->addWidget(colourByMode, 2, 2);
        connect(colourByBox, &QComboBox::activated, this,
                [this](int index) { colourBy(kColourChoices[static_cast<std::size_t>(index)]); });
        connect(colourByMode, &QSpinBox::valueChanged, this, [this] {
            if (m_colouring->choice() == ColourBy::ModeShape) colourBy(ColourBy::ModeShape);
        });
    }
    grid->addWidget(colourChains, 3, 0);
    grid->addWidget(chainbow, 3, 1);
    grid->addWidget(resultsLine, 4, 0, 1, 2);
    grid->setRowStretch(4, 1);
    row->addLayout(grid, 2);
    auto* list = new QGroupBox("Highlighted Residues");
    list->setObjectName("highlightedResiduesGroup");
    (new QHBoxLayout(list))->addWidget(highlightedResidues);
    row->addWidget(list, 3);

    residueBox->installEventFilter(this);
    chainBox->installEventFilter(this);
    connect(residueBox, &QLineEdit::returnPressed, this, &ColouringPage::performSearch_Click);
    connect(performSearch, &QPushButton::clicked, this, &ColouringPage::performSearch_Click);
    connect(removeAll, &QPushButton::clicked, this, &ColouringPage::removeAll_Click);
    connect(removeRes, &QPushButton::clicked, this, &ColouringPage::removeRes_Click);
    connect(colourChains, &QCheckBox::toggled, this, &ColouringPage::colourChainsChanged);
    connect(chainbow, &QCheckBox::toggled, this, &ColouringPage::chainbowChanged);
}

std::optional<Vector3d> ColouringPage::getColour()
{
    const std::optional<Rgb8> chosen = userPrompts().askColour("Highlight Colour");
    if (!chosen) return std::nullopt;
    return ResidueHighlights::fromRgb8(*chosen);
}

bool ColouringPage::colourBy(ColourBy by)
{
    if (!m_colouring) return false;
    std::string why;
    ElasticNetworkModel* network = m_network();
    const bool done = by == ColourBy::None
        ? (m_colouring->clear(), true)
        : network && m_colouring->choose(by, colourByMode->value() - 1, *network, why);
    const ColourBy shown = done ? by : ColourBy::None;
    if (!done) {
        m_colouring->clear();
        resultsLine->setText(QString("Cannot colour by ") + colourByName(by) + ": "
                             + QString::fromStdString(why.empty() ? "no structure is loaded" : why));
    }
    const auto at = std::find(std::begin(kColourChoices), std::end(kColourChoices), shown);
    const QSignalBlocker blocked(colourByBox);
    colourByBox->setCurrentIndex(static_cast<int>(at - std::begin(kColourChoices)));
    return done;
}

void ColouringPage::performSearch_Click()
{
    m_highlights.performSearch(m_network(), residueBox->text().toStdString(), chainBox->text().toStdString());
    resetBoxes();
    showHighlights();
}

void ColouringPage::removeAll_Click()
{
    resetBoxes();
    m_highlights.removeAll(m_network());
    showHighlights();
}

void ColouringPage::removeRes_Click()
{
    m_highlights.removeResidues();
    showHighlights();
}

void ColouringPage::colourChainsChanged(bool on)
{
    if (!on) {
        removeAll_Click();
        return;
    }
    chainbow->setChecked(false); // its own handler clears what it coloured
    m_highlights.colourChains(m_network());
    showHighlights();
}

void ColouringPage::chainbowChanged(bool on)
{
    if (!on) {
        removeAll_Click();
        return;
    }
    colourChains->setChecked(false);
    m_highlights.chainbow(m_network());
    showHighlights();
}

void ColouringPage::resetBoxes()
{
    residueBox->setText(kResiduePrompt);
    chainBox->setText(kChainPrompt);
}

void ColouringPage::showHighlights()
{
    QStringList lines;
    for (const std::string& line : m_highlights.lines()) lines << QString::fromStdString(line);
    highlightedResidues->setPlainText(lines.join('\n'));
    resultsLine->setText(QString::fromStdString(m_highlights.resultText()));
}

bool ColouringPage::eventFilter(QObject* watched, QEvent* event)
{
    // The prompts rest in the boxes: they make way for typing and come back to an empty box.
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (box && (box == residueBox || box == chainBox)) {
        const QString& prompt = box == residueBox ? kResiduePrompt : kChainPrompt;
        if (event->type() == QEvent::FocusIn && box->text() == prompt) box->clear();
        if (event->type() == QEvent::FocusOut && box->text().isEmpty()) box->setText(prompt);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace vornax
