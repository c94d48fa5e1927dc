#include "TutorialWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace vornax {

const std::array<TutorialSteps::Page, TutorialSteps::Count>& TutorialSteps::pages()
{
    static const std::array<Page, Count> list = {{
        {"Welcome",
         "<p>This tutorial loads <b>crambin</b> (PDB entry 1CRN, 46 residues), a small plant protein, from the "
         "folder <b>TutorialFiles</b> beside the program, and shows how to pull on it.</p>"
         "<p>There are two ways to load it, and the tutorial shows both:</p>"
         "<ul><li><b>From the PDB file</b> <i>1crn.pdb</i>: Vornax builds the elastic network and computes its "
         "normal modes (a second or two for crambin, much longer for large structures).</li>"
         "<li><b>From the eigen data files</b> <i>1CRN.hdv</i> and <i>1CRN.ppy</i>: the modes were computed "
         "before and are read back at once. Any structure you load from its PDB file leaves such files behind "
         "for the next time.</li></ul>"
         "<p>Keep this window open while you work: press <b>Next</b> when you are ready for the next step.</p>"},
        {"Open the structure",
         "<p>Choose <b>Open</b> in the <b>File</b> menu, or press <b>Open a File Now</b> below.</p>"
         "<p>The dialog <b>Normal Mode Analysis Options</b> asks where the normal modes come from:</p>"
         "<ul><li><b>Browse for PDB file</b>: compute them from a PDB file (next step);</li>"
         "<li><b>Browse for eigenvalues and eigenvectors</b>: read the eigen data files saved by an earlier "
         "load (the step after);</li>"
         "<li><b>Use resuts from ElNemo</b> and <b>Use sorted eigenvectors and eigenvalues in a txt file</b>: "
         "modes computed elsewhere, for a PDB file;</li>"
         "<li><b>Cancel</b>: load nothing.</li></ul>"
         "<p>One structure is loaded per window.</p>"},
        {"First way: compute the modes from 1crn.pdb",
         "<ol><li>Press <b>Browse for PDB file</b> and choose <i>1crn.pdb</i> in the folder "
         "<b>TutorialFiles</b>.</li>"
         "<li><b>Elastic Bond Cutoff</b>: type the spring cutoff R<sub>C</sub> in &Aring; and press "
         "<b>Enter</b>. Atoms closer than R<sub>C</sub> are joined by springs; 11 is a good choice, and less "
         "than 7 is refused.</li>"
         "<li>Choose the folder for the results: the eigen data files <i>1CRN.hdv</i> and <i>1CRN.ppy</i> are "
         "written there. Cancel writes them beside the program.</li>"
         "<li>The <b>VornaxLoadBox</b> estimates how long the normal mode analysis takes: press "
         "<b>Start normal mode analysis...</b>.</li>"
         "<li>When the modes are ready the same box tells you how to use the device: press "
         "<b>Continue...</b>.</li></ol>"
         "<p>Then go on to <b>Touch and pull</b> (press Next twice), or read how the saved files are loaded.</p>"},
        {"Second way: load the eigen data files of 1CRN",
         "<ol><li>In <b>Normal Mode Analysis Options</b> press <b>Browse for eigenvalues and "
         "eigenvectors</b>.</li>"
         "<li>During the tutorial the file dialog opens in the folder <b>TutorialFiles</b>. Select both "
         "<i>1CRN.hdv</i> and <i>1CRN.ppy</i> (hold Ctrl and click each) and press <b>Open</b>.</li>"
         "<li>No cutoff is asked: the <i>.hdv</i> file holds it (11 &Aring;), with the structure, the modes "
         "and the force scale; the <i>.ppy</i> file holds the response matrix that lets all modes act at "
         "once. The <i>.hdv</i> file alone also loads, a little more slowly.</li>"
         "<li>The <b>VornaxLoadBox</b> tells you how to use the device: press <b>Continue...</b>.</li></ol>"},
        {"Touch and pull",
         "<p>The network is drawn inside the navigation cube: one sphere per residue, joined by its "
         "backbone.</p>"
         "<p><b>With the mouse</b> (<b>Mouse Stylus</b> below the view is ticked when no haptic arm is found): "
         "the stylus tip, a black dot, follows the pointer. Press the <b>left button</b> on a sphere, drag to "
         "pull it and let go. While you drag, the <b>wheel</b> moves the tip in depth. The whole molecule "
         "deforms with the pull.</p>"
         "<p><b>With a haptic arm</b>: move the stylus into the cube, touch a sphere, hold the <b>front "
         "button</b> and pull; you feel the network resist. The back button turns the molecule.</p>"
         "<p>The pages <b>ENM Options</b> and <b>Force Properties</b> show the residue you touch and the force "
         "applied, at the device in N and on the atom in kcal mol<sup>-1</sup> &Aring;<sup>-1</sup>.</p>"},
        {"Keep forces and choose modes",
         "<p>Tick <b>Save Forces</b> on <b>ENM Options</b> to keep each force when you let go: pull several "
         "residues and their deformations add up. <b>Undo Last Force Application</b> takes the last one back "
         "and <b>Clear All Forces</b> all of them; <b>Applied Forces</b> on <b>Force Properties</b> lists "
         "them.</p>"
         "<p>While <b>Save Forces</b> is off you can choose the normal modes the molecule moves along: single "
         "modes with the boxes 1 to 20, the first modes with the slider, or all of them with <b>Select Maximum "
         "Modes</b>. The <b>Fluctation Percentage</b> says how much of the molecule's flexibility the chosen "
         "modes carry.</p>"},
        {"Save your work",
         "<p><b>File &gt; Save As</b> writes the deformed C-alpha atoms as a PDB file, with a REMARK line for "
         "every kept force.</p>"
         "<p><b>File &gt; Session Options &gt; Save Session</b> keeps the structure with its forces, to be "
         "resumed later with <b>Open Session</b>.</p>"
         "<p>That is all you need to start. Press <b>F1</b> at any time for the help pages: what the numbers "
         "mean, the keys, and every control. <b>Help &gt; View Tutorial...</b> brings this tutorial back "
         "before a structure is loaded.</p>"},
    }};
    return list;
}

bool TutorialSteps::next()
{
    if (isLast()) return false;
    ++m_current;
    return true;
}

bool TutorialSteps::back()
{
    if (isFirst()) return false;
    --m_current;
    return true;
}

void TutorialSteps::goTo(int step)
{
    if (step >= 0 && step < Count) m_current = step;
}

QString TutorialSteps::heading() const
{
    return QString("Step %1 of %2: %3").arg(m_current + 1).arg(static_cast<int>(Count)).arg(page().title);
}

TutorialWindow::TutorialWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName("tutorialPopup");
    setWindowTitle(kTitle);
    setModal(false);
    resize(560, 380);

    m_heading = new QLabel;
    m_heading->setObjectName("tutorialHeading");
    QFont bold = m_heading->font();
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    bold.setBold(true);
    m_heading->setFont(bold);
    m_heading->setWordWrap(true);
    m_text = new QTextBrowser;
    m_text->setObjectName("tutorialText");
    m_text->setOpenLinks(false);

    m_open = new QPushButton("&Open a File Now");
    m_open->setObjectName("tutorialOpenFile");
    m_back = new QPushButton("< &Back");
    m_back->setObjectName("tutorialBack");
    m_next = new QPushButton("&Next >");
    m_next->setObjectName("tutorialNext");
    m_next->setDefault(true);
    auto* close = new QPushButton("&Close");
    close->setObjectName("tutorialClose");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_open);
    buttons->addStretch();
    buttons->addWidget(m_back);
    buttons->addWidget(m_next);
    buttons->addWidget(close);
    auto* column = new QVBoxLayout(this);
    column->addWidget(m_heading);
    column->addWidget(m_text, 1);
    column->addLayout(buttons);

    connect(m_back, &QPushButton::clicked, this, [this] {
        if (m_steps.back()) refresh();
    });
    connect(m_next, &QPushButton::clicked, this, [this] {
        if (m_steps.next())
            refresh();
        else
            accept(); // "Finish"
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_open, &QPushButton::clicked, this, [this] {
        // The choices' step is shown while their dialog is open.
        if (m_steps.current() < TutorialSteps::FromPdb) showStep(TutorialSteps::FromPdb);
        emit openRequested();
    });
    refresh();
}

void TutorialWindow::refresh()
{
    m_heading->setText(m_steps.heading());
    m_text->setHtml(m_steps.page().html);
    m_back->setEnabled(!m_steps.isFirst());
    m_next->setText(m_steps.isLast() ? "&Finish" : "&Next >");
    m_open->setVisible(m_steps.current() == TutorialSteps::OpenFile);
}

void TutorialWindow::start() { showStep(TutorialSteps::Welcome); }

void TutorialWindow::showStep(int step)
{
    m_steps.goTo(step);
    refresh();
    show();
    raise();
    activateWindow();
}

} // namespace vornax
