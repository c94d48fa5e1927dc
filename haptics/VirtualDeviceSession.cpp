#include "haptics/VirtualDeviceSession.h"

#include "enm/ElasticNetworkModel.h"
#include "haptics/hdapi/VirtualDevice.h"
#include "haptics/Workbench.h"
#include "molecule/Atom.h"
#include "molecule/FileHandle.h"

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

    // The window's set-up: open the device, place it for the structure with the scheduler
    // stopped, reset the placement, then start it again.
    m_device = std::make_unique<SensableHaptics>(atoms, 800.0f, 600.0f);
    m_ok = m_device->initHD();
    if (!m_ok) return;
    const DeviceParameters params = m_device->getDeviceParams();
    // A structure file's atoms give its centre and extent as the reader measures them; without
    // atoms (eigen data files, or a host that keeps none) the nodes do, as they do in the window.
    const Placement placement = atoms.empty()
        ? Placement::ofNodes(network)
        : Placement::around(maxCoordOfAtoms(atoms), centreOfAtoms(atoms));
    m_sphereRadius = placement.sphereRadius;
    const Vector3d translation = Workbench::initialTranslation(placement, params);
    Workbench::placeDevice(*m_device, network, atoms, placement.centre, translation,
                           Workbench::cameraDistance(params));
    m_device->reset(translation);
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
