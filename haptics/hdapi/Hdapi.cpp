// The HDAPI calls: back-end selection, dispatch and the error stack.
#include "haptics/hdapi/HdapiInternal.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>

namespace vornax::hdapi {

namespace detail {
namespace {

constexpr std::size_t ErrorStackLimit = 64;

// Never destroyed: a scheduler thread still running while the process exits may report errors.
std::mutex& errorMutex()
{
    static auto* m = new std::mutex;
    return *m;
}

std::deque<HDErrorInfo>& errorStack()
{
    static auto* s = new std::deque<HDErrorInfo>;
    return *s;
}

} // namespace

void pushError(HDerror code, int internalCode, HHD device)
{
    std::lock_guard lock(errorMutex());
    auto& s = errorStack();
    s.push_back(HDErrorInfo{code, internalCode, device});
    if (s.size() > ErrorStackLimit) s.pop_front();
}

HDErrorInfo popError()
{
    std::lock_guard lock(errorMutex());
    auto& s = errorStack();
    if (s.empty()) return HDErrorInfo{HD_SUCCESS, 0, HD_INVALID_HANDLE};
    const HDErrorInfo e = s.back();
    s.pop_back();
    return e;
}

bool hasErrors()
{
    std::lock_guard lock(errorMutex());
    return !errorStack().empty();
}

void clearErrors()
{
    std::lock_guard lock(errorMutex());
    errorStack().clear();
}

HDstring internString(const std::string& text)
{
    static std::mutex m;
    static std::set<std::string> texts; // nodes never move: the pointers stay valid
    std::lock_guard lock(m);
    return texts.insert(text).first->c_str();
}

} // namespace detail

namespace {

// 0 = follow the environment, 1 = virtual asked for, 2 = virtual refused.
std::atomic<int> g_virtualChoice{0};
std::atomic<Backend> g_active{Backend::None};

detail::DeviceBackend* active()
{
    switch (g_active.load()) {
    case Backend::Virtual: return &detail::virtualBackend();
    case Backend::Vendor: return detail::vendorBackend();
    case Backend::None: break;
    }
    return nullptr;
}

/// The active back-end, or null with HD_BAD_HANDLE pushed when no device was opened.
detail::DeviceBackend* activeOrError()
{
    auto* b = active();
    if (!b) detail::pushError(HD_BAD_HANDLE);
    return b;
}

} // namespace

// ---- Selection ----

void useVirtualDevice(bool on) { g_virtualChoice = on ? 1 : 2; }
void resetDeviceChoice() { g_virtualChoice = 0; }

bool virtualDeviceRequested()
{
    switch (g_virtualChoice.load()) {
    case 1: return true;
    case 2: return false;
    default: break;
    }
    const char* env = std::getenv("VORNAX_HAPTICS");
    return env && std::strcmp(env, "virtual") == 0;
}

Backend activeBackend() { return g_active.load(); }

const char* backendName(Backend backend)
{
    switch (backend) {
    case Backend::Vendor: return "vendor HDAPI library";
    case Backend::Virtual: return "virtual device";
    case Backend::None: break;
    }
    return "no device";
}

// ---- Calls ----

HHD hdInitDevice(HDstring deviceName)
{
    // Callers test hdGetError right after this call: a stale error must not read as its failure.
    detail::clearErrors();
    if (auto* b = active()) {
        for (int i = 0; i < 64 && HD_DEVICE_ERROR(b->popError()); ++i) {}
    }
    detail::DeviceBackend* backend = nullptr;
    Backend kind = Backend::None;
    if (virtualDeviceRequested()) {
        backend = &detail::virtualBackend();
        kind = Backend::Virtual;
    } else {
        backend = detail::vendorBackend();
        kind = Backend::Vendor;
        if (!backend) {
            detail::pushError(HD_DEVICE_FAULT);
            return HD_INVALID_HANDLE;
        }
    }
    const HHD handle = backend->initDevice(deviceName);
    // The back-end's own failure report moves to our stack, where hdGetError finds it whichever
    // back-end is active afterwards.
    const HDErrorInfo err = backend->popError();
    if (HD_DEVICE_ERROR(err) || handle == HD_INVALID_HANDLE) {
        if (HD_DEVICE_ERROR(err))
            detail::pushError(err.errorCode, err.internalErrorCode, err.hHD);
        else if (!detail::hasErrors())
            detail::pushError(HD_DEVICE_FAULT);
        return HD_INVALID_HANDLE;
    }
    g_active = kind;
    return handle;
}

void hdDisableDevice(HHD hHD)
{
    if (auto* b = activeOrError()) b->disableDevice(hHD);
}

void hdMakeCurrentDevice(HHD hHD)
{
    if (auto* b = activeOrError()) b->makeCurrentDevice(hHD);
}

HHD hdGetCurrentDevice()
{
    auto* b = active();
    return b ? b->currentDevice() : HD_INVALID_HANDLE;
}

HDErrorInfo hdGetError()
{
    HDErrorInfo e = detail::popError();
    if (HD_DEVICE_ERROR(e)) return e;
    if (auto* b = active()) return b->popError();
    return e;
}

HDstring hdGetErrorString(HDerror errorCode)
{
    switch (errorCode) {
    case HD_SUCCESS: return "No error";
    case HD_INVALID_ENUM: return "Invalid parameter code";
    case HD_INVALID_VALUE: return "Invalid value";
    case HD_INVALID_OPERATION: return "Invalid operation";
    case HD_INVALID_INPUT_TYPE: return "Invalid input type";
    case HD_BAD_HANDLE: return "Bad device handle or no device opened";
    case HD_WARM_MOTORS: return "Motors are warm";
    case HD_EXCEEDED_MAX_FORCE: return "Force above the device's maximum";
    case HD_EXCEEDED_MAX_FORCE_IMPULSE: return "Force impulse above the device's maximum";
    case HD_EXCEEDED_MAX_VELOCITY: return "Velocity above the device's maximum";
    case HD_FORCE_ERROR: return "Force error";
    case HD_DEVICE_FAULT: return "Device fault or no device available";
    case HD_DEVICE_ALREADY_INITIATED: return "Device already initialised";
    case HD_COMM_ERROR: return "Communication error";
    case HD_COMM_CONFIG_ERROR: return "Communication configuration error";
    case HD_TIMER_ERROR: return "Timer error";
    case HD_ILLEGAL_BEGIN: return "Frame begun inside a frame";
    case HD_ILLEGAL_END: return "Frame ended outside a frame";
    case HD_FRAME_ERROR: return "Frame error";
    case HD_INVALID_PRIORITY: return "Invalid scheduler priority";
    case HD_SCHEDULER_FULL: return "Scheduler full";
    case HD_INVALID_LICENSE: return "Invalid licence";
    default: break;
    }
    return "Unknown error";
}

HDstring hdGetString(HDenum pname)
{
    auto* b = activeOrError();
    return b ? b->getString(pname) : nullptr;
}

void hdEnable(HDenum cap)
{
    if (auto* b = activeOrError()) b->enable(cap);
}

void hdDisable(HDenum cap)
{
    if (auto* b = activeOrError()) b->disable(cap);
}

HDboolean hdIsEnabled(HDenum cap)
{
    auto* b = activeOrError();
    return b ? b->isEnabled(cap) : HD_FALSE;
}

void hdGetDoublev(HDenum pname, HDdouble* params)
{
    if (auto* b = activeOrError()) b->getDoublev(pname, params);
}

void hdGetIntegerv(HDenum pname, HDint* params)
{
    if (auto* b = activeOrError()) b->getIntegerv(pname, params);
}

void hdSetDoublev(HDenum pname, const HDdouble* params)
{
    if (auto* b = activeOrError()) b->setDoublev(pname, params);
}

void hdBeginFrame(HHD hHD)
{
    if (auto* b = activeOrError()) b->beginFrame(hHD);
}

void hdEndFrame(HHD hHD)
{
    if (auto* b = activeOrError()) b->endFrame(hHD);
}

HDSchedulerHandle hdScheduleAsynchronous(HDSchedulerCallback callback, void* pUserData, HDushort priority)
{
    auto* b = activeOrError();
    return b ? b->scheduleAsynchronous(callback, pUserData, priority) : HD_INVALID_SCHEDULER_HANDLE;
}

void hdScheduleSynchronous(HDSchedulerCallback callback, void* pUserData, HDushort priority)
{
    if (auto* b = activeOrError()) b->scheduleSynchronous(callback, pUserData, priority);
}

void hdUnschedule(HDSchedulerHandle handle)
{
    if (auto* b = activeOrError()) b->unschedule(handle);
}

void hdStartScheduler()
{
    if (auto* b = activeOrError()) b->startScheduler();
}

void hdStopScheduler()
{
    // Stopping with no device opened is harmless (shutdown paths call it unconditionally).
    if (auto* b = active()) b->stopScheduler();
}

} // namespace vornax::hdapi
