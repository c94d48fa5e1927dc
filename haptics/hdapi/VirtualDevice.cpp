// The virtual haptic device: state, scheduler and its HDAPI back-end.
#include "haptics/hdapi/VirtualDevice.h"

#include "haptics/hdapi/HdapiInternal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <sched.h>

namespace vornax::hdapi {

namespace {

using Clock = std::chrono::steady_clock;

constexpr HHD VirtualHandle = 1;
constexpr std::array<double, 6> DefaultWorkspace{-210.0, -110.0, -85.0, 210.0, 205.0, 130.0};
constexpr std::array<double, 6> MaxWorkspace{-230.0, -120.0, -95.0, 230.0, 215.0, 140.0};
constexpr double DefaultMaxForce = 8.5;            // N
constexpr double NominalMaxContinuousForce = 1.75; // N
constexpr double NominalMaxStiffness = 3.0;        // N/mm
constexpr auto Period = std::chrono::microseconds(1000);
// Further behind than this (process suspended, debugger) the schedule starts afresh instead of
// running the missed ticks back to back.
constexpr auto MaxLag = std::chrono::milliseconds(200);
constexpr std::size_t RateWindow = 1000; // ticks over which the update rate is measured

// Set while this thread runs scheduler callbacks (a servo tick, or a synchronous callback run at
// once): calls made from a callback must neither wait for a tick nor take the tick lock again.
thread_local bool t_inCallback = false;

struct CallbackScope {
    bool saved;
    CallbackScope() : saved(t_inCallback) { t_inCallback = true; }
    ~CallbackScope() { t_inCallback = saved; }
};

struct Entry {
    HDSchedulerHandle handle = 0;
    HDSchedulerCallback callback = nullptr;
    void* data = nullptr;
    HDushort priority = 0;
    std::uint64_t sequence = 0;
    std::atomic<bool> active{true};
};

struct SyncRequest {
    enum State { Pending, Done, Cancelled };
    HDSchedulerCallback callback = nullptr;
    void* data = nullptr;
    HDushort priority = 0;
    std::uint64_t sequence = 0;
    State state = Pending;
};

/// Like a device driver's servo thread: real-time scheduling when the system grants it (lowest
/// real-time priority; the kernel's real-time throttling still leaves time to the rest), the
/// ordinary scheduling otherwise.
void raiseServoPriority()
{
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

/// Higher priority first, then first scheduled first.
template <typename T>
bool runsBefore(const T& a, const T& b)
{
    if (a->priority != b->priority) return a->priority > b->priority;
    return a->sequence < b->sequence;
}

} // namespace

struct VirtualDevice::Impl {
    // Device state: stylus, description, frame and output.
    mutable std::mutex stateMutex;
    Stylus stylus;
    std::string model = DefaultModelName;
    std::array<double, 6> workspace = DefaultWorkspace;
    double maxForce = DefaultMaxForce;
    bool open = false;
    bool current = false;
    bool forceOutput = false;
    bool inFrame = false;
    std::uint64_t frameTick = 0;
    bool forcePending = false;
    std::array<double, 3> pendingForce{};
    std::array<double, 3> committedForce{};
    std::deque<SentForce> log;

    // Scheduler: callbacks, synchronous requests and the thread.
    mutable std::mutex schedMutex;
    std::condition_variable wakeCv;                      // wakes the scheduler thread early (stop)
    std::condition_variable doneCv;                      // a synchronous request finished or was cancelled
    std::vector<std::shared_ptr<Entry>> entries;         // in run order
    std::vector<std::shared_ptr<SyncRequest>> syncQueue; // in run order
    HDSchedulerHandle nextHandle = 1;
    std::uint64_t nextSequence = 0;
    std::uint64_t generation = 0; // each start and stop ends the run before it
    std::thread thread;
    std::vector<std::thread> retired; // stopped from their own callbacks, not joined yet

    std::atomic<bool> running{false};
    std::atomic<bool> manual{false};

    // One servo tick, or one synchronous callback run outside the scheduler, at a time.
    std::mutex tickMutex;
    std::atomic<std::uint64_t> ticks{0};

    // Rate measurement (scheduler thread only, except the two atomics).
    std::array<Clock::time_point, RateWindow + 1> stamps{};
    std::size_t stampCount = 0;
    std::atomic<double> rate{NominalRateHz};
    std::atomic<double> instantRate{NominalRateHz};

    ~Impl() { stopScheduler(); }

    // ---- Scheduler ----

    void runTick()
    {
        CallbackScope scope;
        ticks.fetch_add(1);
        std::vector<std::shared_ptr<Entry>> list;
        std::vector<std::shared_ptr<SyncRequest>> syncs;
        {
            std::lock_guard lock(schedMutex);
            list = entries;
            syncs.swap(syncQueue);
        }
        std::size_t i = 0, j = 0;
        while (i < list.size() || j < syncs.size()) {
            const bool takeSync = j < syncs.size()
                && (i == list.size() || syncs[j]->priority > list[i]->priority
                    || (syncs[j]->priority == list[i]->priority && syncs[j]->sequence < list[i]->sequence));
            if (takeSync) {
                auto& r = syncs[j++];
                r->callback(r->data);
                {
                    std::lock_guard lock(schedMutex);
                    r->state = SyncRequest::Done;
                }
                doneCv.notify_all();
                continue;
            }
            auto& e = list[i++];
            if (!e->active.load()) continue;
            if (e->callback(e->data) == HD_CALLBACK_DONE) removeEntry(e);
        }
    }

    void removeEntry(const std::shared_ptr<Entry>& e)
    {
        e->active = false;
        std::lock_guard lock(schedMutex);
        std::erase(entries, e);
    }

    void recordStamp(Clock::time_point now)
    {
        const std::size_t n = stamps.size();
        const std::size_t slot = stampCount % n;
        if (stampCount > 0) {
            const double dt = std::chrono::duration<double>(now - stamps[(stampCount - 1) % n]).count();
            if (dt > 0) instantRate = 1.0 / dt;
        }
        stamps[slot] = now;
        ++stampCount;
        if (stampCount > 10) {
            const std::size_t intervals = std::min(stampCount - 1, RateWindow);
            const auto oldest = stamps[(stampCount - 1 - intervals) % n];
            const double span = std::chrono::duration<double>(now - oldest).count();
            if (span > 0) rate = static_cast<double>(intervals) / span;
        }
    }

    void loop(std::uint64_t generationRun)
    {
        raiseServoPriority();
        bool first = true;
        auto next = Clock::now();
        for (;;) {
            {
                // Checked under the tick lock: a stop that has taken the tick lock after ending this
                // run sees no further tick from it.
                std::lock_guard tickLock(tickMutex);
                {
                    std::lock_guard lock(schedMutex);
                    if (generation != generationRun) return;
                }
                if (first) stampCount = 0;
                first = false;
                recordStamp(Clock::now());
                runTick();
            }
            next += Period;
            const auto now = Clock::now();
            if (now - next > MaxLag) next = now;
            std::unique_lock lock(schedMutex);
            if (next > now) wakeCv.wait_until(lock, next, [&] { return generation != generationRun; });
            if (generation != generationRun) return;
        }
    }

    /// Hands the scheduler thread (and threads retired earlier) to the caller for joining; a thread
    /// cannot join itself, so when called from the scheduler thread that one is retired instead.
    /// Caller holds schedMutex.
    std::vector<std::thread> takeThreadsToJoin()
    {
        std::vector<std::thread> out;
        const auto self = std::this_thread::get_id();
        if (thread.joinable()) retired.push_back(std::move(thread));
        for (auto it = retired.begin(); it != retired.end();) {
            if (it->get_id() != self) {
                out.push_back(std::move(*it));
                it = retired.erase(it);
            } else {
                ++it;
            }
        }
        return out;
    }

    void startScheduler()
    {
        std::vector<std::thread> finished;
        {
            std::lock_guard lock(schedMutex);
            if (running) return;
            finished = takeThreadsToJoin(); // runs already ended: they stop at their next check
            ++generation;
            running = true;
            rate = NominalRateHz;
            instantRate = NominalRateHz;
            if (!manual) thread = std::thread([this, g = generation] { loop(g); });
        }
        for (auto& t : finished) t.join();
    }

    void stopScheduler()
    {
        std::vector<std::thread> toJoin;
        {
            std::lock_guard lock(schedMutex);
            running = false;
            ++generation;
            toJoin = takeThreadsToJoin();
        }
        wakeCv.notify_all();
        for (auto& t : toJoin) t.join();
        // A tick on another thread (manual mode, or a run whose thread another stop is joining)
        // finishes before this returns.
        if (!t_inCallback) std::lock_guard tickLock(tickMutex);
        {
            std::lock_guard lock(schedMutex);
            for (auto& r : syncQueue) r->state = SyncRequest::Cancelled;
            syncQueue.clear();
        }
        doneCv.notify_all();
    }

    void runInline(HDSchedulerCallback callback, void* data)
    {
        if (t_inCallback) {
            callback(data);
            return;
        }
        std::lock_guard tickLock(tickMutex);
        CallbackScope scope;
        callback(data);
    }

    void scheduleSynchronous(HDSchedulerCallback callback, void* data, HDushort priority)
    {
        for (;;) {
            if (t_inCallback || manual || !running) {
                runInline(callback, data);
                return;
            }
            auto r = std::make_shared<SyncRequest>();
            r->callback = callback;
            r->data = data;
            r->priority = priority;
            std::unique_lock lock(schedMutex);
            if (!running) continue;
            r->sequence = nextSequence++;
            syncQueue.insert(
                std::upper_bound(syncQueue.begin(), syncQueue.end(), r, runsBefore<std::shared_ptr<SyncRequest>>), r);
            doneCv.wait(lock, [&] { return r->state != SyncRequest::Pending; });
            if (r->state == SyncRequest::Done) return;
            // Cancelled by a stop: run it here (or again through a restarted scheduler).
        }
    }

    HDSchedulerHandle scheduleAsynchronous(HDSchedulerCallback callback, void* data, HDushort priority)
    {
        auto e = std::make_shared<Entry>();
        e->callback = callback;
        e->data = data;
        e->priority = priority;
        std::lock_guard lock(schedMutex);
        e->handle = nextHandle++;
        e->sequence = nextSequence++;
        entries.insert(std::upper_bound(entries.begin(), entries.end(), e, runsBefore<std::shared_ptr<Entry>>), e);
        return e->handle;
    }

    bool unschedule(HDSchedulerHandle handle)
    {
        {
            std::lock_guard lock(schedMutex);
            auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e->handle == handle; });
            if (it == entries.end()) return false;
            (*it)->active = false;
            entries.erase(it);
        }
        // A tick running it on another thread finishes first.
        if (!t_inCallback) std::lock_guard tickLock(tickMutex);
        return true;
    }

    void unscheduleAll()
    {
        std::lock_guard lock(schedMutex);
        for (auto& e : entries) e->active = false;
        entries.clear();
    }
};

// ---- Test-facing API ----

VirtualDevice& VirtualDevice::instance()
{
    static VirtualDevice device;
    return device;
}

VirtualDevice::VirtualDevice() : m_impl(std::make_unique<Impl>()) {}
VirtualDevice::~VirtualDevice() = default;

void VirtualDevice::setStylus(const Stylus& stylus)
{
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->stylus = stylus;
}

VirtualDevice::Stylus VirtualDevice::stylus() const
{
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->stylus;
}

void VirtualDevice::setPosition(double x, double y, double z)
{
    std::lock_guard lock(m_impl->stateMutex);
    auto& s = m_impl->stylus;
    s.position = {x, y, z};
    s.transform[12] = x;
    s.transform[13] = y;
    s.transform[14] = z;
}

void VirtualDevice::setVelocity(double x, double y, double z)
{
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->stylus.velocity = {x, y, z};
}

void VirtualDevice::setButtons(HDint buttons)
{
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->stylus.buttons = buttons;
}

void VirtualDevice::setModelName(const std::string& name)
{
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->model = name;
}

std::string VirtualDevice::modelName() const
{
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->model;
}

void VirtualDevice::setUsableWorkspace(const std::array<double, 6>& box)
{
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->workspace = box;
}

std::array<double, 6> VirtualDevice::usableWorkspace() const
{
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->workspace;
}

void VirtualDevice::setNominalMaxForce(double newtons)
{
    std::lock_guard lock(m_impl->stateMutex);
    if (std::isfinite(newtons) && newtons > 0) m_impl->maxForce = newtons;
}

double VirtualDevice::nominalMaxForce() const
{
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->maxForce;
}

void VirtualDevice::setManualMode(bool on)
{
    if (m_impl->manual == on) return;
    const bool wasRunning = m_impl->running;
    if (wasRunning) m_impl->stopScheduler();
    m_impl->manual = on;
    if (wasRunning) m_impl->startScheduler();
}

bool VirtualDevice::manualMode() const { return m_impl->manual; }

bool VirtualDevice::tick()
{
    if (!m_impl->manual || !m_impl->running || t_inCallback) return false;
    std::lock_guard tickLock(m_impl->tickMutex);
    if (!m_impl->manual || !m_impl->running) return false;
    m_impl->runTick();
    return true;
}

int VirtualDevice::tick(int count)
{
    int ran = 0;
    while (ran < count && tick()) ++ran;
    return ran;
}

std::uint64_t VirtualDevice::tickCount() const { return m_impl->ticks; }
bool VirtualDevice::schedulerRunning() const { return m_impl->running; }

std::size_t VirtualDevice::scheduledCallbacks() const
{
    std::lock_guard lock(m_impl->schedMutex);
    return m_impl->entries.size();
}

double VirtualDevice::measuredRate() const { return m_impl->manual ? NominalRateHz : m_impl->rate.load(); }

std::vector<VirtualDevice::SentForce> VirtualDevice::forcesSent() const
{
    std::lock_guard lock(m_impl->stateMutex);
    return {m_impl->log.begin(), m_impl->log.end()};
}

void VirtualDevice::clearForcesSent()
{
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->log.clear();
}

std::array<double, 3> VirtualDevice::currentForce() const
{
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->committedForce;
}

bool VirtualDevice::isOpen() const
{
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->open;
}

void VirtualDevice::reset()
{
    auto& d = *m_impl;
    d.stopScheduler();
    d.unscheduleAll();
    d.manual = false;
    d.ticks = 0;
    d.rate = NominalRateHz;
    d.instantRate = NominalRateHz;
    std::lock_guard lock(d.stateMutex);
    d.stylus = Stylus{};
    d.model = DefaultModelName;
    d.workspace = DefaultWorkspace;
    d.maxForce = DefaultMaxForce;
    d.open = d.current = d.forceOutput = d.inFrame = d.forcePending = false;
    d.pendingForce = d.committedForce = {};
    d.log.clear();
}

// ---- The HDAPI back-end ----

class VirtualBackend final : public detail::DeviceBackend {
public:
    explicit VirtualBackend(VirtualDevice& device) : d(*device.m_impl) {}

    HHD initDevice(HDstring) override
    {
        {
            std::lock_guard lock(d.stateMutex);
            if (d.open) {
                detail::pushError(HD_DEVICE_ALREADY_INITIATED, 0, VirtualHandle);
                return HD_INVALID_HANDLE;
            }
            d.open = true;
            d.current = true;
            d.forceOutput = false;
            d.inFrame = d.forcePending = false;
            d.pendingForce = d.committedForce = {};
            d.log.clear();
        }
        d.ticks = 0;
        return VirtualHandle;
    }

    void disableDevice(HHD device) override
    {
        if (!checkHandle(device)) return;
        d.stopScheduler();
        d.unscheduleAll();
        std::lock_guard lock(d.stateMutex);
        d.open = d.current = d.forceOutput = d.inFrame = d.forcePending = false;
        d.committedForce = {};
    }

    void makeCurrentDevice(HHD device) override
    {
        if (!checkHandle(device)) return;
        std::lock_guard lock(d.stateMutex);
        d.current = true;
    }

    HHD currentDevice() override
    {
        std::lock_guard lock(d.stateMutex);
        return d.open && d.current ? VirtualHandle : HD_INVALID_HANDLE;
    }

    HDErrorInfo popError() override { return HDErrorInfo{HD_SUCCESS, 0, HD_INVALID_HANDLE}; }

    HDstring getString(HDenum pname) override
    {
        std::string text;
        {
            std::lock_guard lock(d.stateMutex);
            if (!ready()) return nullptr;
            switch (pname) {
            case HD_DEVICE_MODEL_TYPE: text = d.model; break;
            case HD_DEVICE_VENDOR: text = "Vornax"; break;
            case HD_DEVICE_DRIVER_VERSION: text = "virtual"; break;
            case HD_DEVICE_SERIAL_NUMBER: text = "VIRTUAL-0001"; break;
            case HD_VERSION: text = "1.0 (virtual device)"; break;
            default: detail::pushError(HD_INVALID_ENUM, 0, VirtualHandle); return nullptr;
            }
        }
        return detail::internString(text);
    }

    void enable(HDenum cap) override { setCap(cap, true); }
    void disable(HDenum cap) override { setCap(cap, false); }

    HDboolean isEnabled(HDenum cap) override
    {
        std::lock_guard lock(d.stateMutex);
        if (!ready()) return HD_FALSE;
        if (cap != HD_FORCE_OUTPUT) {
            detail::pushError(HD_INVALID_ENUM, 0, VirtualHandle);
            return HD_FALSE;
        }
        return d.forceOutput ? HD_TRUE : HD_FALSE;
    }

    void getDoublev(HDenum pname, HDdouble* out) override
    {
        if (!out) {
            detail::pushError(HD_INVALID_VALUE, 0, VirtualHandle);
            return;
        }
        if (pname == HD_UPDATE_RATE || pname == HD_INSTANTANEOUS_UPDATE_RATE) {
            if (!readyLocked()) return;
            *out = rate(pname);
            return;
        }
        std::lock_guard lock(d.stateMutex);
        if (!ready()) return;
        const auto& s = d.stylus;
        switch (pname) {
        case HD_CURRENT_POSITION: std::copy(s.position.begin(), s.position.end(), out); break;
        case HD_CURRENT_VELOCITY: std::copy(s.velocity.begin(), s.velocity.end(), out); break;
        case HD_CURRENT_TRANSFORM: std::copy(s.transform.begin(), s.transform.end(), out); break;
        case HD_CURRENT_BUTTONS: *out = s.buttons; break;
        case HD_CURRENT_FORCE: std::copy(d.committedForce.begin(), d.committedForce.end(), out); break;
        case HD_USABLE_WORKSPACE_DIMENSIONS: std::copy(d.workspace.begin(), d.workspace.end(), out); break;
        case HD_MAX_WORKSPACE_DIMENSIONS: std::copy(MaxWorkspace.begin(), MaxWorkspace.end(), out); break;
        case HD_NOMINAL_MAX_FORCE: *out = d.maxForce; break;
        case HD_NOMINAL_MAX_CONTINUOUS_FORCE: *out = std::min(d.maxForce, NominalMaxContinuousForce); break;
        case HD_NOMINAL_MAX_STIFFNESS: *out = NominalMaxStiffness; break;
        default: detail::pushError(HD_INVALID_ENUM, 0, VirtualHandle); break;
        }
    }

    void getIntegerv(HDenum pname, HDint* out) override
    {
        if (!out) {
            detail::pushError(HD_INVALID_VALUE, 0, VirtualHandle);
            return;
        }
        if (pname == HD_UPDATE_RATE || pname == HD_INSTANTANEOUS_UPDATE_RATE) {
            if (!readyLocked()) return;
            *out = static_cast<HDint>(std::lround(rate(pname)));
            return;
        }
        std::lock_guard lock(d.stateMutex);
        if (!ready()) return;
        if (pname == HD_CURRENT_BUTTONS) {
            *out = d.stylus.buttons;
            return;
        }
        detail::pushError(HD_INVALID_ENUM, 0, VirtualHandle);
    }

    void setDoublev(HDenum pname, const HDdouble* in) override
    {
        std::lock_guard lock(d.stateMutex);
        if (!ready()) return;
        if (pname != HD_CURRENT_FORCE) {
            detail::pushError(HD_INVALID_ENUM, 0, VirtualHandle);
            return;
        }
        if (!in || !std::isfinite(in[0]) || !std::isfinite(in[1]) || !std::isfinite(in[2])) {
            detail::pushError(HD_INVALID_VALUE, 0, VirtualHandle); // never sent to the motors
            return;
        }
        if (!d.inFrame) {
            detail::pushError(HD_INVALID_OPERATION, 0, VirtualHandle); // forces are set inside a frame
            return;
        }
        std::array<double, 3> f{in[0], in[1], in[2]};
        const double magnitude = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
        if (magnitude > d.maxForce) {
            // Like the arm's own clamp: the direction is kept, the magnitude limited.
            for (auto& c : f) c *= d.maxForce / magnitude;
            detail::pushError(HD_EXCEEDED_MAX_FORCE, 0, VirtualHandle);
        }
        d.pendingForce = f;
        d.forcePending = true;
    }

    void beginFrame(HHD device) override
    {
        if (!checkHandle(device)) return;
        std::lock_guard lock(d.stateMutex);
        if (d.inFrame) {
            detail::pushError(HD_ILLEGAL_BEGIN, 0, VirtualHandle);
            return;
        }
        d.inFrame = true;
        d.forcePending = false;
        d.frameTick = d.ticks;
    }

    void endFrame(HHD device) override
    {
        if (!checkHandle(device)) return;
        std::lock_guard lock(d.stateMutex);
        if (!d.inFrame) {
            detail::pushError(HD_ILLEGAL_END, 0, VirtualHandle);
            return;
        }
        d.inFrame = false;
        if (!d.forcePending || !d.forceOutput) return;
        d.forcePending = false;
        d.committedForce = d.pendingForce;
        d.log.push_back(VirtualDevice::SentForce{d.frameTick, d.pendingForce});
        if (d.log.size() > VirtualDevice::ForceLogLimit) d.log.pop_front();
    }

    HDSchedulerHandle scheduleAsynchronous(HDSchedulerCallback callback, void* data, HDushort priority) override
    {
        if (!callback) {
            detail::pushError(HD_INVALID_VALUE, 0, VirtualHandle);
            return HD_INVALID_SCHEDULER_HANDLE;
        }
        return d.scheduleAsynchronous(callback, data, priority);
    }

    void scheduleSynchronous(HDSchedulerCallback callback, void* data, HDushort priority) override
    {
        if (!callback) {
            detail::pushError(HD_INVALID_VALUE, 0, VirtualHandle);
            return;
        }
        d.scheduleSynchronous(callback, data, priority);
    }

    void unschedule(HDSchedulerHandle handle) override
    {
        if (!d.unschedule(handle)) detail::pushError(HD_INVALID_VALUE, 0, VirtualHandle);
    }

    void startScheduler() override
    {
        if (!readyLocked()) return;
        d.startScheduler();
    }

    void stopScheduler() override { d.stopScheduler(); }

private:
    VirtualDevice::Impl& d;

    /// Device open and current; HD_BAD_HANDLE pushed otherwise. Caller holds stateMutex.
    bool ready()
    {
        if (d.open && d.current) return true;
        detail::pushError(HD_BAD_HANDLE);
        return false;
    }

    bool readyLocked()
    {
        std::lock_guard lock(d.stateMutex);
        return ready();
    }

    bool checkHandle(HHD device)
    {
        std::lock_guard lock(d.stateMutex);
        if (device == VirtualHandle && d.open) return true;
        detail::pushError(HD_BAD_HANDLE, 0, device);
        return false;
    }

    double rate(HDenum pname) const
    {
        if (d.manual) return VirtualDevice::NominalRateHz;
        return pname == HD_UPDATE_RATE ? d.rate.load() : d.instantRate.load();
    }

    void setCap(HDenum cap, bool on)
    {
        std::lock_guard lock(d.stateMutex);
        if (!ready()) return;
        if (cap != HD_FORCE_OUTPUT) {
            detail::pushError(HD_INVALID_ENUM, 0, VirtualHandle);
            return;
        }
        d.forceOutput = on;
        if (!on) d.committedForce = {}; // motors off
    }
};

namespace detail {

DeviceBackend& virtualBackend()
{
    static VirtualBackend backend(VirtualDevice::instance());
    return backend;
}

} // namespace detail

} // namespace vornax::hdapi
