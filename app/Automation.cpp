#include "Automation.h"

#include "Form1.h"
#include "QtPrompts.h"

#include "common/AtomicFile.h"

#include "ColouringPage.h"
#include "FormControls.h"
#include "FormLogic.h"
#include "PlotsWindow.h"
#include "enm/ElasticNetworkModel.h"
#include "haptics/Haptics.h"
#include "haptics/Workbench.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"
#include "render/COpenGL.h"

#include <QBuffer>
#include <QCheckBox>
#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QSpinBox>

#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>

namespace vornax {

namespace {

/// Frames drawn after the last step before the picture is taken (the view and the read-outs
/// catch up with the last simulation step).
constexpr int kSettleMilliseconds = 400;

} // namespace

Automation::Automation(Form1& window, AutomationOptions options, const QtPrompts* prompts)
    : QObject(&window), m_window(window), m_options(std::move(options)), m_prompts(prompts)
{
    connect(&m_window, &Form1::loadEnded, this, &Automation::loadEnded);
    m_player.setInterval(2);
    connect(&m_player, &QTimer::timeout, this, &Automation::playStep);
}

int Automation::exitCode() const
{
    if (m_exitCode == 0 && m_prompts && m_prompts->errorReported()) return 1;
    return m_exitCode;
}

void Automation::fail(const std::string& message, int exitCode, const std::string& cause)
{
    if (cause.empty() || !m_prompts || !m_prompts->reported(cause)) std::cerr << "vornax: " << message << std::endl;
    m_exitCode = exitCode;
    m_player.stop();
    m_finished = true;
    if (m_options.quit || m_options.unattended()) QCoreApplication::exit(m_exitCode);
}

void Automation::loadEnded(bool ok, const QString& message)
{
    if (!ok && m_window.sessionRefused()) {
        fail("the session was refused: " + message.toStdString(), 2, message.toStdString());
        return;
    }
    if (!ok) {
        fail("the structure was not loaded: " + message.toStdString(), 1, message.toStdString());
        return;
    }
    if (m_options.saveForces)
        if (auto* box = m_window.findChild<QCheckBox*>("saveForces")) box->setChecked(true);
    if (m_options.colourBy != 0) {
        ColouringPage& page = m_window.colouringPage();
        page.colourByMode->setValue(m_options.colourByMode);
        if (!page.colourBy(kColourChoices[static_cast<std::size_t>(m_options.colourBy)])) {
            fail("--colour-by: " + page.resultsLine->text().toStdString());
            return;
        }
    }
    if (!m_options.stylusScript.empty()) {
        if (startScript()) m_player.start();
        return;
    }
    QTimer::singleShot(kSettleMilliseconds, this, &Automation::finish);
}

bool Automation::startScript()
{
    std::string error;
    std::optional<std::vector<StylusStep>> steps;
    if (!m_options.scriptSteps.empty()) {
        steps = std::move(m_options.scriptSteps);
    } else {
        std::ifstream in(m_options.stylusScript);
        if (!in) {
            fail("cannot read the stylus script " + m_options.stylusScript.string());
            return false;
        }
        steps = parseStylusScript(in, error);
    }
    const Workbench& bench = m_window.workbench();
    const ElasticNetworkModel* network = bench.network();
    if (steps && network && !checkScriptNodes(*steps, network->getAmountOfAtoms(), error)) steps.reset();
    if (!steps) {
        fail(m_options.stylusScript.string() + ": " + error);
        return false;
    }
    if (!bench.device() || !hdapi::VirtualDevice::instance().isOpen()) {
        fail("a stylus script needs the virtual device (--mouse-stylus or --virtual-device)");
        return false;
    }
    m_steps = std::move(*steps);
    m_next = 0;
    m_stepEnds = hdapi::VirtualDevice::instance().tickCount();
    return true;
}

void Automation::playStep()
{
    hdapi::VirtualDevice& device = hdapi::VirtualDevice::instance();
    const Workbench& bench = m_window.workbench();
    Haptics* haptics = bench.device();
    if (!haptics || !device.isOpen()) {
        fail("the virtual device closed during the stylus script");
        return;
    }
    // The servo thread runs at 1 kHz: a step lasts its ticks, counted on the device.
    if (device.tickCount() < m_stepEnds) return;
    if (m_next == m_steps.size()) {
        m_player.stop();
        QTimer::singleShot(kSettleMilliseconds, this, &Automation::finish);
        return;
    }
    const StylusStep& step = m_steps[m_next++];
    Vector3d p(static_cast<float>(step.position[0]), static_cast<float>(step.position[1]),
               static_cast<float>(step.position[2]));
    if (step.atNode) {
        // The node's undeformed position, where the device shows it now.
        p += Haptics::modelToDevice(haptics->getTransform(), bench.network()->getAtom(step.node)->getMyLocalPosition());
    }
    device.setPosition(p.x, p.y, p.z);
    device.setButtons(step.buttons);
    m_stepEnds = device.tickCount() + static_cast<std::uint64_t>(step.ticks);
}

bool Automation::writeScreenshot(std::string& error)
{
    // The picture is made in memory and written like every other output: a failed write keeps
    // the old file.
    std::string format = m_options.screenshot.extension().string();
    if (!format.empty()) format.erase(0, 1);
    for (char& c : format) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (format.empty()) format = "png";
    if (!QImageWriter::supportedImageFormats().contains(QByteArray::fromStdString(format))) {
        error = "no picture format is known by the ending ." + format;
        return false;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!m_window.grab().toImage().save(&buffer, format.c_str())) {
        error = "the picture could not be made";
        return false;
    }
    AtomicFile out(m_options.screenshot);
    out.stream().write(bytes.constData(), bytes.size());
    if (!out.commit()) {
        error = out.error();
        return false;
    }
    return true;
}

bool Automation::writeViewReport(std::string& error)
{
    const COpenGL* view = m_window.view();
    if (!view) {
        error = "there is no view";
        return false;
    }
    const ViewReport r = view->viewReport();
    std::ostringstream json;
    json << std::setprecision(10) << "{\n  \"viewport\": [" << r.viewport[0] << ", " << r.viewport[1] << ", "
         << r.viewport[2] << ", " << r.viewport[3] << "],\n  \"node_bounds\": [" << r.nodeBounds[0] << ", "
         << r.nodeBounds[1] << ", " << r.nodeBounds[2] << ", " << r.nodeBounds[3] << "],\n  \"nodes\": " << r.nodes
         << ",\n  \"nodes_outside\": " << r.nodesOutside << ",\n  \"camera_distance\": " << view->getCurrentCamZ()
         << "\n}\n";
    AtomicFile out(m_options.viewReport);
    out.stream() << json.str();
    if (!out.commit()) {
        error = out.error();
        return false;
    }
    return true;
}

bool Automation::showAnimation()
{
    m_animationShown = true;
    const ElasticNetworkModel* network = m_window.workbench().network();
    const int playable = network ? ModeAnimation::playableModes(*network) : 0;
    if (m_options.animateMode > playable) {
        fail("--animate-mode " + std::to_string(m_options.animateMode) + ": the structure holds the vectors of "
             + std::to_string(playable) + " modes");
        return false;
    }
    m_window.controls().animateModeNumber->setValue(m_options.animateMode);
    if (!m_window.logic().animate(true)) {
        fail("--animate-mode " + std::to_string(m_options.animateMode) + ": "
             + m_window.controls().animationAmplitudeLabel->text().toStdString());
        return false;
    }
    m_window.workbench().animation().holdAtPeak();
    std::cout << m_window.controls().animationAmplitudeLabel->text().toStdString() << std::endl;
    return true;
}

bool Automation::writeOutput(const std::filesystem::path& out, const std::string& what,
                             const std::function<bool(std::string&)>& write)
{
    if (out.empty()) return true;
    std::string error;
    if (!write(error)) {
        fail("cannot write the " + what + " " + out.string() + (error.empty() ? "" : ": " + error));
        return false;
    }
    std::cout << what << ": " << out.string() << std::endl;
    return true;
}

void Automation::finish()
{
    if (m_finished) return;
    // The mode first, held at its largest swing, then the pictures once frames show it.
    if (m_options.animateMode > 0 && !m_animationShown) {
        if (showAnimation()) QTimer::singleShot(kSettleMilliseconds, this, &Automation::finish);
        return;
    }
    const bool written =
        writeOutput(m_options.viewReport, "view report", [this](std::string& error) { return writeViewReport(error); })
        && writeOutput(m_options.plotOut, "plot",
                       [this](std::string& error) {
                           PlotsWindow& plots = m_window.plots();
                           plots.refresh();
                           const std::optional<PlotsWindow::Plot> plot = PlotsWindow::byName(m_options.plotName);
                           if (!plot) error = "no plot " + m_options.plotName;
                           return plot && plots.exportPlot(*plot, m_options.plotOut, error);
                       })
        && writeOutput(m_options.screenshot, "screenshot",
                       [this](std::string& error) { return writeScreenshot(error); })
        && writeOutput(m_options.saveSession, "session",
                       [this](std::string& error) { return m_window.saveSessionTo(m_options.saveSession, error); })
        && writeOutput(m_options.saveAs, "deformed structure", [this](std::string&) {
               const ElasticNetworkModel* network = m_window.workbench().network();
               return m_window.view() && network && network->write_C_alphaFile(m_options.saveAs.string());
           });
    if (!written) return;
    m_finished = true;
    if (m_options.quit) QCoreApplication::exit(m_exitCode);
}

} // namespace vornax
