// The deformation of one network under the device's forces: the force command handed from the
// servo thread to the simulation thread, the forces the nodes keep, the displacement they add up
// to, and what the simulation step publishes for the other threads (the deformed node positions,
// counted as they are rewritten, and the list of atoms that keep a force; neither is ever torn
// for a reader, and no reader waits for a writer). It also holds the handshake that keeps a
// mode change and a simulation step apart (ModeChangeToken).
#pragma once

#include "common/SeqLocked.h"
#include "common/Vector3d.h"
#include "enm/ModeChangeToken.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vornax {

class Atom;
class ContactGrid;
class ModeSet;
class NetworkGeometry;
struct SessionForce;

/// The force handed from the servo thread to the simulation thread.
struct ForceCommand {
    double force[3] = {0.0, 0.0, 0.0}; ///< kcal/mol/Å, network frame
    int32_t selectedCoordinate = -1;   ///< 3 × node index, −1 for none
};

/// The deformed position of every node (model units), each a sequence-locked value, and the
/// count of position updates (odd while one is written): the contact grid rebuilds from it.
class PublishedPositions {
public:
    /// Room for `n` nodes (a new network); store their positions, then call newNodesStored.
    void reset(std::size_t n) { m_positions = std::make_unique<SeqLocked<Vector3d>[]>(n); }
    /// The count moves on by a whole update: the contact grid rebuilds.
    void newNodesStored() { m_version.fetch_add(2, std::memory_order_acq_rel); }
    bool exists() const { return m_positions != nullptr; }
    Vector3d load(std::size_t i) const { return m_positions[i].load(); }
    void store(std::size_t i, const Vector3d& p) { m_positions[i].store(p); }
    /// Brackets an update of every position: the count is odd in between.
    void beginUpdate() { m_version.fetch_add(1, std::memory_order_acq_rel); }
    void endUpdate() { m_version.fetch_add(1, std::memory_order_acq_rel); }
    const SeqLocked<Vector3d>* data() const { return m_positions.get(); }
    const std::atomic<uint64_t>& version() const { return m_version; }

private:
    std::unique_ptr<SeqLocked<Vector3d>[]> m_positions;
    std::atomic<uint64_t> m_version{0};
};

/// The atoms that keep a force: the writers' list and its published copy, a sequence-locked
/// array of atomic pointers. Arrays that grew out of use stay allocated until the list goes, so
/// a reader never follows a freed one. Writers take turns (the device's selection lock).
class PublishedContacts {
public:
    /// Room for `n` atoms in the published copy, so that pulls never grow it; the list empties.
    void reset(std::size_t n);
    /// Appends `atom` unless an atom of the same node is listed.
    void add(Atom* atom);
    /// Takes the atom of node `index` off the list, clearing its selection; false when none.
    bool remove(int32_t index);
    /// Clears the selection of every listed atom and empties the list.
    void deselectAll();
    /// Empties the list (its atoms are going).
    void clear();
    /// The list as last published: any thread, never torn.
    std::vector<Atom*> snapshot() const;

private:
    struct Slots {
        explicit Slots(std::size_t n) : capacity(n), atoms(std::make_unique<std::atomic<Atom*>[]>(n)) {}
        std::size_t capacity;
        std::unique_ptr<std::atomic<Atom*>[]> atoms;
    };
    /// Publishes the writers' list, with room for at least `capacity` atoms.
    void publish(std::size_t capacity = 0);

    std::vector<Atom*> m_list;
    std::vector<std::unique_ptr<Slots>> m_arrays;
    std::atomic<Slots*> m_slots{nullptr};
    std::atomic<std::size_t> m_count{0};
    std::atomic<uint32_t> m_sequence{0}; ///< odd while a writer publishes
};

/// The forces on the nodes and the displacement they give, over the geometry and the modes of
/// one network. Threads: the servo thread calls applyForce/zeroF and sets node press states; the
/// simulation thread calls simulate and updateDeformables; the window thread changes modes
/// holding a ModeChangeToken (tryBeginModeChange / beginModeChange), which keeps every
/// simulation step out until it is released.
class Deformation {
public:
    Deformation(NetworkGeometry& geometry, ModeSet& modes);
    ~Deformation();
    Deformation(const Deformation&) = delete;
    Deformation& operator=(const Deformation&) = delete;

    /// Zeroed response vectors of `threeN` coordinates (a new network).
    void allocate(std::size_t threeN);
    /// Room for every node in the contact list, and every node's position published as built.
    void publishNodes();
    /// Empties the contact list (its atoms are going).
    void clearContacts() { contacts.clear(); }

    /// Device force in newtons (network frame) on node `atomToApply`.
    void applyForce(const Vector3d& forceApplied, int32_t atomToApply);
    /// Force in kcal/mol/Å as given (re-applied from a session).
    void applyNonScaleForce(const Vector3d& forceApplied, int32_t atomToApply);
    /// Removes the kept force of node `toApply` from the deformation.
    void applyZeroForce(int32_t toApply);
    void zeroF();
    void zeroForces();

    /// One step of the force response (simulation thread).
    void simulate();
    /// Publishes the deformed node positions (simulation thread).
    void updateDeformables();
    /// Wakes the simulation thread: call after changing a node's press state.
    static void requestStep();

    /// Displacement (Å, 3N) of force `f` (kcal/mol/Å) on node `node`: through Y when
    /// `route` is 2 and Y is held, through the first `count` kept modes when 1 (or 2 without
    /// Y), through the listed modes when 0.
    void computeResponse(const double f[3], int32_t node, int32_t route, int32_t count, const int32_t* modes,
                         double* out);

    /// Starts a mode change unless a simulation step (or another change) is running; the
    /// change lasts as long as the token.
    std::optional<ModeChangeToken> tryBeginModeChange();
    /// Starts a mode change, waiting for the running step (or change) to end.
    ModeChangeToken beginModeChange();
    bool isSimulating() const;
    /// The two halves of the mode-change handshake: true sets the changing flag unless a step
    /// runs (false then); false clears it and asks for a step.
    bool setChangingSimMode(bool changing);

    // ---- Mode selection (each writes the node under force's record, see ModeChangeToken) ----
    void selectModeState(const ModeChangeToken& token, int32_t newState);
    void selectAmountOfModes(const ModeChangeToken& token, int32_t modeSelected);
    void receiveNewModes(const ModeChangeToken& token, const int32_t* newModes, int32_t amount);
    void useAllModes(const ModeChangeToken& token, bool newState);

    // ---- Kept forces in sessions (io/SessionForces.cpp) -----------------------------------
    /// Every node that keeps a force (a non-zero oldKcalForce), in ascending node order, with
    /// its force, M, eqForce and mode state; taken between two simulation steps.
    std::vector<SessionForce> keptForces() const;
    /// Puts a saved force back as a kept force of its node, as if it had been pulled and let go:
    /// its response through the route it was recorded with goes into the deformation, the node
    /// keeps it (oldKcalForce and kcalForce), its device force in newtons is derived from it, and
    /// the node's press state is idle. Selection and undo are the device's (Haptics). False,
    /// nothing changed, for a node outside the network or a network without modes.
    bool restoreKeptForce(const SessionForce& force);

    // ---- Selection of atoms to pull -------------------------------------------------------
    void addAtomToList(Atom* atom) { contacts.add(atom); }
    bool removeAtomFromList(int32_t indexToRemove) { return contacts.remove(indexToRemove); }
    void deselectAll() { contacts.deselectAll(); }
    /// First node (in index order) whose deformed sphere holds `HIP` (model units).
    Atom* collisionCheck(const Vector3d& HIP, bool& res);
    const ContactGrid* getContactGrid() const { return contactGrid.get(); }
    /// The atoms that keep a force, as last published: any thread, never a torn list. The device
    /// object changes the list under its selection lock (servo tick and undo), so writers take
    /// turns; a reader never holds a writer up.
    std::vector<Atom*> getContactList() const { return contacts.snapshot(); }
    /// Counts the updates of the published positions (odd while one is written).
    uint64_t positionsVersion() const { return positions.version().load(std::memory_order_acquire); }

    // ---- Queries --------------------------------------------------------------------------
    /// The displacement as the last step left it: for the stepping thread, or with no simulation
    /// thread running (write_C_alphaFile takes a copy between steps from any thread).
    const std::vector<double>& getDisplacement() const { return displacement; }
    const std::vector<double>& getBaseDisplacement() const { return baseDisplacement; }
    /// The displacement between two simulation steps (any thread).
    std::vector<double> displacementSnapshot() const;
    Vector3d getDeformedPosition(int32_t i) const { return positions.load(static_cast<std::size_t>(i)); }
    int32_t getSelectedCoordinate() const { return forceCommand.load().selectedCoordinate; }
    /// The force (kcal/mol/Å) the current step works on.
    const double* getStepForce() const { return force; }
    /// The node atoms and their published positions exist for every node (setRenderingDataUp
    /// has made them): what the drawing needs.
    bool hasNodeAtoms() const;
    /// Size factor of the node spheres (written by the device from the camera distance).
    float getCurrentZoom() const { return currentZoom.load(std::memory_order_relaxed); }
    void setCurrentZoom(float zoom)
    {
        currentZoom.store(zoom, std::memory_order_relaxed);
        requestStep();
    }

private:
    friend class ModeChangeToken;
    void releaseHold(uint32_t bit);
    /// Holds the handshake for one simulation step (or position update); empty while a mode
    /// change is running.
    std::optional<ModeChangeToken> tryBeginStep();
    /// True (with a console line) when `token` holds this network's handshake.
    bool checkToken(const ModeChangeToken& token, const char* operation) const;
    void removeKeptForce(Atom* node, int32_t nodeIndex, bool onGrab);
    /// The first node that `base` + `added` (Å, 3N each) moves by a displacement that is not a
    /// finite number or beyond getDisplacementLimit, with that displacement's length; -1 when
    /// there is none.
    std::pair<int32_t, double> firstNodeTooFar(const std::vector<double>& base, const double* added) const;
    /// What the user is told when `what` (a force refused) would move a node as `far` says.
    std::string tooFarText(const std::string& what, std::pair<int32_t, double> far) const;
    void writeSelectionIntoNodeUnderForce(const ModeChangeToken& token, const std::function<void(Atom*)>& write);

    NetworkGeometry& m_geometry;
    ModeSet& m_modes;
    PublishedContacts contacts; ///< the atoms that keep a force
    PublishedPositions positions; ///< the deformed node positions the step publishes
    std::atomic<float> currentZoom{1.0f};
    /// The zoom the last updateDeformables gave every node's camZoom (under the step handshake; NaN
    /// before the first): an unchanged zoom is not written again.
    float zoomInNodes = std::numeric_limits<float>::quiet_NaN();
    std::unique_ptr<ContactGrid> contactGrid; ///< collisionCheck's search grid (servo thread)
    std::vector<double> responseScratch;
    std::vector<double> displacement;
    std::vector<double> baseDisplacement;
    SeqLocked<ForceCommand> forceCommand;
    double force[3] = {0.0, 0.0, 0.0}; ///< the command the current step works on
    int32_t selectedCoordinate = 0;
    bool tooFarTold = false; ///< a refused pull was reported (simulation step)

    /// Bits of the mode-change handshake: a change or a step holds one, never both at once.
    static constexpr uint32_t kChanging = 1u, kSimulating = 2u;
    std::atomic<uint32_t> simState{0};
};

} // namespace vornax
