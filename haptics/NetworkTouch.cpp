// The servo tick in network mode: contact with the network's atoms, the surface force, the
// pull handed to the network, release and ramp-down.
#include "haptics/SensableHaptics.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "molecule/Atom.h"

#include <algorithm>
#include <cmath>

namespace vornax {

using namespace hdapi;

namespace {

constexpr float kFilterNew = 0.01f; ///< weight of this tick's force in the output filter
constexpr float kRampStep = 0.01f;  ///< N per tick
constexpr float kRampEnd = 0.3f;    ///< N: below this the released force is removed

} // namespace

void SensableHaptics::refreshTickTransform() { tickTransform = publishedTransform.load(); }

void SensableHaptics::finishTick()
{
    lastTickSeconds.store(std::chrono::duration<float>(std::chrono::steady_clock::now() - tickStart).count());
}

void SensableHaptics::sendForce()
{
    // The one way out to the motors: whatever the network's data did to the computed force,
    // nothing that is not a number and nothing beyond the device's limit is sent. The filter
    // goes on from the force actually sent.
    const double limit = std::max(0.0f, deviceParameters.maxForce);
    double squared = 0.0;
    for (double c : currentForce) squared += c * c;
    if (!std::isfinite(squared)) {
        bool finite = true;
        for (double c : currentForce) finite = finite && std::isfinite(c);
        if (!finite) {
            for (double& c : currentForce) c = 0.0;
        } else {
            // Finite components whose squares overflow: the largest one sets the direction's scale.
            double largest = 0.0;
            for (double c : currentForce) largest = std::max(largest, std::fabs(c));
            for (double& c : currentForce) c = c / largest * limit * 0.5;
        }
        squared = 0.0;
        for (double c : currentForce) squared += c * c;
    }
    if (squared > limit * limit) {
        const double scale = limit / std::sqrt(squared);
        for (double& c : currentForce) c *= scale;
        // Rounding may leave the length a hair above the limit.
        for (double& c : currentForce) c = std::nextafter(c, 0.0);
    }
    hdSetDoublev(HD_CURRENT_FORCE, currentForce);
    sentForce.store(Vector3d(static_cast<float>(currentForce[0]), static_cast<float>(currentForce[1]),
                             static_cast<float>(currentForce[2])));
}

SensableHaptics::Tick SensableHaptics::beginTick()
{
    Tick tick;
    // 1. This tick's force starts from nothing; the last one is the filter's memory.
    for (int i = 0; i < 3; ++i) {
        previousForce[i] = currentForce[i];
        currentForce[i] = 0.0;
    }
    // 2. Buttons.
    hdGetIntegerv(HD_CURRENT_BUTTONS, &tick.buttons);
    lastButtons.store(tick.buttons);
    // 3. Stylus in device and model coordinates.
    tick.device = Vector3d(static_cast<float>(displayState->position[0]), static_cast<float>(displayState->position[1]),
                           static_cast<float>(displayState->position[2]));
    devicePoint.store(tick.device);
    refreshTickTransform();
    probePoint = deviceToModel(tickTransform, tick.device);
    // 4. Timing.
    tickStart = std::chrono::steady_clock::now();
    return tick;
}

bool SensableHaptics::endsAtNewPress(const Tick& tick)
{
    // 6. A pull in non-saving mode freezes when the button goes up; the next press clears it.
    if (!tick.saving) {
        if (tick.buttons == 0 && pullArmed) {
            pullReleased = true;
        } else if (tick.buttons == HD_DEVICE_BUTTON_1 && pullReleased) {
            pullReleased = false;
            pullArmed = false;
            return true;
        }
    }
    return false;
}

void SensableHaptics::rotateWithStylus(const Tick& tick)
{
    // 7. Rotation with the stylus.
    if (translates.load()) {
        const bool rotate =
            (tick.buttons == HD_DEVICE_BUTTON_1 && !simulateMode.load()) || tick.buttons == HD_DEVICE_BUTTON_2;
        if (rotate) {
            const auto x = static_cast<int32_t>(probeWindowX.load());
            const int32_t y = viewHeight.load() - static_cast<int32_t>(probeWindowY.load());
            if (!rotatingWithStylus) {
                mouseDownRotateLocked(x, y);
                rotatingWithStylus = true;
            } else {
                updateMoleculePositionLocked(x, y);
            }
        } else if (tick.buttons == 0) {
            rotatingWithStylus = false;
        }
    }
}

void SensableHaptics::navigate(const Tick& tick)
{
    // The window thread changes the navigation under its lock, for a few copies at a time;
    // the servo tick never waits for it. A tick that finds it busy leaves the navigation to
    // the next tick and works with the transform last published.
    std::unique_lock lock(navigationMutex, std::try_to_lock);
    if (lock.owns_lock()) {
        rotateWithStylus(tick);
        // 8. Navigation.
        hapticsTranslateLocked();
        updateMoleculeLocked();
    }
    refreshTickTransform();
}

void SensableHaptics::suspendTouch(const Tick& tick)
{
    // 9. Touching suspended.
    SCP.store(tick.device);
    probeMarker.store(tick.device);
    probeInContact = false;
    if (Atom* atom = currentAtom.load()) {
        atom->saveForce();
        if (tick.saving) currentAtom.store(nullptr);
    }
}

void SensableHaptics::continueRelease(ElasticNetworkModel* eln)
{
    // 10. A released force is being ramped down.
    if (Atom* atom = currentAtom.load())
        rampDown(eln, atom);
    else
        releasing = releaseEnding = false;
}

void SensableHaptics::freezeOutput(const Tick& tick)
{
    // 11. Output frozen after the button went up.
    SCP.store(tick.device);
    probeMarker.store(tick.device);
}

void SensableHaptics::seekContact(ElasticNetworkModel* eln, const Tick& tick)
{
    // 12. Looking for contact.
    bool hit = false;
    Atom* atom = eln->collisionCheck(probePoint, hit);
    if (!hit) atom = nullptr;
    currentAtom.store(atom, std::memory_order_release);
    if (atom) {
        pullArmed = false;
        probeInContact = true;
        contactState = 1;
        contactPoint = atom->constrainPointToSphereDeformed(probePoint);
        constrainedProbe = surfaceProxy = contactPoint;
        atom->setContact(true);
        atom->saveInitialPosition();
        dragProxyValid = false;
        SCP.store(modelToDevice(tickTransform, contactPoint));
        const Vector3d kept = atom->getMyForceApplied();
        previousForce[0] = kept.x;
        previousForce[1] = kept.y;
        previousForce[2] = kept.z;
    } else {
        SCP.store(tick.device);
        probeMarker.store(tick.device);
        contactState = -1;
    }
}

bool SensableHaptics::selectForPull(ElasticNetworkModel* eln, Atom* atom, const Tick& tick)
{
    // 15. Front button on the atom: select it and request a pull.
    const int32_t index = atom->getMyPositionInOriginalList();
    if (!atom->isSelected()) {
        std::unique_lock lock(selectionMutex, std::try_to_lock);
        if (!lock.owns_lock()) {
            // The window thread is undoing a selection: select on a later tick.
            return false;
        }
        eln->addAtomToList(atom);
        atom->setSelected(true);
        selectionStack.push_back(index);
    }
    if (atom->compareAndSetPressed(3, 0)) {
        atom->clearReleaseAfterGrab();
        Deformation::requestStep();
        if (!tick.saving) pullArmed = true;
    }
    return simulateMode.load() && atom->isSelected();
}

SensableHaptics::PullForce SensableHaptics::computePull(Atom* atom)
{
    // 16 (a)–(f). The pull from the stylus's distance to where the atom was touched.
    PullForce p;
    constrainedProbe = atom->constrainPointToSphereDeformed(probePoint);
    atom->changeForceRenderMode(false);
    probeMarker.store(modelToDevice(tickTransform, constrainedProbe));
    const Vector3d d = atom->getInitialPosition() - probePoint;
    p.magnitude = (d.size() - 6.0f * hapticZoom.load()) / hapticScale;
    p.direction = d.normalized();
    float drag[3] = {0.0f, 0.0f, 0.0f};
    const float hip[3] = {probePoint.x, probePoint.y, probePoint.z};
    calcForce(drag, hip, hip);
    const Vector3d f(drag[0], drag[1], drag[2]);
    p.perpendicular = f - p.direction * p.direction.dotProduct(f);
    p.maxForce = deviceParameters.maxForce;
    if (!std::isfinite(p.magnitude)) p.magnitude = 0.0f;
    p.magnitude = std::clamp(p.magnitude, 0.0f, p.maxForce);
    p.factor = eqForceFactor.load();
    p.force = p.direction * (p.magnitude * p.factor);
    return p;
}

void SensableHaptics::handOverPull(ElasticNetworkModel* eln, Atom* atom, const PullForce& p)
{
    // 16 (g). The network takes the pull; the hand feels it through the output filter.
    const int32_t index = atom->getMyPositionInOriginalList();
    eln->applyForce(p.force, index);
    atom->addAForce(p.force, p.magnitude * p.factor);
    atom->setEQForce(p.factor, p.maxForce);
    const Vector3d output = rotateToDevice(tickTransform, p.direction * p.magnitude) + p.perpendicular;
    for (int i = 0; i < 3; ++i)
        currentForce[i] = (1.0 - kFilterNew) * previousForce[i] + kFilterNew * static_cast<double>(output[i]);
    sendForce();
}

void SensableHaptics::renderElasticNetwork()
{
    Tick tick = beginTick(); // 1–4

    // 5. Nothing to touch.
    ElasticNetworkModel* eln = elasticNetwork.load();
    if (!eln || !eln->isInit()) return finishTick();
    tick.saving = saveForces.load();

    if (endsAtNewPress(tick)) return;     // 6
    navigate(tick);                       // 7, 8
    if (interactionEnabled.load() == 0) { // 9
        suspendTouch(tick);
        return finishTick();
    }
    if (releasing) { // 10
        continueRelease(eln);
        return finishTick();
    }
    if (!tick.saving && pullReleased) return freezeOutput(tick); // 11
    if (!probeInContact) {                                       // 12
        seekContact(eln, tick);
        return finishTick();
    }

    Atom* atom = currentAtom.load();
    // 13, 14. Contact without a pull: feel the surface. 15: a pull that cannot start yet, too.
    if (!atom || !eln->setupComplete() || tick.buttons != HD_DEVICE_BUTTON_1 || !selectForPull(eln, atom, tick)) {
        setForce(probePoint, false);
        return finishTick();
    }
    // 16. Pull.
    const PullForce pull = computePull(atom);
    if (pullArmed || tick.saving) handOverPull(eln, atom, pull);
    finishTick();
}

void SensableHaptics::rampDown(ElasticNetworkModel* eln, Atom* atom)
{
    if (!releaseEnding) {
        const int32_t index = atom->getMyPositionInOriginalList();
        const Vector3d force = atom->getMyForceApplied().normalized() * releaseForce;
        releaseForce -= kRampStep;
        eln->applyForce(force, index);
        atom->addAForce(force, releaseForce);
        atom->simulateState(1);
        Deformation::requestStep();
        if (releaseForce >= kRampEnd) return;
        releaseEnding = true;
    }
    finishRelease(eln, atom);
}

void SensableHaptics::finishRelease(ElasticNetworkModel* eln, Atom* atom)
{
    // The atom leaves the network's list under the selection lock; the window thread may hold
    // it for an undo, so try again on the next tick.
    std::unique_lock lock(selectionMutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    // The last ramp force must leave the displacement too. With no simulation step running
    // (and none starting), put in a zero force and hand the atom over as released: the next
    // step computes the displacement without its force, records the zero force as kept and
    // answers idle. Setting the atom idle here instead would let the step skip it and leave
    // the last ramp force in the displacement.
    std::optional<ModeChangeToken> hold = eln->tryBeginModeChange();
    if (!hold) return; // a step or a mode change is running
    const int32_t index = atom->getMyPositionInOriginalList();
    eln->applyForce(Vector3d(), index);
    atom->simulateState(2);
    hold->release();

    atom->addAForce(Vector3d(), 0.0f);
    releasing = false;
    releaseEnding = false;
    for (double& c : currentForce) c = 0.0;
    atom->setSavedForce(Vector3d());
    atom->setScaledForce(Vector3d());
    atom->setSelected(false);
    eln->removeAtomFromList(index);
    sendForce();
    currentAtom.store(nullptr, std::memory_order_release);
}

void SensableHaptics::setForce(Vector3d HIP, bool /*holding*/)
{
    Atom* atom = currentAtom.load();
    if (!atom) return;
    Vector3d P = surfaceProxy;
    const Vector3d n = (P - atom->getMyLocalPosition()).normalized();
    Vector3d t = HIP - P;
    t = t - n * t.dotProduct(n);
    constrainedProbe = proxyTarget = P;
    const Vector3d t0 = t;
    const float slide = t.size();
    if (slide > proxySlack) {
        P += t * ((slide - proxySlack) / slide);
        // Back onto the sphere of radius R about the deformed centre, along the radius: the
        // root of s² + 2(w·(P − c))s + |P − c|² − R² = 0 that is positive gives R − |P − c|.
        const Vector3d c = atom->getMyDeformedPosition();
        const float R = 12.0f * hapticZoom.load();
        const Vector3d w = (P - c).normalized();
        const float b = 2.0f * w.dotProduct(P - c);
        const float k = (P - c).sizeSqr() - R * R;
        const float root = std::sqrt(std::max(0.0f, b * b - 4.0f * k));
        float s = (-b - root) / 2.0f;
        if (!(s > 0.0f)) s = (root - b) / 2.0f;
        proxyTarget = P + w * s;
        surfaceProxy = proxyTarget;
    }
    const Vector3d scp = modelToDevice(tickTransform, proxyTarget);
    SCP.store(scp);
    probeMarker.store(scp);
    const Vector3d output =
        (scp - devicePoint.load()) * deviceParameters.springStiffness - rotateToDevice(tickTransform, t0) * 0.1f;
    for (int i = 0; i < 3; ++i) {
        currentForce[i] = kFilterNew * static_cast<double>(output[i]) + (1.0 - kFilterNew) * previousForce[i];
        previousForce[i] = currentForce[i];
    }
    sendForce();
    contactPoint = atom->constrainPointToSphereDeformed(HIP);
    releaseConditions(contactPoint, HIP);
}

void SensableHaptics::reportReleasedModes(const Atom* atom)
{
    // The slider's mode count the pull went through, as the grab recorded it on the atom.
    const ModeStateArray state = atom->getStateArray();
    if (state[0] != 1) return;
    console::Line() << "setting amount of modes in atom: " << state[1];
    console::Line() << "atom: " << atom->getMyPositionInOriginalList();
}

bool SensableHaptics::calcForce(float* force, const float* hapticPoint, const float* /*centre*/)
{
    if (!dragProxyValid) {
        dragProxyValid = true;
        std::copy(hapticPoint, hapticPoint + 3, dragProxy);
        return true;
    }
    float v[3];
    float lengthSqr = 0.0f;
    for (int i = 0; i < 3; ++i) {
        v[i] = hapticPoint[i] - dragProxy[i];
        force[i] -= 0.3f * v[i];
        lengthSqr += v[i] * v[i];
    }
    if (lengthSqr > dragProxyRadiusSquared) {
        const float length = std::sqrt(lengthSqr);
        const float move = (length - dragProxyRadius + 0.35f) / length;
        for (int i = 0; i < 3; ++i) dragProxy[i] += v[i] * move;
    }
    return true;
}

void SensableHaptics::releaseConditions(Vector3d& tempSCP, Vector3d& HIP)
{
    Atom* atom = currentAtom.load();
    if (!atom || contactState != 1) return;
    const bool saving = saveForces.load();
    const bool network = renderingElasticNetwork.load();
    const Vector3d centre = network ? atom->getMyDeformedPosition() : atom->getMyLocalPosition();
    const Vector3d normal = (tempSCP - centre).normalized();
    // A centre that is not a number (a deformation gone wild) cannot hold the probe: the
    // contact ends, so that a pull on it is released like any other.
    const bool centreUsable = std::isfinite(normal.x) && std::isfinite(normal.y) && std::isfinite(normal.z);
    if (centreUsable && !pointToPlane(tempSCP, normal, HIP)) return; // still inside

    const Vector3d device = devicePoint.load();
    if (!network) {
        // Surface mode: the contact simply ends.
        probeInContact = false;
        SCP.store(device);
        probeMarker.store(device);
        contactState = -1;
        atom->setContact(false);
        if (ElasticNetworkModel* eln = elasticNetwork.load(); eln && saving) eln->setNeedsListUpdate(true);
        currentAtom.store(nullptr);
        dragProxyValid = false;
        return;
    }

    if (!(pullReleased && !saving)) probeInContact = false;
    SCP.store(device);
    probeMarker.store(device);
    contactState = -1;
    atom->setContact(false);
    atom->saveForce();
    const bool noButton = lastButtons.load() == 0;
    // The modes the force went in through were recorded on the atom by the simulation step of
    // the grab; it leaves by the same route.
    // Only a pull under way is let go. The probe leaving a node it merely touched (its press
    // state idle, perhaps with a force kept from before) must not mark that node released: the
    // next step would keep whatever force the network was last given as this node's, and the
    // node's next grab could not start.
    if (!saving) {
        if ((atom->hasForceApplied() || atom->isSelected()) && noButton && atom->releasePull()) {
            releaseForce = atom->getMyForceApplied().size();
            if (!pullReleased) releasing = true;
            reportReleasedModes(atom);
            Deformation::requestStep();
        }
    } else {
        if (ElasticNetworkModel* eln = elasticNetwork.load()) eln->setNeedsListUpdate(true);
        if (noButton && atom->releasePull()) {
            releaseForce = atom->getMyForceApplied().size();
            reportReleasedModes(atom);
            Deformation::requestStep();
        }
        dragProxyValid = false;
        for (double& c : currentForce) c = 0.0;
        sendForce();
    }
}

} // namespace vornax
