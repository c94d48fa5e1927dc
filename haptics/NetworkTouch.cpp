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

void SensableHaptics::refreshTickTransform()
{
    std::lock_guard lock(navigationMutex);
    tickTransform = moleculeTransform;
}

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

void SensableHaptics::renderElasticNetwork()
{
    // 1. This tick's force starts from nothing; the last one is the filter's memory.
    for (int i = 0; i < 3; ++i) {
        previousForce[i] = currentForce[i];
        currentForce[i] = 0.0;
    }
    // 2. Buttons.
    HDint buttons = 0;
    hdGetIntegerv(HD_CURRENT_BUTTONS, &buttons);
    lastButtons.store(buttons);
    // 3. Stylus in device and model coordinates.
    const Vector3d device(static_cast<float>(displayState->position[0]), static_cast<float>(displayState->position[1]),
                          static_cast<float>(displayState->position[2]));
    devicePoint.store(device);
    refreshTickTransform();
    probePoint = deviceToModel(tickTransform, device);
    // 4. Timing.
    tickStart = std::chrono::steady_clock::now();

    // 5. Nothing to touch.
    ElasticNetworkModel* eln = elasticNetwork.load();
    if (!eln || !eln->isInit()) return finishTick();

    const bool saving = saveForces.load();
    // 6. A pull in non-saving mode freezes when the button goes up; the next press clears it.
    if (!saving) {
        if (buttons == 0 && pullArmed) {
            pullReleased = true;
        } else if (buttons == HD_DEVICE_BUTTON_1 && pullReleased) {
            pullReleased = false;
            pullArmed = false;
            return;
        }
    }

    // 7. Rotation with the stylus.
    if (translates.load()) {
        const bool rotate = (buttons == HD_DEVICE_BUTTON_1 && !simulateMode.load()) || buttons == HD_DEVICE_BUTTON_2;
        if (rotate) {
            const auto x = static_cast<int32_t>(probeWindowX.load());
            const int32_t y = viewHeight.load() - static_cast<int32_t>(probeWindowY.load());
            if (!rotatingWithStylus) {
                mouseDownRotate(x, y);
                rotatingWithStylus = true;
            } else {
                updateMoleculePosition(x, y);
            }
        } else if (buttons == 0) {
            rotatingWithStylus = false;
        }
    }

    // 8. Navigation.
    hapticsTranslate();
    updateMolecule();
    refreshTickTransform();

    // 9. Touching suspended.
    if (interactionEnabled.load() == 0) {
        SCP.store(device);
        probeMarker.store(device);
        probeInContact = false;
        if (Atom* atom = currentAtom.load()) {
            atom->saveForce();
            if (saving) currentAtom.store(nullptr);
        }
        return finishTick();
    }

    // 10. A released force is being ramped down.
    if (releasing) {
        if (Atom* atom = currentAtom.load())
            rampDown(eln, atom);
        else
            releasing = releaseEnding = false;
        return finishTick();
    }

    // 11. Output frozen after the button went up.
    if (!saving && pullReleased) {
        SCP.store(device);
        probeMarker.store(device);
        return;
    }

    // 12. Looking for contact.
    if (!probeInContact) {
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
            SCP.store(device);
            probeMarker.store(device);
            contactState = -1;
        }
        return finishTick();
    }

    Atom* atom = currentAtom.load();
    // 13, 14. Contact without a pull: feel the surface.
    if (!atom || !eln->setupComplete() || buttons != HD_DEVICE_BUTTON_1) {
        setForce(probePoint, false);
        return finishTick();
    }

    // 15. Front button on the atom: select it and request a pull.
    const int32_t index = atom->getMyPositionInOriginalList();
    if (!atom->isSelected()) {
        std::unique_lock lock(selectionMutex, std::try_to_lock);
        if (!lock.owns_lock()) {
            // The window thread is undoing a selection: select on a later tick.
            setForce(probePoint, false);
            return finishTick();
        }
        eln->addAtomToList(atom);
        atom->setSelected(true);
        selectionStack.push_back(index);
    }
    if (atom->compareAndSetPressed(3, 0)) {
        ElasticNetworkModel::requestStep();
        if (!saving) pullArmed = true;
    }
    if (!simulateMode.load() || !atom->isSelected()) {
        setForce(probePoint, false);
        return finishTick();
    }

    // 16. Pull.
    constrainedProbe = atom->constrainPointToSphereDeformed(probePoint);
    atom->changeForceRenderMode(false);
    probeMarker.store(modelToDevice(tickTransform, constrainedProbe));
    const Vector3d d = atom->getInitialPosition() - probePoint;
    float magnitude = (d.size() - 6.0f * hapticZoom.load()) / hapticScale;
    const Vector3d u = d.normalized();
    float drag[3] = {0.0f, 0.0f, 0.0f};
    const float hip[3] = {probePoint.x, probePoint.y, probePoint.z};
    calcForce(drag, hip, hip);
    const Vector3d f(drag[0], drag[1], drag[2]);
    const Vector3d fPerp = f - u * u.dotProduct(f);
    const float maxForce = deviceParameters.maxForce;
    if (!std::isfinite(magnitude)) magnitude = 0.0f;
    magnitude = std::clamp(magnitude, 0.0f, maxForce);
    const float factor = eqForceFactor.load();
    const Vector3d F = u * (magnitude * factor);
    if (pullArmed || saving) {
        eln->applyForce(F, index);
        atom->addAForce(F, magnitude * factor);
        atom->setEQForce(factor, maxForce);
        const Vector3d output = rotateToDevice(tickTransform, u * magnitude) + fPerp;
        for (int i = 0; i < 3; ++i)
            currentForce[i] = (1.0 - kFilterNew) * previousForce[i] + kFilterNew * static_cast<double>(output[i]);
        sendForce();
    }
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
        ElasticNetworkModel::requestStep();
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
    if (!eln->setChangingSimMode(true)) return; // a step or a mode change is running
    const int32_t index = atom->getMyPositionInOriginalList();
    eln->applyForce(Vector3d(), index);
    atom->simulateState(2);
    eln->setChangingSimMode(false);

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
    const int32_t* state = atom->getStateArray();
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
    if (!saving) {
        if ((atom->hasForceApplied() || atom->isSelected()) && noButton) {
            releaseForce = atom->getMyForceApplied().size();
            if (!pullReleased) releasing = true;
            reportReleasedModes(atom);
            atom->simulateState(2);
            ElasticNetworkModel::requestStep();
        }
    } else {
        if (ElasticNetworkModel* eln = elasticNetwork.load()) eln->setNeedsListUpdate(true);
        if (noButton) {
            releaseForce = atom->getMyForceApplied().size();
            reportReleasedModes(atom);
            atom->simulateState(2);
            ElasticNetworkModel::requestStep();
        }
        dragProxyValid = false;
        for (double& c : currentForce) c = 0.0;
        sendForce();
    }
}

} // namespace vornax
