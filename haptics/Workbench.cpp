#include "haptics/Workbench.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "enm/SimulationThread.h"
#include "haptics/SensableHaptics.h"
#include "molecule/Atom.h"
#include "molecule/SessionFile.h"

#include <chrono>
#include <string>

namespace vornax {

Placement Placement::around(const Vector3d& maxPos, const Vector3d& centre)
{
    return {centre, maxPos.euclideanDistance(centre)};
}

Placement Placement::ofNodes(const ElasticNetworkModel& network)
{
    const int32_t n = network.getAmountOfAtoms();
    double sum[3] = {0.0, 0.0, 0.0};
    for (int32_t i = 0; i < n; ++i) {
        const Vector3d p = network.getAtom(i)->getMyLocalPosition();
        sum[0] += p.x, sum[1] += p.y, sum[2] += p.z;
    }
    const Vector3d centre = n > 0
        ? Vector3d(static_cast<float>(sum[0] / n), static_cast<float>(sum[1] / n), static_cast<float>(sum[2] / n))
        : Vector3d();
    return around(network.findMaxCoord(), centre);
}

Workbench::Workbench() : m_network(std::make_unique<ElasticNetworkModel>()) { m_network->init(); }

Workbench::~Workbench() { shutdown(); }

bool Workbench::loaded() const { return m_network && m_network->isInit(); }

Vector3d Workbench::initialTranslation(const Placement& placement, const DeviceParameters& params)
{
    return {0.0f, params.viewHeightOffset, -placement.sphereRadius};
}

Vector3d Workbench::initialTranslation() const { return initialTranslation(m_placement, m_deviceParams); }

float Workbench::cameraDistance(const DeviceParameters& params)
{
    return params.deviceModel == 2 ? kPremiumCameraZ : kStandardCameraZ;
}

float Workbench::cameraDistance() const { return cameraDistance(m_deviceParams); }

float Workbench::forceMax() const { return m_device ? m_deviceParams.maxForce : 0.0f; }

float Workbench::averageForce() const { return m_device ? m_device->getAveForce() : kNoDeviceAverageForce; }

void Workbench::setViewSize(float width, float height)
{
    m_viewWidth = width;
    m_viewHeight = height;
}

bool Workbench::openDevice(const std::vector<Atom*>& atoms, int32_t* deviceModel)
{
    std::unique_ptr<SensableHaptics> device = setUpHapticDevice(atoms, m_viewWidth, m_viewHeight, {}, deviceModel);
    if (!device) return false;
    adoptDevice(std::move(device));
    return true;
}

void Workbench::adoptDevice(std::unique_ptr<Haptics> device)
{
    m_device = std::move(device);
    if (!m_device) return;
    m_deviceParams = m_device->getDeviceParams();
    if (m_network && m_network->getAmountOfAtoms() > 0) m_device->addElasticNetworkInfo(m_network.get());
}

bool Workbench::replaceDevice(const std::vector<Atom*>& atoms, float cameraZ, int32_t* deviceModel)
{
    adoptDevice(nullptr);
    if (!openDevice(atoms, deviceModel)) return false;
    placeDevice(*m_device, *m_network, atoms, m_placement.centre, m_translation, cameraZ);
    return true;
}

void Workbench::placeDevice(Haptics& device, ElasticNetworkModel& network, const std::vector<Atom*>& atoms,
                            const Vector3d& centre, const Vector3d& translation, float cameraZ)
{
    device.stopSched();
    device.resetProteinData(atoms);
    device.setModelCentre(centre);
    device.setInitPositions(translation);
    device.addElasticNetworkInfo(&network);
    device.setCameraZoom(cameraZ);
    device.resetWorkspace();
    device.setReconfiguringMolecule(1);
    device.setRenderingElasticNetwork(true);
}

void Workbench::handOver(std::unique_ptr<ElasticNetworkModel> network, const std::vector<Atom*>& atoms,
                         const Placement& placement)
{
    if (network && network != m_network) {
        // The simulation thread and the servo ticks read the network: both stop before it
        // changes (start() restarts the ticks once the new network is ready).
        m_animation.stop();
        m_colouring.clear();
        stopSimulation();
        if (m_device) {
            m_device->stopSched();
            m_device->addElasticNetworkInfo(network.get());
        }
        m_network = std::move(network);
        ++m_generation;
    }
    const auto start = std::chrono::steady_clock::now();
    console::Line() << "midMolPoint x: " << placement.centre.x;
    console::Line() << "midMolPoint  y: " << placement.centre.y;
    console::Line() << "midMolPoint z: " << placement.centre.z;
    console::line("attempting to initilise");
    m_placement = placement;
    m_translation = initialTranslation();
    if (m_device) placeDevice(*m_device, *m_network, atoms, m_placement.centre, m_translation, cameraDistance());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::Line() << "Time taken to initilise protein: " << seconds;
}

void Workbench::stop()
{
    if (m_device) m_device->stopSched();
}

void Workbench::start()
{
    if (m_device) m_device->startSched();
    if (m_network) m_network->setInit();
}

void Workbench::resetPlacement()
{
    m_translation = initialTranslation();
    if (m_device) m_device->reset(m_translation);
}

void Workbench::startSimulation()
{
    if (m_simulation || !m_network) return;
    m_simulation = std::make_unique<SimulationThread>(m_network.get());
}

void Workbench::stopSimulation()
{
    if (!m_simulation) return;
    m_simulation->stop();
    m_simulation.reset();
}

bool Workbench::simulationRunning() const { return m_simulation && m_simulation->isRunning(); }

void Workbench::shutdown()
{
    stopSimulation();
    // The servo ticks read the network: the device goes before it.
    m_device.reset();
    m_network.reset();
}

void Workbench::useAllModes(const ModeChangeToken& token, bool on)
{
    if (m_network) m_network->useAllModes(token, on);
    if (m_device) m_device->setUsingAllModes(on);
}

void Workbench::setSaveForces(bool on)
{
    if (!m_device) return;
    if (!on) m_device->resetAllForces();
    m_device->setSaveForces(on);
}

bool Workbench::restoreKeptForce(const SessionForce& force)
{
    ElasticNetworkModel* eln = m_network.get();
    if (!eln || !eln->deformation().restoreKeptForce(force)) {
        console::write(console::Warning, "atom: " + std::to_string(force.node) + " could not take its saved force");
        return false;
    }
    Atom* atom = eln->getAtom(force.node);
    if (m_device) {
        m_device->restoreSelection(atom);
    } else {
        eln->addAtomToList(atom);
        atom->setSelected(true);
    }
    eln->setNeedsListUpdate(true);
    return true;
}

bool Workbench::writeWorkspace(SessionWorkspace& out) const
{
    if (!m_device) return false;
    out.transform = m_device->getHapticsTransform();
    out.lastRotation = m_device->getHapticsLastRot();
    out.thisRotation = m_device->getHapticsThisRot();
    const Vector3d t = m_device->getTVEC();
    out.translation = {t.x, t.y, t.z};
    console::Line() << "close: " << out.lastRotation[7];
    console::Line() << "close: " << t.x << " " << t.y << " " << t.z;
    return true;
}

bool Workbench::restoreWorkspace(const SessionWorkspace& in)
{
    if (!m_device) return false;
    m_device->setHapticsTransform(in.transform);
    m_device->setHapticsLastRot(in.lastRotation);
    m_device->setHapticsThisRot(in.thisRotation);
    m_device->setTranslationVector(in.translation[0], in.translation[1], in.translation[2]);
    console::Line() << "open: " << in.translation[0] << " " << in.translation[1] << " " << in.translation[2];
    return true;
}

} // namespace vornax
