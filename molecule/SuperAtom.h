// The atom record shared by every subsystem: identity as read from the structure file,
// geometry (read, deformed, snapshot), the per-atom state of a pull and its mode selection.
#pragma once

#include "common/SeqLocked.h"
#include "common/Vector3d.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vornax {

/// A node's own colour: grey, and green for the phosphorus nodes of DNA and RNA.
inline constexpr Vector3d kPlainNodeColour{200.0f / 255.0f, 200.0f / 255.0f, 200.0f / 255.0f};
inline constexpr Vector3d kNucleicNodeColour{0.0f, 1.0f, 0.0f};

class Atom;
class ModeChangeToken;

/// A node's record of the mode selection its force went in through: [0] the route (2 all
/// modes, 1 the first n modes, 0 listed modes), [1] n or the number of listed modes,
/// [2..] the listed modes.
using ModeStateArray = std::array<int32_t, 22>;

/// Where and how the force arrow of an atom is drawn (model units, degrees).
struct ForceArrowGeometry {
    bool visible = false;         ///< false when the atom has no applying force
    Vector3d direction;           ///< d = −kcalForce, normalised
    Vector3d axis;                ///< rotation axis taking the arrow's x axis onto d
    float angleDegrees = 0.0f;    ///< rotation angle about `axis`
    Vector3d colour;              ///< RGB 0..1 (also stored as the atom's arrow colour)
    Vector3d start;               ///< where the arrow starts
    float shaftYRotation = 90.0f; ///< rotation of the shaft about y, degrees (+90 or −90)
    Vector3d shaftScale;          ///< (camZoom, camZoom, forceMagnitude)
    float headYRotation = -90.0f; ///< rotation of the head about y, degrees
    Vector3d headScale;           ///< (camZoom, camZoom, 2·camZoom)
};

/// Triangle-strip sphere: per vertex a position and a unit normal.
struct SphereMesh {
    std::vector<float> vertices;        ///< x, y, z per vertex
    std::vector<float> normals;         ///< x, y, z per vertex
    std::vector<std::uint32_t> indices; ///< 0, 1, 2, … drawn as one strip
};

/// All fields and operations of the atom record. Atoms are handled through non-owning
/// `Atom*` lists and are never copied.
///
/// Threads: the servo thread writes contact, selection, the initial position and the
/// device-side forces, the simulation thread the deformed position and the kept force, the
/// window thread reads them all and writes the colours. Those fields are atomics or
/// sequence-locked vectors, so every read sees a whole value.
class SuperAtom {
public:
    SuperAtom() = default;
    SuperAtom(const SuperAtom&) = delete;
    SuperAtom& operator=(const SuperAtom&) = delete;

    /// Called by every creator right after construction. The sphere drawing code keeps no
    /// scratch values to reset, so it has no effect.
    void init() {}

    // Geometry (model units).
    Vector3d getMyLocalPosition() const { return localPosition; }
    Vector3d* getMyLocalPositionPtr() { return &localPosition; }
    void incMyLocalPosition(float dx, float dy, float dz);
    void saveInitialPosition() { initialPosition.store(deformedPosition.load()); }
    Vector3d getInitialPosition() const { return initialPosition.load(); }
    void setMyDeformedPosition(const Vector3d& p) { deformedPosition.store(p); }
    Vector3d getMyDeformedPosition() const { return deformedPosition.load(); }
    float getRadius() const { return radius; }

    // Selection and contact.
    void setSelected(bool b);
    bool isSelected() const { return selected.load(std::memory_order_acquire); }
    void setContact(bool b) { inContact.store(b, std::memory_order_release); }
    bool isInContact() const { return inContact.load(std::memory_order_acquire); }
    /// Press/simulation state: 3 idle, 0 just grabbed, 1 force applied, 2 just released.
    void simulateState(int32_t state) { pressedState.store(state, std::memory_order_release); }
    int32_t getPressed() const { return pressedState.load(std::memory_order_acquire); }
    /// Moves the press state from `expected` to `desired` unless another thread changed it first.
    bool compareAndSetPressed(int32_t expected, int32_t desired)
    {
        return pressedState.compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
    }
    /// Lets go of the pull on this node, if there is one: 1 becomes 2. A pull whose first
    /// simulation step has not run yet (0) is let go by that step, once it has recorded the
    /// grab (see takeReleaseAfterGrab). An idle node (3) or one already let go (2) has no pull
    /// to let go: false.
    bool releasePull()
    {
        int32_t state = 1;
        if (pressedState.compare_exchange_strong(state, 2, std::memory_order_acq_rel)) return true;
        if (state != 0) return false;
        // The step may move it to 1 meanwhile: it looks for the flag on every step at 1.
        releaseAfterGrab.store(true, std::memory_order_release);
        return true;
    }
    /// True once after releasePull found the pull not yet grabbed by a simulation step.
    bool takeReleaseAfterGrab() { return releaseAfterGrab.exchange(false, std::memory_order_acq_rel); }
    void clearReleaseAfterGrab() { releaseAfterGrab.store(false, std::memory_order_release); }
    void changeForceRenderMode(bool b) { forceRenderMode.store(b, std::memory_order_relaxed); }
    void setImWater(bool b) { water = b; }
    bool isWater() const { return water; }

    // Forces: device side in newtons, network side in kcal/mol/Å.
    void addAForce(const Vector3d& f, float m)
    {
        applyingForce.store(f);
        forceMagnitude.store(m, std::memory_order_relaxed);
    }
    void saveForce() { savedForce.store(applyingForce.load()); }
    void setSavedForce(const Vector3d& f) { savedForce.store(f); }
    Vector3d getMyApplyingForce() const { return applyingForce.load(); }
    Vector3d getMyForceApplied() const { return savedForce.load(); }
    bool hasForceApplied() const;
    bool hasForce() const;
    void setScaledForce(const Vector3d& f) { kcalForce.store(f); }
    void addAKcalForce(const Vector3d& f) { kcalForce.store(f); }
    Vector3d getKcalForce() const { return kcalForce.load(); }
    void setOldKcalForce(double x, double y, double z);
    Vector3d getOLDKcalForce() const { return oldKcalForce.load(); }
    float getM() const { return forceMagnitude.load(std::memory_order_relaxed); }
    void setEQForce(double currentScale, double maxForce);
    void setInitEQForce(float v) { eqForce.store(v, std::memory_order_relaxed); }
    float getEQForce() const { return eqForce.load(std::memory_order_relaxed); }
    void setMyBFactor(double b) { bFactor = b; }
    double getMyBFactor() const { return bFactor; }

    // Mode selection consulted by the simulation: written only under the network's mode-change
    // handshake (the token proves it is held).
    void setModeSelectState(const ModeChangeToken& token, int32_t s) { setStatePosition(token, 0, s); }
    void setSliderAmount(const ModeChangeToken& token, int32_t n) { setStatePosition(token, 1, n); }
    /// Element 1 = howMany; copies up to 20 values into elements 2…
    void setArrayOfValues(const ModeChangeToken& token, const int32_t* newValues, int32_t howMany);
    void setStatePosition(const ModeChangeToken& token, int i, int32_t val);
    int32_t getStatePosition(int i) const;
    ModeStateArray getStateArray() const;

    // Drawing attributes.
    Vector3d getCurrentArrowColour() const { return currentArrowColour.load(); }
    void setCamZoom(float z) { camZoom.store(z, std::memory_order_relaxed); }
    float getCamZoom() const { return camZoom.load(std::memory_order_relaxed); }
    /// Asks for the fields a simulation step reads and writes here (and camZoom when the step
    /// will write it). The step walks nodes spread over the heap: fetching a few nodes ahead
    /// overlaps their cache misses instead of waiting for each in turn.
    void prefetchForStep(bool withZoom) const
    {
        __builtin_prefetch(&localPosition);
        __builtin_prefetch(&deformedPosition, 1);
        if (withZoom) __builtin_prefetch(&camZoom, 1);
    }
    void setMyColour(const Vector3d& c) { residueColour.store(c); }
    Vector3d getMyResidueColour() const { return residueColour.load(); }
    Vector3d getMyColour() const { return colour; }

    // Identity.
    const std::string& getEle() const { return element; }
    const std::string& getResidue() const { return residueNumber; }
    const std::string& getResidueName() const { return residueName; }
    const std::string& getChainID() const { return chainID; }
    const std::string& getMyInfo() const { return info; }
    int32_t getMyPositionInOriginalList() const { return positionInOriginalList; }
    void setIndicesToGrid(const int32_t* inds, int32_t size);
    const std::array<int32_t, 8>& getGridIndices() const { return gridIndices; }
    int32_t getGridIndexCount() const { return gridIndexCount; }

    // Network neighbours (not owned).
    void addToMyConnectedList(Atom* a) { connectedAtoms.push_back(a); }
    /// Caches the neighbour list; call after the last addToMyConnectedList.
    void createConnectedListPtr();
    int32_t getAmountOfConnectedAtoms() const { return connectedCount; }
    Atom* getConnectedAtom(int i) const { return connectedData[i]; }

    // Contact tests against the deformed position (model units).
    /// True when `p` lies strictly inside the sphere of radius 6·camZoom + radius.
    bool pointToSphereDeformed(const Vector3d& p) const;
    /// Pushes `p` out to the sphere of radius 12·camZoom around the deformed position.
    Vector3d constrainPointToSphereDeformed(const Vector3d& p) const;
    /// The same test as pointToSphereDeformed against `centre` (model units).
    bool pointToSphereAt(const Vector3d& p, const Vector3d& centre) const;

    /// Geometry of the force arrow; updates forceMagnitude and currentArrowColour (drawing
    /// attributes, recomputed whenever the arrow is drawn).
    ForceArrowGeometry computeForceArrow() const;
    /// The arrow's colour for the current eqForce: blue (hue 240) unstrained to red (hue 0) at
    /// the maximum force. Stored as currentArrowColour and returned.
    Vector3d refreshArrowColour() const;

    // Class-wide haptic proxy radii (model units); set by the view, read by any thread.
    static float getHapticRadius() { return hapticRadius.load(std::memory_order_relaxed); }
    static float getOrigHapticRadius() { return origHapticRadius.load(std::memory_order_relaxed); }
    static float getDefaultHapticRadius() { return defaultHapticRadius.load(std::memory_order_relaxed); }
    static void setHapticRadius(float r) { hapticRadius.store(r, std::memory_order_relaxed); }
    /// Sets the three radii together (the view does this at start and on every size change).
    static void setAllHapticRadii(float r);

protected:
    bool water = false;
    std::atomic<bool> selected{false};
    std::atomic<int32_t> pressedState{3};
    std::atomic<bool> releaseAfterGrab{false};
    std::atomic<bool> forceRenderMode{false}; ///< written by the servo thread, read when drawing
    SeqLocked<Vector3d> initialPosition;
    SeqLocked<Vector3d> residueColour{kPlainNodeColour};
    std::array<std::atomic<int32_t>, 22> modeStateArray{};
    SeqLocked<Vector3d> applyingForce;
    SeqLocked<Vector3d> savedForce;
    std::atomic<float> camZoom{1.0f};
    mutable SeqLocked<Vector3d> currentArrowColour{Vector3d(0.0f, 1.0f, 1.0f)};
    SeqLocked<Vector3d> oldKcalForce;
    SeqLocked<Vector3d> kcalForce;
    mutable std::atomic<float> forceMagnitude{0.0f};
    std::string info;
    Vector3d colour;
    Vector3d localPosition;
    SeqLocked<Vector3d> deformedPosition;
    float radius = 0.0f;
    std::atomic<bool> inContact{false};
    std::vector<Atom*> connectedAtoms;
    Atom* const* connectedData = nullptr;
    int32_t connectedCount = 0;
    int32_t positionInOriginalList = 0;
    std::array<int32_t, 8> gridIndices{-1, -1, -1, -1, -1, -1, -1, -1};
    int32_t gridIndexCount = 0;
    std::atomic<float> eqForce{0.0f};
    std::string element;
    std::string residueNumber;
    std::string residueName;
    std::string chainID;
    double bFactor = 0.0;

    static std::atomic<float> hapticRadius;
    static std::atomic<float> origHapticRadius;
    static std::atomic<float> defaultHapticRadius;
};

/// Integer HSV to RGB: h in degrees 0..359, s and v 0..255; results 0..255.
void HSVtoRGB(int& r, int& g, int& b, int h, int s, int v);

/// Builds the sphere strip: bands of latitude from the south pole up, two vertices per
/// longitude step, one index per vertex.
SphereMesh makeSphereStrip(float cx, float cy, float cz, float r, int p);

} // namespace vornax
