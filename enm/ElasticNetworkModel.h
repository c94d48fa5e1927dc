// The elastic network of one loaded structure: one node per C-alpha (or phosphorus) atom,
// springs between nodes closer than the cutoff Rc, its normal modes, and the force response.
//
// A load fills the object through the reader calls (enterPDBName, addLineInfo,
// recieveChainList, …), then builds and solves it; runLoadPipeline (Pipeline.h) runs these
// steps with every check between them:
//
//     ElasticNetworkModel* eln = reader.getElasticNetwork();
//     eln->setRc(11.0f);                  // Å
//     eln->setRenderingDataUp();          // nodes and springs
//     eln->constructHessianMatrix(nullptr);
//     eln->calculateEigen(nullptr);       // unit spring constant, six rigid modes dropped
//     eln->calculateForceScaler(1.0f, false);   // K from the B-factors, S, and Y
//     eln->setFileNames(folder);          // <folder>/<name>.hdv and .ppy
//     eln->writeEigenDataToNewFile();     // eigen data for later runs
//     eln->getMaxPossibleModes(nullptr);  // the modes that fit memory and 60 ms per response
//     eln->applyForce(Vector3d(0, 0, 0.5f), 10); // newtons on node 10
//     eln->simulate(); eln->updateDeformables();
//
// Threads: the servo thread calls applyForce/zeroF and sets node press states; the
// simulation thread calls simulate and updateDeformables (simulateELN); the window thread
// changes modes holding a ModeChangeToken (tryBeginModeChange / beginModeChange), which keeps
// every simulation step out until it is released. Everything else runs on the thread that
// loads the structure, before the simulation starts.
#pragma once

#include "enm/Deformation.h"
#include "enm/ModeBudget.h"
#include "enm/ModeSet.h"
#include "enm/NetworkGeometry.h"
#include "enm/io/EigenDataFiles.h"
#include "enm/io/NetworkOutput.h"
#include "enm/io/TextEigenInput.h"
#include "molecule/NetworkRecordSink.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vornax {

class Atom;
class Progress;

class ElasticNetworkModel final : public NetworkRecordSink {
public:
    ElasticNetworkModel();
    ~ElasticNetworkModel() override;
    ElasticNetworkModel(const ElasticNetworkModel&) = delete;
    ElasticNetworkModel& operator=(const ElasticNetworkModel&) = delete;

    /// Prepares the object's drawing resources (made by the view once a GL context exists).
    void init();
    // clang-format off
    // ---- Filling: calls from the structure reader, in load order (NetworkRecordSink) ------
    void enterPDBName(const std::string& name) override { m_geometry.enterPDBName(name); }
    void savePdBHeaderLine(const std::string& line) override { m_geometry.savePdBHeaderLine(line); }
    void addLineInfo(const std::string& line) { m_geometry.addLineInfo(line); }
    void addLineInfo(std::string&& line) override { m_geometry.addLineInfo(std::move(line)); }
    void set_X_RAY_Temperature(float kelvin) override { m_geometry.set_X_RAY_Temperature(kelvin); }
    void set_NMR_Exp(bool nmr) override { m_geometry.set_NMR_Exp(nmr); }
    void subtractVectorFromLocalPosition(const Vector3d& centre) override { m_geometry.subtractVectorFromLocalPosition(centre); }
    void recieveChainList(ChainList& chains) override { m_geometry.recieveChainList(chains); }
    void insertPureCoordList(std::vector<Vector3d>& list) override { m_geometry.insertPureCoordList(list); }
    void setTotalAmountOfAtoms(int32_t count) override { m_geometry.setTotalAmountOfAtoms(count); }
    void setResidueData(std::vector<std::string> chainIDList, std::vector<std::string> residueNameList,
                        std::vector<std::string> residueNumberList) override
    {
        m_geometry.setResidueData(std::move(chainIDList), std::move(residueNameList), std::move(residueNumberList));
    }
    void processLine(const std::string& line) { m_geometry.processLine(line); }
    bool processAtoms(std::istream& in) { return m_geometry.processAtoms(in); }

    // ---- Construction (NetworkGeometry.h) -------------------------------------------------
    void setRc(float rc) { m_geometry.setRc(rc); }
    float getRc() const { return m_geometry.getRc(); }
    /// calcDistances, generateRenderingBB, buildLightAtomList and buildConnectedList.
    void setRenderingDataUp();
    void calcDistances() { m_geometry.calcDistances(); }
    /// Fixes N, 3N and 3N − 6 and allocates the response vectors.
    void generateRenderingBB();
    /// Creates one node atom per record and publishes its position.
    void buildLightAtomList();
    void buildConnectedList() { m_geometry.buildConnectedList(); }

    // ---- Hessian, normal modes, calibration and Y (ModeSet.h) -----------------------------
    EnmStatus constructHessianMatrix(Progress* progress) { return m_modes.constructHessianMatrix(m_geometry, progress); }
    EnmStatus calculateEigen(Progress* progress) { return m_modes.calculateEigen(m_geometry, m_deformation, progress); }
    EnmStatus calculateForceScaler(float averageHapticForce, bool readingStandardData) { return m_modes.calculateForceScaler(m_geometry, averageHapticForce, readingStandardData); }
    EnmStatus calculateY(Progress* progress = nullptr) { return m_modes.calculateY(m_geometry, progress); }
    bool checkAvailableMemForY() const { return m_modes.checkAvailableMemForY(m_geometry, m_budget); }
    void finalize_inv_HDK(int32_t amountRead) { m_modes.finalize_inv_HDK(amountRead); }

    // ---- Forces, the simulation step, mode selection and atoms to pull (Deformation.h) ------
    void applyForce(const Vector3d& forceApplied, int32_t atomToApply) { m_deformation.applyForce(forceApplied, atomToApply); }
    void applyNonScaleForce(const Vector3d& forceApplied, int32_t atomToApply) { m_deformation.applyNonScaleForce(forceApplied, atomToApply); }
    void applyZeroForce(int32_t toApply) { m_deformation.applyZeroForce(toApply); }
    void zeroF() { m_deformation.zeroF(); }
    void zeroForces() { m_deformation.zeroForces(); }
    void simulate() { m_deformation.simulate(); }
    void updateDeformables() { m_deformation.updateDeformables(); }
    std::optional<ModeChangeToken> tryBeginModeChange() { return m_deformation.tryBeginModeChange(); }
    ModeChangeToken beginModeChange() { return m_deformation.beginModeChange(); }
    // Mode selection: each writes the node under force's record (see ModeChangeToken).
    void selectModeState(const ModeChangeToken& token, int32_t newState) { m_deformation.selectModeState(token, newState); }
    void selectAmountOfModes(const ModeChangeToken& token, int32_t modeSelected) { m_deformation.selectAmountOfModes(token, modeSelected); }
    void receiveNewModes(const ModeChangeToken& token, const int32_t* newModes, int32_t amount) { m_deformation.receiveNewModes(token, newModes, amount); }
    void useAllModes(const ModeChangeToken& token, bool newState) { m_deformation.useAllModes(token, newState); }

    // ---- The sparse path (ModeSet.h, sparse/SparsePath.cpp) -------------------------------
    EnmStatus constructSparseHessian() { return m_modes.constructSparseHessian(m_geometry); }
    EnmStatus calculateLowestModes(int32_t k, Progress* progress) { return m_modes.calculateLowestModes(m_geometry, k, progress); }
    EnmStatus calibrateSparse(float averageHapticForce, int32_t largestExact) { return m_modes.calibrateSparse(m_geometry, averageHapticForce, largestExact); }
    void setUpSparseModes() { m_modes.setUpSparseModes(m_deformation, m_budget); }
    /// Takes the dense solution of `solved` (the same structure, loaded and solved apart, with
    /// Y) in place of the sparse one, under the mode-change handshake: every mode, Y, the
    /// calibration and the budget's modes. Kept forces and the displacement stay as they are
    /// (all-mode responses are the same either way). False, with nothing changed, when
    /// `solved` is not such a solution.
    bool adoptSolution(ElasticNetworkModel& solved);

    // ---- Mode budget (ModeBudget.h) -------------------------------------------------------
    int32_t getMaxPossibleModes(Progress* progress) { return m_budgeted.getMaxPossibleModes(progress); }
    int32_t getMaxPossibleModesStandardFile(Progress* progress) { return m_budgeted.getMaxPossibleModesStandardFile(progress); }
    int32_t findMaxPossibleModes_RAM_VS_TIME(Progress* progress) { return m_budgeted.findMaxPossibleModes_RAM_VS_TIME(progress); }
    int32_t findMaxPossibleModes_RAM_VS_TIME_StandardFile(Progress* progress) { return m_budgeted.findMaxPossibleModes_RAM_VS_TIME_StandardFile(progress); }
    int32_t findMaxPossibleModesOnMemory() { return m_budgeted.findMaxPossibleModesOnMemory(); }
    int32_t calcModesAllowed(int32_t currentMinMode, int32_t currentMaxMode, Progress* progress, bool instantLoad) { return m_budgeted.calcModesAllowed(currentMinMode, currentMaxMode, progress, instantLoad); }

    // ---- Eigen data files (io/EigenDataFiles.h) -------------------------------------------
    void setFileNames(const std::filesystem::path& stdPath) { m_files.setFileNames(stdPath); }
    bool writeEigenDataToNewFile() { return m_files.writeEigenDataToNewFile(); }
    bool writeEigenDataToStream(std::ostream& fout, std::ostream* yOut) { return m_files.writeEigenDataToStream(fout, yOut); }
    bool inputMainFile(const std::string& fileName) { return m_files.inputMainFile(fileName); }
    bool inputYFile(const std::string& eigenVecFileName) { return m_files.inputYFile(eigenVecFileName); }
    bool readEigenDataFromOldFile(Progress* progress) { return m_files.readEigenDataFromOldFile(progress); }
    bool findEigenFile() const { return true; }

    // ---- Plain-text and ElNemo eigen data (io/TextEigenInput.h) ----------------------------
    /// Loads a plain-text eigen file whole: eigenvalues, budget, calibration, eigenvectors.
    bool loadStandardEigenFile(const std::string& fileName, float averageHapticForce, Progress* progress);
    void setupBlankArrays() { m_text.setupBlankArrays(); }
    void insertThreeN(int32_t n) { m_geometry.insertThreeN(n); }
    bool insertEigenValue(double val, int32_t index) { return m_text.insertEigenValue(val, index); }
    void insertEigenVector(int32_t row, int32_t col, double value) { m_text.insertEigenVector(row, col, value); }
    bool calculateEigenFromElnemo(const std::string& fileName) { return m_text.calculateEigenFromElnemo(fileName); }
    std::vector<int32_t> getElNemoModes() const { return m_text.getElNemoModes(); }
    void setupSelectedELNemoModes() { m_text.setupSelectedELNemoModes(); }
    static void normaliseEigenVectors(std::vector<double>& vector) { TextEigenInput::normaliseEigenVectors(vector); }

    // ---- Fluctuation measures (ModeSet.h) -------------------------------------------------
    double getRMSingle(int32_t mode) const { return m_modes.getRMSingle(mode, m_geometry.getTemperature()); }
    double getRTotal() const { return m_modes.getRTotal(m_geometry.getTemperature()); }
    double getRMForTest(int32_t n) const { return m_modes.getRMForTest(n, m_geometry.getTemperature()); }
    double getS() const { return m_modes.getS(); }

    // ---- Deformed structure output and sessions (io/NetworkOutput.h) ----------------------
    bool write_C_alphaFile(const std::string& filename) const { return writeCAlphaFile(m_geometry, m_modes, m_deformation, filename, cAlphaFileError); }
    /// Why the last write_C_alphaFile failed (empty after a success).
    const std::string& getCAlphaFileError() const { return cAlphaFileError; }
    static std::string padString(const std::string& text) { return padCoordinateField(text); }
    bool serialize(std::ostream& out) const { return writeKeptForces(m_deformation, out); }
    SessionStructure sessionStructure() const { return describeSessionStructure(m_geometry, m_files.getMainFileName()); }
    void addAtomToList(Atom* atom) { m_deformation.addAtomToList(atom); }
    bool removeAtomFromList(int32_t indexToRemove) { return m_deformation.removeAtomFromList(indexToRemove); }
    void deselectAll() { m_deformation.deselectAll(); }
    Atom* collisionCheck(const Vector3d& HIP, bool& res) { return m_deformation.collisionCheck(HIP, res); }

    // ---- Colours, highlights and drawing switches (window thread; read by the frame) -------
    void generateColourList() { m_geometry.generateColourList(); }
    void generateColourListOverSeq() { m_geometry.generateColourListOverSeq(); }
    void setBBColour(const Vector3d& colour) { m_geometry.setBBColour(colour); }
    void clearAllResCols() { m_geometry.clearAllResCols(); }
    bool searchChainID(const std::string& chain) const { return m_geometry.searchChainID(chain); }
    bool searchResidue(const std::string& name) const { return m_geometry.searchResidue(name); }
    bool searchseqNumList(const std::string& number) const { return m_geometry.searchseqNumList(number); }
    int32_t addChainID(const std::string& chain, const Vector3d& colour) { return m_geometry.addChainID(chain, colour); }
    int32_t addResidue(const std::string& name, const Vector3d& colour) { return m_geometry.addResidue(name, colour); }
    int32_t addSeqNum(const std::string& number, const Vector3d& colour) { return m_geometry.addSeqNum(number, colour); }
    int32_t addResidueChain(const std::string& name, const std::string& chain, const Vector3d& colour) { return m_geometry.addResidueChain(name, chain, colour); }
    int32_t addSeqChain(const std::string& number, const std::string& chain, const Vector3d& colour) { return m_geometry.addSeqChain(number, chain, colour); }
    void setRenderForces(bool b) { forceRender.store(b, std::memory_order_relaxed); }
    bool isRenderingForces() const { return forceRender.load(std::memory_order_relaxed); }
    void setRenderingSpheres(bool b) { renderingSpheres.store(b, std::memory_order_relaxed); }
    bool isRenderingSpheres() const { return renderingSpheres.load(std::memory_order_relaxed); }

    // ---- Queries --------------------------------------------------------------------------
    Atom* getAtom(int32_t i) const { return m_geometry.getAtom(i); }
    int32_t getAmountOfAtoms() const { return m_geometry.getAmountOfAtoms(); }
    int32_t get3N() const { return m_geometry.get3N(); }
    Vector3d getMidPoint() const { return m_geometry.getMidPoint(); }
    Vector3d findMaxCoord() const { return m_geometry.findMaxCoord(); }
    std::vector<Atom*> getContactList() const { return m_deformation.getContactList(); }
    std::string getPDB_Code() const { return m_geometry.getPDB_Code(); }
    bool isInit() const { return initialised.load(std::memory_order_acquire); }
    void setInit() { initialised.store(true, std::memory_order_release); Deformation::requestStep(); }
    bool isSetup() const { return m_modes.isSetup(); }
    bool setupComplete() const { return m_modes.setupComplete(); }

    int32_t getTotalMaxModes() const { return m_modes.getTotalMaxModes(); }
    int32_t getAmountSelected() const { return m_modes.getAmountSelected(); }
    int32_t getModeSelectState() const { return m_modes.getModeSelectState(); }
    std::array<int32_t, 20> getModeArray() const { return m_modes.getModeArray(); }
    int32_t getLoadResult() const { return m_modes.getLoadResult(); }
    int32_t getSimulationMode() const { return m_modes.getLoadResult(); }
    /// A pull has ended: set by the haptic side, read and cleared by the window's timer.
    void setNeedsListUpdate(bool b) { needsListUpdate.store(b, std::memory_order_release); }
    bool getNeedsListUpdate() const { return needsListUpdate.load(std::memory_order_acquire); }

    /// The parts.
    NetworkGeometry& geometry() { return m_geometry; }
    const NetworkGeometry& geometry() const { return m_geometry; }
    ModeSet& modes() { return m_modes; }
    const ModeSet& modes() const { return m_modes; }
    ModeBudget& budget() { return m_budget; }
    const ModeBudget& budget() const { return m_budget; }
    Deformation& deformation() { return m_deformation; }
    const Deformation& deformation() const { return m_deformation; }
    EigenDataFiles& files() { return m_files; }
    const EigenDataFiles& files() const { return m_files; }
    TextEigenInput& textInput() { return m_text; }
    const TextEigenInput& textInput() const { return m_text; }
    // clang-format on
private:
    bool setChangingSimMode(bool changing) { return m_deformation.setChangingSimMode(changing); }

    std::atomic<bool> initialised{false};
    std::atomic<bool> needsListUpdate{false};
    std::atomic<bool> forceRender{true};      ///< draw the force arrows (set by the view)
    std::atomic<bool> renderingSpheres{true}; ///< full-size node spheres, else small ones (set by the view)
    mutable std::string cAlphaFileError;

    NetworkGeometry m_geometry;
    ModeSet m_modes;
    Deformation m_deformation{m_geometry, m_modes};

    ModeBudget m_budget;
    EigenDataFiles m_files{m_geometry, m_modes, m_budget};
    TextEigenInput m_text{m_geometry, m_modes, m_deformation, m_files};
    BudgetedModes m_budgeted{m_geometry, m_modes, m_deformation, m_budget, m_files};
};

} // namespace vornax
