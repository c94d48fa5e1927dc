#include "FormControls.h"

#include "WelcomePanel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextEdit>
#include <QVBoxLayout>

#include <cmath>

namespace vornax {

namespace {

template <typename W>
W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QCheckBox* checkBox(const char* name, const QString& text, bool ticked, bool enabled)
{
    auto* box = named(new QCheckBox(text), name);
    box->setChecked(ticked);
    box->setEnabled(enabled);
    return box;
}

QPushButton* button(const char* name, const QString& text, bool enabled)
{
    auto* b = named(new QPushButton(text), name);
    b->setEnabled(enabled);
    return b;
}

QTextEdit* readOut(const char* name)
{
    auto* box = named(new QTextEdit, name);
    box->setReadOnly(true);
    return box;
}

QAction* action(QMenu* menu, const char* name, const QString& text)
{
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

void buildMenus(QMainWindow& window, FormControls& c)
{
    c.fileMenu = named(window.menuBar()->addMenu("&File"), "fileToolStripMenuItem");
    c.openToolStripMenuItem = action(c.fileMenu, "openToolStripMenuItem", "&Open");
    c.openRecent = named(c.fileMenu->addMenu("Open &Recent"), "openRecentToolStripMenuItem");
    c.advancedOptions = action(c.fileMenu, "advancedOptionsToolStripMenuItem", "Advanced Options");
    c.mouseStylusItem = action(c.fileMenu, "mouseStylusToolStripMenuItem", "&Mouse Stylus");
    c.mouseStylusItem->setCheckable(true);
    c.pullFirstItem = action(c.fileMenu, "pullFirstToolStripMenuItem", "&Pull First, Every Mode Later");
    c.pullFirstItem->setCheckable(true);
    c.pullFirstItem->setChecked(true);
    c.pullFirstItem->setToolTip("Large structures can be pulled as soon as their lowest modes are ready; every mode "
                                "is then computed in the background where memory allows.");
    c.sessionOptions = named(c.fileMenu->addMenu("Session Options"), "sessionOptionsToolStripMenuItem");
    c.openSession = action(c.sessionOptions, "openSessionToolStripMenuItem", "Open &Session");
    c.saveSession = action(c.sessionOptions, "saveSessionToolStripMenuItem", "Save &Session");
    c.saveSession->setEnabled(false);
    c.saveAs = action(c.fileMenu, "saveAsToolStripMenuItem", "Save &As");
    c.fileMenu->addSeparator();
    c.exitItem = action(c.fileMenu, "exitToolStripMenuItem", "E&xit");

    c.viewMenu = named(window.menuBar()->addMenu("&View"), "viewToolStripMenuItem");
    c.plots = action(c.viewMenu, "plotsToolStripMenuItem", "&Plots...");
    c.plots->setEnabled(false);

    c.helpMenu = named(window.menuBar()->addMenu("&Help"), "helpToolStripMenuItem");
    c.contents = action(c.helpMenu, "contentsToolStripMenuItem", "&Contents");
    c.index = action(c.helpMenu, "indexToolStripMenuItem", "&Index");
    c.search = action(c.helpMenu, "searchToolStripMenuItem", "&Search");
    c.helpMenu->addSeparator();
    c.about = action(c.helpMenu, "aboutToolStripMenuItem", "&About...");
    c.viewTutorial = action(c.helpMenu, "viewTutorialToolStripMenuItem", "View Tutorial...");
}

QWidget* buildModesGroup(FormControls& c)
{
    auto* group = named(new QGroupBox("Select Modes"), "selectModesGroup");
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(2);
    for (int i = 0; i < 20; ++i) {
        const QByteArray name = "selectMode" + QByteArray::number(i + 1);
        c.modeArray[static_cast<std::size_t>(i)] = checkBox(name.constData(), QString::number(i + 1), false, false);
        grid->addWidget(c.modeArray[static_cast<std::size_t>(i)], i / 10, 1 + i % 10);
    }
    c.modes1_10 = button("modes1_10", "Modes 01-10:", false);
    c.modes11_20 = button("modes11_20", "Modes 11-20:", false);
    grid->addWidget(c.modes1_10, 0, 0);
    grid->addWidget(c.modes11_20, 1, 0);
    c.modeSlider = named(new QSlider(Qt::Horizontal), "modeSlider");
    c.modeSlider->setRange(0, 200);
    c.modeSlider->setValue(1);
    grid->addWidget(c.modeSlider, 2, 0, 1, 8);
    c.uncheckAllModes = button("uncheckAllModes", "Select Maximum Modes", false);
    grid->addWidget(c.uncheckAllModes, 2, 8, 1, 3);
    c.flucPercLabel = named(new QLabel("Fluctation Percentage: "), "flucPercLabel");
    c.currentModesSelectedLabel = named(new QLabel("Amount of Modes Selected:  1"), "currentModesSelectedLabel");
    grid->addWidget(c.flucPercLabel, 3, 0, 1, 5);
    grid->addWidget(c.currentModesSelectedLabel, 3, 5, 1, 6);
    return group;
}

QWidget* buildControlsGroup(FormControls& c)
{
    auto* group = named(new QGroupBox("Elastic Network Controls"), "elasticNetworkControlsGroup");
    auto* box = new QVBoxLayout(group);
    c.undoSelection = button("undoSelection", "Undo Last Force Application", false);
    c.resetSimulation = button("resetSimulation", "Clear All Forces", false);
    c.saveForces = checkBox("saveForces", "Save Forces", false, false);
    c.resetELNTransform = button("resetELNTransform", "Reset All Transformations", true);
    for (QWidget* w : {static_cast<QWidget*>(c.undoSelection), static_cast<QWidget*>(c.resetSimulation),
                       static_cast<QWidget*>(c.saveForces), static_cast<QWidget*>(c.resetELNTransform)})
        box->addWidget(w);
    return group;
}

QWidget* buildOptionsGroup(FormControls& c)
{
    auto* group = named(new QGroupBox("Elastic Network Options"), "elasticNetworkOptionsGroup");
    auto* box = new QVBoxLayout(group);
    // Ticked like the view's and the network's own defaults.
    c.showForces = checkBox("showForces", "Show Forces", true, false);
    c.hideSpheres = checkBox("hideSpheres", "Show Spheres", true, false);
    c.showSelectedAtoms = checkBox("showSelectedAtoms", "Show Selected Atoms", true, false);
    c.showELNBBCheckBox = checkBox("showELNBBCheckBox", "Show Springs", false, false);
    for (QCheckBox* w : {c.showForces, c.hideSpheres, c.showSelectedAtoms, c.showELNBBCheckBox}) box->addWidget(w);
    return group;
}

QWidget* buildEnmPage(FormControls& c)
{
    auto* page = named(new QWidget, "elasticNetworkTab");
    auto* row = new QHBoxLayout(page);
    row->addWidget(buildModesGroup(c));
    row->addWidget(buildControlsGroup(c));
    row->addWidget(buildOptionsGroup(c));
    c.realTimeForceBox = readOut("realTimeForceBox");
    c.realTimeForceBox->setMinimumWidth(220);
    row->addWidget(c.realTimeForceBox, 1);
    return page;
}

QWidget* buildForcePage(FormControls& c)
{
    auto* page = named(new QWidget, "ELN_InfoTab");
    auto* row = new QHBoxLayout(page);

    auto* sliderGroup = named(new QGroupBox("Force Feedback Slider"), "forceFeedbackSliderGroup");
    auto* sliderBox = new QVBoxLayout(sliderGroup);
    c.forceMagSlider = named(new QSlider(Qt::Horizontal), "forceMagSlider");
    c.forceMagSlider->setRange(0, 200);
    c.forceMagSlider->setValue(10);
    c.dispCurrentForceLbl = named(new QLabel("Haptic Scaling Factor (S         ):  1.0"), "dispCurrentForceLbl");
    sliderBox->addWidget(c.forceMagSlider);
    sliderBox->addWidget(c.dispCurrentForceLbl);
    row->addWidget(sliderGroup, 1);

    auto* appliedGroup = named(new QGroupBox("Applied Forces"), "appliedForcesGroup");
    c.appliedForcesTextBox = readOut("appliedForcesTextBox");
    (new QVBoxLayout(appliedGroup))->addWidget(c.appliedForcesTextBox);
    row->addWidget(appliedGroup, 2);

    auto* currentGroup = named(new QGroupBox("Current Information"), "currentInformationGroup");
    c.realTimeForceBox2 = readOut("realTimeForceBox2");
    (new QVBoxLayout(currentGroup))->addWidget(c.realTimeForceBox2);
    row->addWidget(currentGroup, 2);
    return page;
}

QWidget* buildMotionPage(FormControls& c)
{
    auto* page = named(new QWidget, "motionTab");
    auto* row = new QHBoxLayout(page);
    auto* group = named(new QGroupBox("Animate a Mode"), "animateModeGroup");
    auto* grid = new QGridLayout(group);
    c.animateModeNumber = named(new QSpinBox, "animateModeNumber");
    c.animateModeNumber->setRange(1, 1);
    c.animateModeNumber->setPrefix("Mode ");
    c.animateModeNumber->setToolTip("1 is the lowest non-rigid mode, as in the mode boxes");
    c.animateMode = named(new QPushButton("Animate"), "animateMode");
    c.animateMode->setCheckable(true);
    c.animationAmplitude = named(new QSlider(Qt::Horizontal), "animationAmplitude");
    c.animationAmplitude->setRange(0, 100);
    c.animationAmplitude->setValue(40); // the thermal amplitude: see animationScale
    c.animationSpeed = named(new QSlider(Qt::Horizontal), "animationSpeed");
    c.animationSpeed->setRange(1, 80);
    c.animationSpeed->setValue(10);
    c.animationAmplitudeLabel = named(new QLabel("Thermal amplitude:"), "animationAmplitudeLabel");
    c.animationSpeedLabel = named(new QLabel("One swing in 2.00 s"), "animationSpeedLabel");
    grid->addWidget(c.animateModeNumber, 0, 0);
    grid->addWidget(c.animateMode, 0, 1);
    grid->addWidget(new QLabel("Amplitude"), 1, 0);
    grid->addWidget(c.animationAmplitude, 1, 1);
    grid->addWidget(c.animationAmplitudeLabel, 1, 2);
    grid->addWidget(new QLabel("Speed"), 2, 0);
    grid->addWidget(c.animationSpeed, 2, 1);
    grid->addWidget(c.animationSpeedLabel, 2, 2);
    for (QWidget* w : {static_cast<QWidget*>(c.animateModeNumber), static_cast<QWidget*>(c.animateMode)})
        w->setEnabled(false);
    row->addWidget(group, 2);
    row->addStretch(1);
    return page;
}

void buildPages(FormControls& c)
{
    c.tabControl1 = named(new QTabWidget, "tabControl1");
    c.mainTab = named(new QWidget, "mainTab");
    c.infoText = named(new QLabel, "infoText");
    c.infoText->setWordWrap(true);
    c.infoText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    (new QVBoxLayout(c.mainTab))->addWidget(c.infoText);
    // The residue highlight controls of "Colouring" are added by ColouringPage.
    c.viewingTab = named(new QWidget, "viewingTab");
    c.elasticNetworkTab = buildEnmPage(c);
    c.ELN_InfoTab = buildForcePage(c);
    c.motionTab = buildMotionPage(c);
    c.tabControl1->addTab(c.mainTab, "Information");
    c.tabControl1->addTab(c.viewingTab, "Colouring");
    c.tabControl1->addTab(c.elasticNetworkTab, "ENM Options");
    c.tabControl1->addTab(c.ELN_InfoTab, "Force Properties");
    c.tabControl1->addTab(c.motionTab, "Motion");
    for (int i = 1; i < c.tabControl1->count(); ++i) c.tabControl1->setTabEnabled(i, false);
}

} // namespace

double animationScale(int position) { return std::pow(10.0, (position - 40) / 30.0); }

FormControls buildFormControls(QMainWindow& window, QWidget* view)
{
    FormControls c;
    buildMenus(window, c);
    buildPages(c);

    c.hapticsOnOff = checkBox("hapticsOnOff", "Force Feedback, CTRL", false, true);
    c.hapticsTranslate = checkBox("hapticsTranslate", "Auto Scroll Mode, F2", false, true);
    c.mouseStylus = checkBox("mouseStylus", "Mouse Stylus", false, true);
    c.mouseStylus->setToolTip("Pull with the mouse: press the left button on a node and drag");
    c.ELNcalcProgBar = named(new QProgressBar, "ELNcalcProgBar");
    c.ELNcalcProgBar->setVisible(false);
    c.scaleProgressBar = named(new QProgressBar, "scaleProgressBar");
    c.scaleProgressBar->setVisible(false);

    auto* central = named(new QWidget, "centralWidget");
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(4, 4, 4, 4);
    if (view) column->addWidget(view, 1);
    auto* switches = new QHBoxLayout;
    switches->addWidget(c.hapticsOnOff);
    switches->addWidget(c.hapticsTranslate);
    switches->addWidget(c.mouseStylus);
    switches->addWidget(c.ELNcalcProgBar, 1);
    switches->addWidget(c.scaleProgressBar, 1);
    switches->addStretch();
    column->addLayout(switches);
    c.tabControl1->setFixedHeight(200);
    column->addWidget(c.tabControl1);
    window.setCentralWidget(central);

    // The welcome panel floats over the window; the start-up preference decides whether it shows.
    buildWelcomePanel(central, c);
    return c;
}

} // namespace vornax
