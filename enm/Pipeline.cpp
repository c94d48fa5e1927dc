#include "enm/Pipeline.h"

#include "common/Console.h"
#include "common/Progress.h"
#include "common/SystemInfo.h"
#include "enm/io/NetworkFileHandle.h"
#include "molecule/Atom.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <new>
#include <iomanip>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

namespace vornax {

const char* describe(LoadStatus status)
{
    switch (status) {
    case LoadStatus::Ok: return "ok";
    case LoadStatus::TooFewNodes: return "too few nodes";
    case LoadStatus::CoincidentNodes: return "two nodes at the same position";
    case LoadStatus::OutOfMemory: return "not enough memory";
    case LoadStatus::Cancelled: return "cancelled";
    case LoadStatus::NotConverged: return "not converged";
    case LoadStatus::BadInput: return "unusable input";
    }
    return "unknown status";
}

const char* pathName(EnginePath path)
{
    switch (path) {
    case EnginePath::Auto: return "auto";
    case EnginePath::Dense: return "dense";
    case EnginePath::Sparse: return "sparse";
    }
    return "";
}

const char* stageName(LoadStage stage)
{
    switch (stage) {
    case LoadStage::Read: return "read";
    case LoadStage::Network: return "network";
    case LoadStage::Hessian: return "hessian";
    case LoadStage::Eigen: return "eigen";
    case LoadStage::Calibration: return "calibration";
    case LoadStage::Y: return "y";
    case LoadStage::EigenFiles: return "eigen_files";
    case LoadStage::Budget: return "budget";
    }
    return "";
}

StructureSource StructureSource::pdbFile(std::filesystem::path file, AssemblyRequest assembly)
{
    StructureSource source;
    source.pdb = std::move(file);
    source.assembly = std::move(assembly);
    return source;
}

StructureSource StructureSource::eigenDataFiles(std::vector<std::string> names)
{
    StructureSource source;
    source.eigenFiles = std::move(names);
    return source;
}

std::string StructureSource::name() const
{
    if (!pdb.empty()) return pdb.string();
    for (const std::string& f : eigenFiles)
        if (isMainEigenDataFile(f)) return f;
    return eigenFiles.empty() ? std::string() : eigenFiles.front();
}

// ---- Atoms ------------------------------------------------------------------------------------

NodeAtoms::~NodeAtoms() { deleteAtoms(m_atoms); }

NodeAtoms::NodeAtoms(NodeAtoms&& other) noexcept : m_atoms(std::move(other.m_atoms)) { other.m_atoms.clear(); }

NodeAtoms& NodeAtoms::operator=(NodeAtoms&& other) noexcept
{
    if (this != &other) {
        deleteAtoms(m_atoms);
        m_atoms = std::move(other.m_atoms);
        other.m_atoms.clear();
    }
    return *this;
}

std::vector<Atom*> NodeAtoms::release()
{
    std::vector<Atom*> atoms = std::move(m_atoms);
    m_atoms.clear();
    return atoms;
}

LoadResult::LoadResult() = default;
LoadResult::~LoadResult() = default;
LoadResult::LoadResult(LoadResult&&) noexcept = default;
LoadResult& LoadResult::operator=(LoadResult&&) noexcept = default;

// ---- The load ---------------------------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;

LoadStatus loadStatusFor(EnmStatus status)
{
    switch (status) {
    case EnmStatus::Ok:
    case EnmStatus::NotCalibrated: return LoadStatus::Ok;
    case EnmStatus::TooFewNodes: return LoadStatus::TooFewNodes;
    case EnmStatus::OutOfMemory: return LoadStatus::OutOfMemory;
    case EnmStatus::NotConverged: return LoadStatus::NotConverged;
    case EnmStatus::Cancelled: return LoadStatus::Cancelled;
    case EnmStatus::NotReady: return LoadStatus::BadInput;
    }
    return LoadStatus::BadInput;
}

class Loader {
public:
    Loader(const StructureSource& source, const LoadOptions& options, LoadResult& result)
        : m_source(source), m_options(options), m_result(result), m_peak(peakResidentBytes())
    {
        m_result.peakRssBytes = m_peak;
        if (m_options.measureStagePeaks) {
            try {
                m_sampler.emplace();
            } catch (const std::system_error&) {
                // No thread to watch with: every stage then records the process's peak.
            }
        }
    }

    void run()
    {
        if (m_source.fromEigenFiles())
            runEigenFiles();
        else
            runPdb();
        for (std::size_t s = 0; s < kLoadStageCount; ++s)
            if (static_cast<LoadStage>(s) != LoadStage::EigenFiles) m_result.timeToFirstPull += m_result.stages[s].seconds;
        if (m_result.network && m_source.fromEigenFiles())
            m_result.path = m_result.network->modes().isSparse() ? EnginePath::Sparse : EnginePath::Dense;
    }

    /// Ends the load with `status`; `message` says why.
    void fail(LoadStatus status, std::string message)
    {
        m_result.status = status;
        m_result.message = std::move(message);
    }

private:
    bool cancelRequested() const { return isCancelled(m_options.progress); }

    /// Runs `body` (returning false when it ended the load) as stage `s`, with its record.
    /// False when the load ends here, successfully (the last stage asked for) or not.
    template <typename Body>
    bool stage(LoadStage s, Body&& body)
    {
        if (cancelRequested()) {
            fail(LoadStatus::Cancelled, std::string("the load was cancelled before the ") + stageName(s) + " stage");
            return false;
        }
        if (m_options.stageStarted) m_options.stageStarted(s);
        m_result.stage = s;
        const bool measured = m_sampler && m_sampler->available();
        if (measured) m_sampler->startPeriod();
        const auto start = Clock::now();
        const bool go = body();
        StageRecord& record = m_result.stages[static_cast<std::size_t>(s)];
        record.ran = true;
        record.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const int64_t now = peakResidentBytes();
        m_peak = std::max(m_peak, now);
        record.processPeakRssBytes = m_peak;
        record.stagePeakRssBytes = measured ? std::min(m_sampler->periodPeak(), m_peak) : m_peak;
        m_result.peakRssBytes = m_peak;
        return go && s != m_options.lastStage;
    }

    /// Ends the load with the status of an engine operation unless it is Ok.
    bool engine(EnmStatus status, const std::string& what)
    {
        if (status == EnmStatus::Ok) return true;
        fail(loadStatusFor(status), what + ": " + describe(status));
        return false;
    }

    /// The checks on the nodes as read, before anything grows with their number.
    bool checkNodes()
    {
        ElasticNetworkModel& eln = *m_result.network;
        const auto n = eln.geometry().getBackboneList().size();
        if (n < 3) {
            fail(LoadStatus::TooFewNodes,
                 m_source.name() + " has " + std::to_string(n)
                     + " network nodes (C-alpha or phosphorus atoms);"
                       " normal modes need at least 3");
            return false;
        }
        if (!eln.geometry().nodeCoordinatesUsable()) {
            fail(LoadStatus::BadInput,
                 "a network node of " + m_source.name() + " has coordinates that are not numbers of a usable size");
            return false;
        }
        const std::array<int32_t, 2> pair = eln.geometry().findCoincidentNodes();
        if (pair[0] >= 0) {
            m_result.coincidentNodes[0] = pair[0];
            m_result.coincidentNodes[1] = pair[1];
            fail(LoadStatus::CoincidentNodes,
                 "two network nodes of " + m_source.name() + " are at the same position (" + nodeName(pair[0]) + " and "
                     + nodeName(pair[1]) + "); the network has no normal modes");
            return false;
        }
        return true;
    }

    /// "node 3 (A 4 ALA)": index, chain, residue number and name.
    std::string nodeName(int32_t i) const
    {
        const ELNBackboneData& r = m_result.network->geometry().getBackboneList()[static_cast<std::size_t>(i)];
        std::string residue = r.chainID + " " + r.residueNumber + " " + r.residueName;
        residue.erase(std::unique(residue.begin(), residue.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
                      residue.end());
        return "node " + std::to_string(i) + " (" + residue + ")";
    }

    bool buildNetwork(float rc)
    {
        if (!(rc > 0.0f) || !std::isfinite(rc) || rc > FLT_MAX / 100.0f) {
            fail(LoadStatus::BadInput, "the cutoff Rc must be a positive number of \u00c5");
            return false;
        }
        ElasticNetworkModel& eln = *m_result.network;
        eln.setRc(rc);
        eln.setRenderingDataUp();
        m_result.rc = rc;
        if (m_options.checkNetwork && !m_options.checkNetwork(eln)) {
            fail(LoadStatus::Cancelled, "the load was stopped after the network was built");
            return false;
        }
        return true;
    }

    void runPdb()
    {
        ElasticNetworkModel* eln = nullptr;
        const bool read = stage(LoadStage::Read, [&] {
            m_result.reader = std::make_unique<NetworkFileHandle>();
            NetworkFileHandle& reader = *m_result.reader;
            const bool loaded =
                reader.openStructure(m_source.pdb, m_source.assembly, m_options.machineFacts.availableMemory);
            m_result.atoms.list() = reader.getAtomList();
            m_result.network.reset(reader.getElasticNetwork());
            eln = m_result.network.get();
            if (!loaded || !eln) {
                fail(LoadStatus::BadInput,
                     reader.getLoadError().empty() ? m_source.name() + " cannot be read" : reader.getLoadError());
                return false;
            }
            reader.enterResDataToELN();
            return checkNodes();
        });
        if (!read) return;
        if (!stage(LoadStage::Network, [&] { return buildNetwork(m_options.rc); })) return;
        if (choosePath() == EnginePath::Sparse) {
            runSparse();
            return;
        }
        Progress* progress = m_options.progress;
        if (!stage(LoadStage::Hessian,
                   [&] { return engine(eln->constructHessianMatrix(progress), "building the Hessian failed"); }))
            return;
        eln->modes().setEigenSolver(m_options.solver);
        if (!stage(LoadStage::Eigen,
                   [&] { return engine(eln->calculateEigen(progress), "the eigen solution failed"); }))
            return;
        if (!stage(LoadStage::Calibration, [&] {
                const EnmStatus status =
                    eln->modes().calibrateForces(eln->geometry(), m_options.averageDeviceForce, false);
                m_result.notCalibrated = status == EnmStatus::NotCalibrated;
                return engine(status, "the calibration failed");
            }))
            return;
        // Y for calibrated structures only, as the calibration itself decides for NMR ones.
        if (m_options.computeY && !m_result.notCalibrated) {
            if (!stage(LoadStage::Y, [&] {
                    const EnmStatus status = eln->modes().holdY(eln->geometry(), progress);
                    // Without the memory for Y the responses go through the modes.
                    return status == EnmStatus::OutOfMemory || engine(status, "the response matrix Y failed");
                }))
                return;
        } else if (m_options.lastStage <= LoadStage::Y) {
            return;
        }
        if (!m_options.eigenFileFolder.empty()) {
            if (!stage(LoadStage::EigenFiles, [&] { return writeEigenFiles(); })) return;
        } else if (m_options.lastStage <= LoadStage::EigenFiles) {
            return;
        }
        stage(LoadStage::Budget, [&] { return keepModes(); });
    }

    /// The memory guard: the dense solution only where it fits in the memory available now.
    EnginePath choosePath()
    {
        const ElasticNetworkModel& eln = *m_result.network;
        const int64_t n = eln.getAmountOfAtoms();
        const bool withY = m_options.computeY && !eln.geometry().isNMR();
        const uint64_t need = ModeSet::denseBytesNeeded(n, withY);
        const uint64_t available =
            m_options.machineFacts.availableMemory ? m_options.machineFacts.availableMemory() : availablePhysicalMemory();
        auto gb = [](uint64_t bytes) {
            std::ostringstream text;
            text << std::fixed << std::setprecision(bytes < 10'000'000'000ull ? 2 : 0) << bytes / 1e9 << " GB";
            return text.str();
        };
        const std::string lowest = "the lowest " + std::to_string(m_options.lowestModes) + " modes";
        std::string reason;
        EnginePath path = m_options.path;
        if (path == EnginePath::Sparse) {
            reason = "The sparse path was asked for: " + lowest + " are computed from a sparse factorisation.";
        } else if (need > available) {
            // Checked before pulling first: every mode in the background only where it fits.
            reason = "The dense solution of " + std::to_string(n) + " nodes needs about " + gb(need) + ", and "
                + gb(available) + " of memory is available: " + lowest
                + " are computed from a sparse factorisation instead.";
            path = EnginePath::Sparse;
        } else if (m_options.pullFirstNodes > 0 && n >= m_options.pullFirstNodes && path == EnginePath::Auto) {
            reason = lowest.substr(0, 1) == "t" ? "T" + lowest.substr(1) : lowest;
            reason += " are computed first, so that the structure can be pulled at once; every mode (about " + gb(need)
                + " of the " + gb(available) + " of memory available) follows in the background.";
            path = EnginePath::Sparse;
            m_result.denseLater = true;
        } else {
            reason = "Every mode is computed (dense solution, about " + gb(need) + " of the " + gb(available)
                + " of memory available).";
            path = EnginePath::Dense;
        }
        m_result.path = path;
        m_result.pathReason = reason;
        console::Line(path == EnginePath::Sparse && m_options.path != EnginePath::Sparse ? console::Warning
                                                                                          : console::Normal)
            << reason;
        return path;
    }

    void runSparse()
    {
        ElasticNetworkModel* eln = m_result.network.get();
        Progress* progress = m_options.progress;
        if (!stage(LoadStage::Hessian,
                   [&] { return engine(eln->constructSparseHessian(), "building the sparse Hessian failed"); }))
            return;
        if (!stage(LoadStage::Eigen, [&] {
                return engine(eln->calculateLowestModes(std::max(m_options.lowestModes, 1), progress),
                              "the sparse eigen solution failed");
            }))
            return;
        if (!stage(LoadStage::Calibration, [&] {
                const EnmStatus status = eln->calibrateSparse(m_options.averageDeviceForce, m_options.exactTraceLimit);
                m_result.notCalibrated = status == EnmStatus::NotCalibrated;
                return engine(status, "the calibration failed");
            }))
            return;
        if (m_options.lastStage <= LoadStage::Y) return;
        if (!m_options.eigenFileFolder.empty()) {
            if (!stage(LoadStage::EigenFiles, [&] { return writeEigenFiles(); })) return;
        } else if (m_options.lastStage <= LoadStage::EigenFiles) {
            return;
        }
        stage(LoadStage::Budget, [&] {
            eln->setUpSparseModes();
            return true;
        });
    }

    void runEigenFiles()
    {
        std::string yFile;
        for (const std::string& f : m_source.eigenFiles)
            if (isResponseMatrixFile(f)) yFile = f;
        ElasticNetworkModel* eln = nullptr;
        const bool read = stage(LoadStage::Read, [&] {
            m_result.network = std::make_unique<ElasticNetworkModel>();
            eln = m_result.network.get();
            if (!eln->files().inputEigenDataFiles(m_source.eigenFiles)) {
                fail(LoadStatus::BadInput, eln->files().getEigenFileError());
                return false;
            }
            // A response matrix that does not belong to the structure is refused, not used.
            if (!yFile.empty() && !eln->modes().isYMatrixAvailable() && !eln->files().mainFileIsSparse()) {
                fail(LoadStatus::BadInput, eln->files().getEigenFileError());
                return false;
            }
            return checkNodes();
        });
        if (!read) return;
        if (!stage(LoadStage::Network, [&] { return buildNetwork(eln->getRc()); })) return;
        if (m_options.lastStage < LoadStage::Budget) return;
        stage(LoadStage::Budget, [&] {
            eln->budget().setMachineFacts(m_options.machineFacts);
            eln->getMaxPossibleModes(m_options.progress);
            if (eln->isSetup()) return true;
            const std::string why =
                eln->files().getEigenFileError().empty() ? "no modes fit in memory" : eln->files().getEigenFileError();
            fail(LoadStatus::BadInput, "the eigen data of " + m_source.name() + " could not be used: " + why);
            return false;
        });
        m_result.notCalibrated = m_result.ok() && !eln->setupComplete();
    }

    bool writeEigenFiles()
    {
        ElasticNetworkModel& eln = *m_result.network;
        eln.setFileNames(m_options.eigenFileFolder);
        m_result.eigenFilesWritten = eln.writeEigenDataToNewFile();
        // The files are replaced together and only once both are whole: a failed write leaves
        // the ones that were there before.
        if (!m_result.eigenFilesWritten) m_result.eigenFileError = eln.files().getEigenFileError();
        // The load goes on: the modes are in memory; the caller decides whether the files matter.
        return true;
    }

    bool keepModes()
    {
        ElasticNetworkModel& eln = *m_result.network;
        if (m_options.keepAllModes) {
            eln.modes().setUpAllModes(eln.geometry(), eln.deformation());
            return true;
        }
        eln.budget().setMachineFacts(m_options.machineFacts);
        eln.getMaxPossibleModes(m_options.progress);
        return true;
    }

    const StructureSource& m_source;
    const LoadOptions& m_options;
    LoadResult& m_result;
    int64_t m_peak = 0;
    std::optional<ResidentSampler> m_sampler; // with measureStagePeaks
};

} // namespace

LoadResult runLoadPipeline(const StructureSource& source, const LoadOptions& options)
{
    LoadResult result;
    Loader loader(source, options, result);
    try {
        loader.run();
    } catch (const std::bad_alloc&) {
        loader.fail(LoadStatus::OutOfMemory, "not enough memory to load " + source.name());
    } catch (const std::exception& e) {
        loader.fail(LoadStatus::BadInput, e.what());
    }
    if (!result.ok()) {
        // Nothing half-built stays: no network, no atoms, no reader.
        console::Line(result.status == LoadStatus::Cancelled ? console::Normal : console::Warning) << result.message;
        result.network.reset();
        result.atoms = NodeAtoms();
        result.reader.reset();
    }
    return result;
}

} // namespace vornax
