// The main window's behaviour: the 10 ms control loop, the force read-outs, the mode selection
// and the handlers of every control, on the controls of FormControls. It reaches the network and
// the device through the window's workbench, and the view through FormView.
//
// Plain code behind the widgets: it needs no GL and no shown window, so the window's behaviour
// can be driven and checked control by control.
//
//     FormControls controls = buildFormControls(window, viewWidget);
//     FormLogic logic(controls, workbench, view); // connects every control
//     every 10 ms: logic.tick();
//     after a load: logic.networkLoaded(maxModes, totalModes, s, rc);
#pragma once

#include "FormControls.h"

#include <QObject>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace vornax {

class Atom;
class ElasticNetworkModel;
class FormView;
class Haptics;
class ModeChangeToken;
class Workbench;

/// How the modes are chosen.
enum class SimMode : int { Boxes = 0, Slider = 1, Maximum = 2 };

/// The window's state (the loop, the load and the mode selection read and write it).
struct FormState {
    bool pressed = false;      ///< a stylus button is held
    bool firstEntry = false;   ///< the stylus has entered the workspace since the load
    bool introState = true;    ///< a load is in progress (false once one has completed)
    bool renderingELN = false; ///< a network is loaded and its read-outs are live
    int loadMode = 4;          ///< the load choice (1 PDB, 2 ElNemo, 3 eigen files, 4 none, 5 text)
    SimMode simMode = SimMode::Maximum;
    int originalMaxModes = 0;
    bool selectingALL = false;
    bool deselectingALL = false;
    float eqForce = 1.0f; ///< haptic force scaling factor S
    float Rc = 0.0f;      ///< Å
    double finalM = 0.0;  ///< the force scaler s = finalM × 10^N
    float N = 0.0f;
    QString flucPerc;
    bool loadedELNEMO = false;
    int isOmni = 0;
};

/// What the force read-outs show.
struct ForceReadout {
    bool contact = false; ///< an atom is under the stylus
    QString residueName, residueNumber, chain;
    double hapticForce = 0.0; ///< |applyingForce|, N
    double scaledForce = 0.0; ///< |kcalForce|, kcal/mol/Å
    bool saturated = false;   ///< the device force is at its maximum
    float rc = 0.0f;
    double finalM = 0.0;
    float N = 0.0f;
    QString flucPerc;
};

/// The read-out as rich text: sub- and superscripts, the force lines bold when saturated.
QString forceReadoutHtml(const ForceReadout& readout);
/// One line of the applied-forces list of `atom` (undo's form adds the negated components and
/// leaves out the chain).
QString appliedForceHtml(const Atom& atom, bool undoForm);
/// A number rounded to `decimals` places, written without trailing zeros.
QString roundedText(double value, int decimals);
/// s as finalM × 10^N (finalM rounded to 3 decimals); s ≤ 0 (or not a number) gives 0 × 10^0.
void scalerDisplay(double s, double& finalM, float& N);

class FormLogic final : public QObject {
    Q_OBJECT
public:
    /// `workbench` and `view` outlive this object.
    FormLogic(const FormControls& controls, Workbench& workbench, FormView& view, QObject* parent = nullptr);

    FormState& state() { return m_state; }
    const FormState& state() const { return m_state; }
    const FormControls& controls() const { return m_c; }

    // ---- Control loop ---------------------------------------------------------------------
    /// One 10 ms step: frame, every 11th step the read-outs and the applied-forces list,
    /// every step the stylus buttons and the first entry.
    void tick();
    int tickCount() const { return m_countTime; }
    /// Frames on every `ticks`-th step only (1: every step). A load of a large structure asks
    /// for fewer, so that drawing in software does not take the cores the load works on.
    void setFramePeriod(int ticks) { m_framePeriod = std::max(ticks, 1); }
    void refreshForceReadouts();
    void rebuildAppliedForces();

    // ---- After a load ---------------------------------------------------------------------
    /// A solved network is on the view: mode controls for `originalMaxModes` of `totalModes`, the
    /// fluctuation percentage, the controls a load enables and the force scaler's display.
    void networkLoaded(int originalMaxModes, int totalModes, double forceScaler, float rc);
    /// The structure on the window is being replaced: the stylus's entry, the pulls, the mode
    /// boxes and the read-outs start again as before a first load.
    void structureClosed();

    // ---- Mode selection -------------------------------------------------------------------
    void generatePossibleModalList();
    /// "Select Maximum Modes".
    void selectMaximumModes();
    /// Unticks every enabled box silently and gives the network all allowed modes.
    void uncheckAllTheModes();
    /// Ticks the enabled boxes `first`..`last` (1-based) and sends the list.
    void tickModeBoxes(int first, int last);
    void sliderMouseDown();
    void sliderScrolled(int value);
    void sliderEntered();
    void calculatePercentageDeformation(int amountOfModes);

    // ---- Forces ---------------------------------------------------------------------------
    void undoLastForce();
    void clearAllForces();
    void saveForcesChanged(bool on);
    void forceSliderChanged(int value);

    // ---- Mode animation -------------------------------------------------------------------
    /// "Animate": plays the mode of the mode box (1 = the lowest non-rigid one) at the amplitude
    /// and speed of the sliders, or stops. False, with the button released and the reason on
    /// the amplitude line, when that mode cannot be played.
    bool animate(bool on);
    /// Stops the mode played (a pull, a mode change, a new structure) and releases the button.
    void stopAnimation();

    // ---- Keys -----------------------------------------------------------------------------
    /// Key down / up, seen before the focused control; true when the key was used.
    bool keyDown(int key);
    bool keyUp(int key);

    /// The colours marking the active and the inactive way of choosing modes.
    static QString activeStyle();
    static QString inactiveStyle();

signals:
    /// F1: the help index.
    void helpIndexRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void pollButtons();
    void pollFirstEntry();
    std::optional<ModeChangeToken> beginModeChange();
    /// The boxes' modes (0-based, at most 20) to the network.
    void sendModes(const ModeChangeToken& token, const std::vector<int32_t>& indices);
    /// The slider's way: the lowest `amount` modes.
    void selectSliderModes(const ModeChangeToken& token, int amount);
    void setTranslateAmount(float amount);
    void colourModes(SimMode active);
    void untickAllSilently();
    void setModeControlsEnabled(bool on);
    void writeReadouts(const QString& html);
    /// The amplitude and speed lines, from the animation.
    void showAnimation();
    /// The device in use, or null.
    Haptics* device() const;
    /// The loaded network; null only after the workbench's shutdown.
    ElasticNetworkModel* network() const;

    FormControls m_c;
    Workbench& m_bench;
    FormView& m_view;
    FormState m_state;
    int m_countTime = 0;
    int m_framePeriod = 1;
    int m_frameCount = 0;
};

} // namespace vornax
