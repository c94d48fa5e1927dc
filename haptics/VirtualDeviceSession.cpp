#include "haptics/VirtualDeviceSession.h"

#include "enm/ElasticNetworkModel.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "molecule/Atom.h"

namespace vornax {

using hdapi::VirtualDevice;

VirtualDeviceSession::VirtualDeviceSession(ElasticNetworkModel& network, std::vector<Atom*> atoms,
                                           VirtualSessionOptions options)
    : m_network(network), m_options(std::move(options))
{
    VirtualDevice& vd = VirtualDevice::instance();
    vd.reset();
    hdapi::useVirtualDevice(true);
    vd.setManualMode(m_options.manual);
    if (!m_options.modelName.empty()) vd.setModelName(m_options.modelName);
    if (m_options.usableWorkspace) vd.setUsableWorkspace(*m_options.usableWorkspace);

    // The view's set-up: open the device, then the load workflow's steps with the scheduler
    // stopped, then start it again.
    m_device = std::make_unique<SensableHaptics>(atoms, 800.0f, 600.0f);
    m_ok = m_device->initHD();
    if (!m_ok) return;
    deviceParams = m_device->getDeviceParams();
    m_device->stopSched();

    const DeviceParameters params = m_device->getDeviceParams();
    m_sphereRadius = network.findMaxCoord().euclideanDistance(network.getMidPoint());
    const Vector3d translationVector(0.0f, params.viewHeightOffset, -m_sphereRadius);
    m_device->resetProteinData(std::move(atoms));
    m_device->setInitPositions(translationVector);
    m_device->addElasticNetworkInfo(&network);
    m_device->setCameraZoom(params.deviceModel == 2 ? 866.0f : 266.0f);
    m_device->reset(translationVector);
    m_device->resetWorkspace();
    m_device->setRenderingElasticNetwork(true);
    m_device->setReconfiguringMolecule(1);
    m_device->setSimulateMode(true);
    m_device->setTranslates(false);
    m_device->setSaveForces(m_options.saveForces);
    m_device->addNewForceForEq(m_options.forceFactor);

    m_device->startSched();
    network.setInit();
}

VirtualDeviceSession::~VirtualDeviceSession()
{
    m_device.reset();
    VirtualDevice::instance().reset();
}

Vector3d VirtualDeviceSession::nodeInDevice(int32_t node)
{
    return Haptics::modelToDevice(m_device->getTransform(), m_network.getAtom(node)->getMyLocalPosition());
}

void VirtualDeviceSession::setStylus(const Vector3d& p, int32_t buttons)
{
    VirtualDevice& vd = VirtualDevice::instance();
    vd.setPosition(p.x, p.y, p.z);
    vd.setButtons(buttons);
}

TickRecord VirtualDeviceSession::tick(const Vector3d& p, int32_t buttons)
{
    VirtualDevice& vd = VirtualDevice::instance();
    setStylus(p, buttons);
    vd.clearForcesSent();
    vd.tick();
    m_network.simulate();
    m_network.updateDeformables();

    TickRecord record;
    const std::vector<VirtualDevice::SentForce> sent = vd.forcesSent();
    if (!sent.empty()) {
        record.forceSent = true;
        record.force = sent.back().force;
    }
    if (Atom* atom = m_device->getCurrentAtom()) {
        record.atom = atom->getMyPositionInOriginalList();
        record.pressedState = atom->getPressed();
    }
    return record;
}

TickRecord VirtualDeviceSession::hold(const Vector3d& p, int32_t buttons, int64_t count)
{
    TickRecord last;
    for (int64_t i = 0; i < count; ++i) last = tick(p, buttons);
    return last;
}

void VirtualDeviceSession::run(const StylusStep& step, std::vector<TickRecord>* records)
{
    run(step, [records](const TickRecord& record) {
        if (records) records->push_back(record);
    });
}

void VirtualDeviceSession::run(const StylusStep& step, const std::function<void(const TickRecord&)>& each)
{
    Vector3d p(static_cast<float>(step.position[0]), static_cast<float>(step.position[1]),
               static_cast<float>(step.position[2]));
    if (step.atNode) p += nodeInDevice(step.node);
    for (int64_t i = 0; i < step.ticks; ++i) {
        const TickRecord record = tick(p, step.buttons);
        if (each) each(record);
    }
}

} // namespace vornax
