// The main window's controls: menus, pages, check boxes, buttons, sliders, labels and read-outs,
// each under its form name (QObject::objectName) and with its text and initial state.
//
//     FormControls controls = buildFormControls(window, viewWidget);   // window's menu bar and body
//
// buildFormControls lays them out around the 3-D view; FormLogic connects and drives them.
#pragma once

#include <array>

class QAction;
class QCheckBox;
class QLabel;
class QMainWindow;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QTabWidget;
class QSpinBox;
class QTextEdit;
class QWidget;

namespace vornax {

struct FormControls {
    // "&File"
    QMenu* fileMenu = nullptr;
    QAction* openToolStripMenuItem = nullptr; ///< "&Open"
    QMenu* openRecent = nullptr;              ///< "Open &Recent": the structures and sessions opened last
    QAction* advancedOptions = nullptr;
    QAction* mouseStylusItem = nullptr; ///< "&Mouse Stylus" (checkable)
    /// "&Pull First, Every Mode Later" (checkable): large structures are pullable once their
    /// lowest modes are ready, and every mode follows in the background.
    QAction* pullFirstItem = nullptr;
    QMenu* sessionOptions = nullptr;
    QAction* openSession = nullptr;
    QAction* saveSession = nullptr;
    QAction* saveAs = nullptr;
    QAction* exitItem = nullptr;
    // "&View"
    QMenu* viewMenu = nullptr;
    QAction* plots = nullptr; ///< "&Plots...": the plots window, once a structure is loaded
    // "&Help"
    QMenu* helpMenu = nullptr;
    QAction* contents = nullptr;
    QAction* index = nullptr;
    QAction* search = nullptr;
    QAction* about = nullptr;
    QAction* viewTutorial = nullptr;

    QTabWidget* tabControl1 = nullptr;
    QWidget* mainTab = nullptr;           ///< "Information"
    QWidget* viewingTab = nullptr;        ///< "Colouring"
    QWidget* elasticNetworkTab = nullptr; ///< "ENM Options"
    QWidget* ELN_InfoTab = nullptr;       ///< "Force Properties"
    QWidget* motionTab = nullptr;         ///< "Motion"
    QLabel* infoText = nullptr;

    QCheckBox* hapticsOnOff = nullptr;
    QCheckBox* hapticsTranslate = nullptr;
    /// The mouse drives the virtual device's stylus (kept in step with mouseStylusItem).
    QCheckBox* mouseStylus = nullptr;

    // "ENM Options"
    std::array<QCheckBox*, 20> modeArray{}; ///< selectMode1 .. selectMode20
    QPushButton* modes1_10 = nullptr;
    QPushButton* modes11_20 = nullptr;
    QSlider* modeSlider = nullptr;
    QPushButton* uncheckAllModes = nullptr;
    QLabel* flucPercLabel = nullptr;
    QLabel* currentModesSelectedLabel = nullptr;
    QPushButton* undoSelection = nullptr;
    QPushButton* resetSimulation = nullptr;
    QCheckBox* saveForces = nullptr;
    QPushButton* resetELNTransform = nullptr;
    QCheckBox* showForces = nullptr;
    QCheckBox* hideSpheres = nullptr;
    QCheckBox* showSelectedAtoms = nullptr;
    QCheckBox* showELNBBCheckBox = nullptr;
    QTextEdit* realTimeForceBox = nullptr;

    // "Force Properties"
    QSlider* forceMagSlider = nullptr;
    QLabel* dispCurrentForceLbl = nullptr;
    QTextEdit* appliedForcesTextBox = nullptr;
    QTextEdit* realTimeForceBox2 = nullptr;

    // "Motion": a mode played in the view
    QSpinBox* animateModeNumber = nullptr; ///< the mode, 1 = the lowest non-rigid one
    QPushButton* animateMode = nullptr;    ///< "Animate" (checkable)
    QSlider* animationAmplitude = nullptr; ///< the scale of the thermal amplitude (animationScale)
    QSlider* animationSpeed = nullptr;     ///< swings per 20 s
    QLabel* animationAmplitudeLabel = nullptr;
    QLabel* animationSpeedLabel = nullptr;

    /// The welcome panel (buildWelcomePanel) and its controls.
    QWidget* tutorialWindow = nullptr;
    QPushButton* tutorialButton = nullptr; ///< "View Tutorial (Recomended for first time users)"
    QPushButton* continueButton = nullptr; ///< "Continue to Open a File"
    QCheckBox* doNotShowBox = nullptr;     ///< "Do not show this message at startup"
    QProgressBar* ELNcalcProgBar = nullptr;
    QProgressBar* scaleProgressBar = nullptr;
};

/// The scale of the thermal amplitude at amplitude slider position `position` (0 to 100): 1 at
/// 40, ten times more or less every 30 steps (0.046 to 100).
double animationScale(int position);

/// Builds every control on `window` (its menu bar and a central widget holding `view` above the
/// pages). The initial states are those of a window with nothing loaded.
FormControls buildFormControls(QMainWindow& window, QWidget* view);

} // namespace vornax
