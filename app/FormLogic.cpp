#include "FormLogic.h"

#include "FormView.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/ModeAnimation.h"
#include "haptics/Workbench.h"
#include "molecule/Atom.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextEdit>

#include <algorithm>
#include <array>
#include <cmath>
#include <thread>

namespace vornax {

namespace {

/// The speed slider counts swings in this many seconds.
constexpr double kAnimationSwingsSeconds = 20.0;

// Rich text of the read-outs: 9.75 pt text, 6.75 pt sub- and superscripts.
const QString kOpen = "<div style=\"font-family:'Lucida Sans Unicode'; font-size:9.75pt;\">";
const QString kClose = "</div>";
const QString kEmptyReadout =
    kOpen + "Contacted Residue:<br>Force Applied: <br>Scaling Factor (S): <br>Fluctuation Percentage:" + kClose;

QString sub(const QString& text)
{
    return "<span style=\"font-size:6.75pt; vertical-align:sub;\">" + text.toHtmlEscaped() + "</span>";
}

QString sup(const QString& text)
{
    return "<span style=\"font-size:6.75pt; vertical-align:super;\">" + text.toHtmlEscaped() + "</span>";
}

QString bold(const QString& html, bool on) { return on ? "<b>" + html + "</b>" : html; }

const QString kPerKcal = QString("kcal mol") + sup("-1") + QString("\u00C5") + sup("-1");

/// Enabled by its own state (a disabled page leaves its controls' own state as it is).
bool enabledItself(const QWidget* w) { return !w->testAttribute(Qt::WA_ForceDisabled); }

QString esc(const std::string& text) { return QString::fromStdString(text).toHtmlEscaped(); }

} // namespace

QString roundedText(double value, int decimals)
{
    if (!std::isfinite(value)) return "0";
    const double scale = std::pow(10.0, decimals);
    double r = std::round(value * scale) / scale;
    if (r == 0.0) r = 0.0; // no "-0"
    return QString::number(r, 'f', decimals).remove(QRegularExpression("\\.?0+$"));
}

void scalerDisplay(double s, double& finalM, float& N)
{
    finalM = 0.0;
    N = 0.0f;
    if (!(s > 0.0) || !std::isfinite(s)) return;
    double m = s;
    int k = 0;
    while (m < 1.0) {
        m *= 10.0;
        ++k;
    }
    finalM = std::round(m * 1000.0) / 1000.0;
    N = static_cast<float>(-k);
}

QString forceReadoutHtml(const ForceReadout& r)
{
    const QString residue = r.contact
        ? r.residueName.toHtmlEscaped() + " " + r.residueNumber.toHtmlEscaped() + " " + r.chain.toHtmlEscaped()
        : QString();
    const QString fh = r.contact ? roundedText(r.hapticForce, 3) : "0";
    const QString fs = r.contact ? roundedText(r.scaledForce, 3) : "0";
    const bool strong = r.contact && r.saturated;
    QString html = kOpen;
    html += "R" + sub("C ") + ": " + QString::number(r.rc) + "<br>";
    html += "Contacted Residue: " + residue + "<br>";
    html += bold("Haptic Force Applied: " + fh + " N ", strong) + "<br>";
    html += bold("Scaled Force Applied: " + fs + " " + kPerKcal, strong) + "<br>";
    html += "Atomic Scaling Factor (S" + sub("atom ") + "): " + QString::number(r.finalM) + " * 10"
        + sup(QString::number(r.N)) + "<br>";
    html += "Fluctuation Percentage:" + r.flucPerc.toHtmlEscaped() + "%";
    return html + kClose;
}

QString appliedForceHtml(const Atom& atom, bool undoForm)
{
    const Vector3d f = atom.getKcalForce();
    QString line = "Chain: " + esc(atom.getResidueName()) + " " + esc(atom.getResidue());
    if (!undoForm) line += " " + esc(atom.getChainID());
    line += " Force: " + roundedText(f.size(), 3) + " " + kPerKcal;
    if (undoForm)
        line += " (" + roundedText(-f.x, 3) + ", " + roundedText(-f.y, 3) + ", " + roundedText(-f.z, 3) + ")";
    else
        line += " ";
    return line + "<br>";
}

QString FormLogic::activeStyle() { return "background-color: lightslategray; color: white;"; }
QString FormLogic::inactiveStyle() { return "background-color: dimgray; color: black;"; }

FormLogic::FormLogic(const FormControls& controls, Workbench& workbench, FormView& view, QObject* parent)
    : QObject(parent), m_c(controls), m_bench(workbench), m_view(view)
{
    writeReadouts(kEmptyReadout);
    connectControls();
}

Haptics* FormLogic::device() const { return m_bench.device(); }

ElasticNetworkModel* FormLogic::network() const { return m_bench.network(); }

void FormLogic::connectControls()
{
    // Check boxes follow toggled, so a box ticked from code runs its handler as a click does.
    connect(m_c.hapticsOnOff, &QCheckBox::toggled, this, [this](bool on) {
        if (Haptics* d = device()) {
            d->setReconfiguringMolecule(on ? 1 : 0);
            d->setHatpicState(on);
        }
        if (!on) console::line("turned off");
    });
    connect(m_c.hapticsTranslate, &QCheckBox::toggled, this, [this](bool on) {
        if (Haptics* d = device()) d->setTranslates(on);
        m_view.toggleWorkspace(on);
    });
    connect(m_c.showForces, &QCheckBox::toggled, this, [this](bool on) {
        if (ElasticNetworkModel* eln = network()) eln->setRenderForces(on);
    });
    connect(m_c.hideSpheres, &QCheckBox::toggled, this, [this](bool on) {
        if (ElasticNetworkModel* eln = network()) eln->setRenderingSpheres(on);
    });
    connect(m_c.showSelectedAtoms, &QCheckBox::toggled, this, [this](bool on) { m_view.showSelectedAtoms(on); });
    connect(m_c.showELNBBCheckBox, &QCheckBox::toggled, this, [this](bool on) { m_view.renderSprings(on); });
    connect(m_c.resetELNTransform, &QPushButton::clicked, this, [this] { m_view.resetALL(); });
    connect(m_c.resetSimulation, &QPushButton::clicked, this, &FormLogic::clearAllForces);
    connect(m_c.undoSelection, &QPushButton::clicked, this, &FormLogic::undoLastForce);
    connect(m_c.saveForces, &QCheckBox::toggled, this, &FormLogic::saveForcesChanged);
    connect(m_c.forceMagSlider, &QSlider::valueChanged, this, &FormLogic::forceSliderChanged);
    connect(m_c.forceMagSlider, &QSlider::sliderReleased, this, [this] { m_c.ELN_InfoTab->setFocus(); });

    for (QCheckBox* box : m_c.modeArray)
        connect(box, &QCheckBox::toggled, this, [this] {
            if (!m_state.selectingALL && !m_state.deselectingALL) generatePossibleModalList();
        });
    connect(m_c.modes1_10, &QPushButton::clicked, this, [this] { tickModeBoxes(1, 10); });
    connect(m_c.modes11_20, &QPushButton::clicked, this, [this] { tickModeBoxes(11, 20); });
    connect(m_c.uncheckAllModes, &QPushButton::clicked, this, &FormLogic::selectMaximumModes);
    connect(m_c.modeSlider, &QSlider::sliderPressed, this, &FormLogic::sliderMouseDown);
    connect(m_c.animateMode, &QPushButton::toggled, this, &FormLogic::animate);
    connect(m_c.animateModeNumber, &QSpinBox::valueChanged, this, [this] {
        if (m_bench.animation().running()) animate(true);
    });
    connect(m_c.animationAmplitude, &QSlider::valueChanged, this, [this](int position) {
        m_bench.animation().setScale(animationScale(position));
        showAnimation();
    });
    connect(m_c.animationSpeed, &QSlider::valueChanged, this, [this](int swings) {
        m_bench.animation().setPeriod(kAnimationSwingsSeconds / swings, ModeAnimation::Clock::now());
        showAnimation();
    });
    // User moves only (keys, wheel, drag): a value set by the load is no selection.
    connect(m_c.modeSlider, &QSlider::actionTriggered, this,
            [this] { sliderScrolled(m_c.modeSlider->sliderPosition()); });
    m_c.modeSlider->installEventFilter(this);
}

bool FormLogic::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_c.modeSlider && event->type() == QEvent::FocusIn) sliderEntered();
    return QObject::eventFilter(watched, event);
}

// ---- Control loop ------------------------------------------------------------------------

void FormLogic::tick()
{
    ++m_countTime;
    if (++m_frameCount >= m_framePeriod) {
        m_frameCount = 0;
        m_view.requestFrame();
    }
    if (m_countTime > 10) {
        m_countTime = 0;
        if (m_state.renderingELN) refreshForceReadouts();
        const ElasticNetworkModel* eln = network();
        if (m_c.saveForces->isChecked() && eln && eln->getNeedsListUpdate()) rebuildAppliedForces();
    }
    pollButtons();
    pollFirstEntry();
}

void FormLogic::pollButtons()
{
    // 1 front, 2 back; both together (3) is no press, and only 0 ends one.
    Haptics* d = device();
    const int32_t buttons = d ? d->getButtons() : 0;
    if (!m_state.pressed && (buttons == 1 || buttons == 2)) {
        m_state.pressed = true;
        stopAnimation(); // a pull shows the deformation alone
        m_c.elasticNetworkTab->setEnabled(false);
    } else if (m_state.pressed && buttons == 0) {
        m_state.pressed = false;
        m_c.elasticNetworkTab->setEnabled(true);
    }
}

void FormLogic::pollFirstEntry()
{
    Haptics* d = device();
    if (m_state.firstEntry || m_state.introState || !m_bench.loaded() || !d || !d->getFirstEntry()) return;
    d->setTranslates(true);
    m_c.hapticsOnOff->setChecked(true);
    console::line("First Entry Trigger");
    m_c.infoText->setText(
        "Program Started\n\nTo translate the molecule move the probe sphere out of the cube, hold the F5 for fast "
        "translations.\nTo rotate the molecule, hold the button on the stylus.\n\nFor more advanced features, select "
        "the 'ENM Options' tab or look up a feature in the Help pages.");
    m_c.hapticsTranslate->setChecked(true);
    for (int i = 1; i < m_c.tabControl1->count(); ++i) m_c.tabControl1->setTabEnabled(i, true);
    m_state.firstEntry = true;
    if (m_state.loadedELNEMO) {
        const std::vector<int32_t> modes = network()->getElNemoModes();
        m_state.selectingALL = true;
        for (std::size_t i = 0; i < modes.size() && i < 20; ++i) {
            const int32_t m = modes[i];
            console::Line() << m;
            if (m >= 1 && m <= 20) m_c.modeArray[static_cast<std::size_t>(m - 1)]->setChecked(true);
        }
        m_state.selectingALL = false;
        generatePossibleModalList();
    }
}

void FormLogic::writeReadouts(const QString& html)
{
    m_c.realTimeForceBox->clear();
    m_c.realTimeForceBox->setHtml(html);
    m_c.realTimeForceBox2->clear();
    m_c.realTimeForceBox2->setHtml(html);
}

void FormLogic::refreshForceReadouts()
{
    ForceReadout r;
    r.rc = m_state.Rc;
    r.finalM = m_state.finalM;
    r.N = m_state.N;
    r.flucPerc = m_state.flucPerc;
    Haptics* d = device();
    if (const Atom* atom = d ? d->getCurrentAtom() : nullptr) {
        r.contact = true;
        r.residueName = QString::fromStdString(atom->getResidueName());
        r.residueNumber = QString::fromStdString(atom->getResidue());
        r.chain = QString::fromStdString(atom->getChainID());
        r.scaledForce = std::round(atom->getKcalForce().size() * 1000.0) / 1000.0;
        r.hapticForce = std::round(atom->getMyApplyingForce().size() * 1000.0) / 1000.0;
        // The device force is clamped at its maximum before the user's factor scales it; the
        // clamp's own rounding keeps it from matching the maximum to the last bit.
        const double forceMax = m_bench.forceMax();
        if (m_state.eqForce > 0.0f && forceMax > 0.0) {
            const double unscaled = atom->getMyApplyingForce().size() / m_state.eqForce;
            r.saturated = unscaled >= forceMax * (1.0 - 1e-4);
        }
    }
    writeReadouts(forceReadoutHtml(r));
}

void FormLogic::rebuildAppliedForces()
{
    ElasticNetworkModel* eln = network();
    if (!eln) return;
    QString html = kOpen;
    for (const Atom* atom : eln->getContactList())
        if (atom && atom->getKcalForce() != Vector3d()) html += appliedForceHtml(*atom, false);
    m_c.appliedForcesTextBox->clear();
    m_c.appliedForcesTextBox->setHtml(html + kClose);
    eln->setNeedsListUpdate(false);
}

// ---- After a load --------------------------------------------------------------------------

void FormLogic::networkLoaded(int originalMaxModes, int totalModes, double forceScaler, float rc)
{
    m_state.originalMaxModes = originalMaxModes;
    m_state.Rc = rc;
    m_state.renderingELN = true;
    m_c.currentModesSelectedLabel->setText("Amount of Modes Selected:  " + QString::number(originalMaxModes));
    m_c.modeSlider->setMaximum(originalMaxModes);
    const ElasticNetworkModel* eln = network();
    if (eln && eln->getSimulationMode() == -2)
        m_c.uncheckAllModes->setText("Select all " + QString::number(totalModes) + " modes");
    else
        m_c.uncheckAllModes->setText("Select " + QString::number(originalMaxModes) + " out of "
                                     + QString::number(totalModes) + " total modes");
    calculatePercentageDeformation(originalMaxModes);
    for (QWidget* w : {static_cast<QWidget*>(m_c.showELNBBCheckBox), static_cast<QWidget*>(m_c.showSelectedAtoms),
                       static_cast<QWidget*>(m_c.showForces), static_cast<QWidget*>(m_c.hideSpheres),
                       static_cast<QWidget*>(m_c.saveForces), static_cast<QWidget*>(m_c.uncheckAllModes),
                       static_cast<QWidget*>(m_c.dispCurrentForceLbl), static_cast<QWidget*>(m_c.forceMagSlider)})
        w->setEnabled(true);
    setModeControlsEnabled(true);
    m_c.ELNcalcProgBar->setValue(100);
    m_c.ELNcalcProgBar->setVisible(false);
    scalerDisplay(forceScaler, m_state.finalM, m_state.N);
    const int playable = eln ? ModeAnimation::playableModes(*eln) : 0;
    m_c.animateModeNumber->setRange(1, std::max(playable, 1));
    m_c.animateModeNumber->setEnabled(playable > 0);
    m_c.animateMode->setEnabled(playable > 0);
    showAnimation();
    console::Line() << "S: " << forceScaler;
    m_state.introState = false;
}

void FormLogic::structureClosed()
{
    m_state.firstEntry = false;
    m_state.pressed = false;
    m_state.renderingELN = false;
    m_state.loadedELNEMO = false;
    m_state.introState = true;
    untickAllSilently();
    {
        const QSignalBlocker blocked(m_c.hapticsTranslate);
        m_c.hapticsTranslate->setChecked(false);
    }
    m_c.appliedForcesTextBox->clear();
    m_c.elasticNetworkTab->setEnabled(true);
    writeReadouts(kEmptyReadout);
    stopAnimation();
    m_c.animateModeNumber->setEnabled(false);
    m_c.animateMode->setEnabled(false);
}

// ---- Mode selection -------------------------------------------------------------------------

std::optional<ModeChangeToken> FormLogic::beginModeChange()
{
    // Without a network there is nothing to change (and nobody would ever let the change in).
    ElasticNetworkModel* eln = network();
    if (!eln) return std::nullopt;
    stopAnimation();
    for (;;) {
        if (std::optional<ModeChangeToken> token = eln->tryBeginModeChange()) return token;
        console::line("please wait...");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void FormLogic::sendModes(const ModeChangeToken& token, const std::vector<int32_t>& indices)
{
    console::Line() << "adding to ELN from pointer: " << indices.size();
    std::array<int32_t, 20> modes{};
    const std::size_t count = std::min(indices.size(), modes.size());
    std::copy_n(indices.begin(), count, modes.begin());
    network()->receiveNewModes(token, modes.data(), static_cast<int32_t>(count));
}

void FormLogic::selectSliderModes(const ModeChangeToken& token, int amount)
{
    m_bench.useAllModes(token, false);
    network()->selectAmountOfModes(token, amount);
    network()->selectModeState(token, 1);
}

void FormLogic::setTranslateAmount(float amount)
{
    if (Haptics* d = device()) d->setTransformAmount(amount);
}

void FormLogic::colourModes(SimMode active)
{
    const QString boxes = active == SimMode::Boxes ? activeStyle() : inactiveStyle();
    m_c.modes1_10->setStyleSheet(boxes);
    m_c.modes11_20->setStyleSheet(boxes);
    for (QCheckBox* box : m_c.modeArray) box->setStyleSheet(boxes);
    m_c.uncheckAllModes->setStyleSheet(active == SimMode::Maximum ? activeStyle() : inactiveStyle());
    m_c.modeSlider->setStyleSheet(active == SimMode::Slider ? activeStyle() : inactiveStyle());
}

void FormLogic::untickAllSilently()
{
    m_state.deselectingALL = true;
    for (QCheckBox* box : m_c.modeArray) box->setChecked(false);
    m_state.deselectingALL = false;
}

void FormLogic::generatePossibleModalList()
{
    m_state.simMode = SimMode::Boxes;
    std::optional<ModeChangeToken> token = beginModeChange();
    colourModes(SimMode::Boxes);
    std::vector<int32_t> indices;
    for (int i = 0; i < 20; ++i) {
        const QCheckBox* box = m_c.modeArray[static_cast<std::size_t>(i)];
        if (box->isChecked() && enabledItself(box)) indices.push_back(i);
    }
    const auto count = static_cast<int32_t>(indices.size());
    if (token) {
        sendModes(*token, indices);
        m_bench.useAllModes(*token, false);
    }
    calculatePercentageDeformation(count);
    if (token) network()->selectModeState(*token, 0);
}

void FormLogic::selectMaximumModes()
{
    m_state.simMode = SimMode::Maximum;
    colourModes(SimMode::Maximum);
    uncheckAllTheModes();
}

void FormLogic::uncheckAllTheModes()
{
    std::optional<ModeChangeToken> token = beginModeChange();
    m_state.deselectingALL = true;
    for (QCheckBox* box : m_c.modeArray)
        if (enabledItself(box)) box->setChecked(false);
    if (token) {
        sendModes(*token, {});
        network()->selectModeState(*token, 2);
        m_bench.useAllModes(*token, true);
    }
    m_state.deselectingALL = false;
    calculatePercentageDeformation(m_state.originalMaxModes);
}

void FormLogic::tickModeBoxes(int first, int last)
{
    m_state.selectingALL = true;
    for (int m = first; m <= last; ++m) {
        QCheckBox* box = m_c.modeArray[static_cast<std::size_t>(m - 1)];
        if (enabledItself(box)) box->setChecked(true);
    }
    generatePossibleModalList();
    m_state.selectingALL = false;
}

void FormLogic::sliderMouseDown()
{
    m_state.simMode = SimMode::Slider;
    std::optional<ModeChangeToken> token = beginModeChange();
    colourModes(SimMode::Slider);
    untickAllSilently();
    const int v = m_c.modeSlider->sliderPosition();
    if (token) selectSliderModes(*token, v);
    calculatePercentageDeformation(v);
}

void FormLogic::sliderScrolled(int value)
{
    // A scroll always means the slider's way of choosing, whether or not it was entered first.
    m_state.simMode = SimMode::Slider;
    std::optional<ModeChangeToken> token = beginModeChange();
    if (token) selectSliderModes(*token, value);
    calculatePercentageDeformation(value);
}

void FormLogic::sliderEntered()
{
    m_state.simMode = SimMode::Slider;
    colourModes(SimMode::Slider);
    untickAllSilently();
}

void FormLogic::calculatePercentageDeformation(int amountOfModes)
{
    const ElasticNetworkModel* eln = network();
    const double total = eln ? eln->getRTotal() : 0.0;
    // No fluctuation at all (no modes yet) is 0 %, not a division by zero.
    auto percent = [total](double part) { return total > 0.0 ? roundedText(part * 100.0 / total, 1) : QString("0"); };
    if (eln && eln->getSimulationMode() == -2 && m_state.simMode == SimMode::Maximum) {
        m_state.flucPerc = "100";
    } else if (m_state.simMode != SimMode::Boxes) {
        m_state.flucPerc = percent(eln ? eln->getRMForTest(amountOfModes) : 0.0);
        const int shown =
            m_state.simMode == SimMode::Maximum ? m_state.originalMaxModes : m_c.modeSlider->sliderPosition();
        m_c.currentModesSelectedLabel->setText("Amount of Modes Selected:  " + QString::number(shown));
    } else {
        console::line("buttons");
        double sum = 0.0;
        int ticked = 0;
        for (int i = 0; i < 20; ++i) {
            if (!m_c.modeArray[static_cast<std::size_t>(i)]->isChecked()) continue;
            ++ticked;
            const double rm = eln ? eln->getRMSingle(i) : 0.0;
            console::Line() << "RM: " << rm << " Rtotal: " << total;
            sum += rm;
        }
        m_state.flucPerc = percent(sum);
        m_c.currentModesSelectedLabel->setText("Amount of Modes Selected:  " + QString::number(ticked));
    }
    m_c.flucPercLabel->setText("Fluctation Percentage: " + m_state.flucPerc + "%");
}

// ---- Forces ---------------------------------------------------------------------------------

void FormLogic::undoLastForce()
{
    if (Haptics* d = device()) d->popLastSelectionFromStack();
    const ElasticNetworkModel* eln = network();
    if (!eln) return;
    QString html = kOpen;
    for (const Atom* atom : eln->getContactList())
        if (atom && atom->getKcalForce() != Vector3d()) html += appliedForceHtml(*atom, true);
    m_c.appliedForcesTextBox->clear();
    m_c.appliedForcesTextBox->setHtml(html + kClose);
}

void FormLogic::clearAllForces()
{
    if (Haptics* d = device()) d->resetAllForces();
    m_c.appliedForcesTextBox->clear();
}

void FormLogic::setModeControlsEnabled(bool on)
{
    m_c.modes1_10->setEnabled(on);
    m_c.modes11_20->setEnabled(on);
    m_c.modeSlider->setEnabled(on);
    for (QCheckBox* box : m_c.modeArray) box->setEnabled(on);
    m_c.uncheckAllModes->setEnabled(on);
}

void FormLogic::saveForcesChanged(bool on)
{
    m_bench.setSaveForces(on);
    // Kept forces were computed with the current modes: the modes stay as they are meanwhile.
    m_c.undoSelection->setEnabled(on);
    m_c.resetSimulation->setEnabled(on);
    setModeControlsEnabled(!on);
    m_c.appliedForcesTextBox->clear();
}

void FormLogic::forceSliderChanged(int value)
{
    m_state.eqForce = static_cast<float>(value) / 10.0f;
    m_c.dispCurrentForceLbl->setText("Haptic Scaling Factor (S         ):  "
                                     + QString::number(static_cast<double>(m_state.eqForce), 'f', 1));
    if (Haptics* d = device()) d->addNewForceForEq(m_state.eqForce);
}

// ---- Mode animation -------------------------------------------------------------------------

bool FormLogic::animate(bool on)
{
    ModeAnimation& animation = m_bench.animation();
    const ElasticNetworkModel* eln = network();
    bool playing = false;
    if (on && eln && m_bench.loaded()) {
        const auto now = ModeAnimation::Clock::now();
        playing = animation.start(*eln, m_c.animateModeNumber->value() - 1, now);
        animation.setScale(animationScale(m_c.animationAmplitude->value()));
        animation.setPeriod(kAnimationSwingsSeconds / m_c.animationSpeed->value(), now);
    } else {
        animation.stop();
    }
    {
        const QSignalBlocker blocked(m_c.animateMode);
        m_c.animateMode->setChecked(playing);
        m_c.animateMode->setText(playing ? "Stop" : "Animate");
    }
    showAnimation();
    if (on && !playing)
        m_c.animationAmplitudeLabel->setText("Mode " + QString::number(m_c.animateModeNumber->value())
                                             + " cannot be played: its vector or eigenvalue is not held");
    return playing;
}

void FormLogic::stopAnimation()
{
    if (m_bench.animation().running() || m_c.animateMode->isChecked()) animate(false);
}

void FormLogic::showAnimation()
{
    const ModeAnimation& animation = m_bench.animation();
    const double period = kAnimationSwingsSeconds / m_c.animationSpeed->value();
    m_c.animationSpeedLabel->setText("One swing in " + QString::number(period, 'f', 2) + " s");
    if (!animation.running()) {
        m_c.animationAmplitudeLabel->setText("Thermal amplitude: (pick a mode and Animate)");
        return;
    }
    // The mode's own amplitude (of its coordinate, over every node) and what one node swings.
    m_c.animationAmplitudeLabel->setText("Thermal amplitude: " + QString::number(animation.thermalAmplitude(), 'f', 2)
                                         + " Å; shown ×" + QString::number(animation.scale(), 'g', 3)
                                         + ", the largest node swing "
                                         + QString::number(animation.largestNodeSwing(), 'f', 2) + " Å");
}

// ---- Keys -----------------------------------------------------------------------------------

bool FormLogic::keyDown(int key)
{
    if (key == Qt::Key_F1) {
        emit helpIndexRequested();
        return true;
    }
    if (!m_state.firstEntry) return false;
    switch (key) {
    case Qt::Key_Control: m_c.hapticsOnOff->setChecked(!m_c.hapticsOnOff->isChecked()); return true;
    case Qt::Key_F2: m_c.hapticsTranslate->setChecked(device() && device()->toggleTranslations()); return true;
    case Qt::Key_F5: setTranslateAmount(0.01f); return true;
    case Qt::Key_F7:
        if (Haptics* d = device()) d->setStickingToSurface(true);
        return true;
    default: return false;
    }
}

bool FormLogic::keyUp(int key)
{
    switch (key) {
    case Qt::Key_F5: setTranslateAmount(0.001f); return true;
    case Qt::Key_F7: m_view.toggleRotateMode(); return true;
    default: return false;
    }
}

} // namespace vornax
