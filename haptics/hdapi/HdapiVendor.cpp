// The vendor back-end: the device library loaded at run time.
//
// Every call is resolved once, when the library is first needed. A missing library or a missing
// call means "no device": hdInitDevice fails and the reason is printed once and kept for
// vendorLibraryProblem().
#include "haptics/hdapi/HdapiInternal.h"

#include "common/Console.h"

#include <dlfcn.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace vornax::hdapi {

namespace detail {
namespace {

// Our parameter and error codes carry the vendor's values, so the translation is the identity.
// Should a value ever differ, it is corrected here, in both directions.
HDenum toVendor(HDenum code) { return code; }
HDerror fromVendor(HDerror code) { return code; }

/// The library's error record (same layout as ours: three 32-bit fields).
struct VendorErrorInfo {
    unsigned int errorCode;
    int internalErrorCode;
    unsigned int hHD;
};

struct VendorCalls {
    HHD (*initDevice)(HDstring) = nullptr;
    void (*disableDevice)(HHD) = nullptr;
    void (*makeCurrentDevice)(HHD) = nullptr;
    HHD (*getCurrentDevice)() = nullptr;
    VendorErrorInfo (*getError)() = nullptr;
    HDstring (*getString)(HDenum) = nullptr;
    void (*enable)(HDenum) = nullptr;
    void (*disable)(HDenum) = nullptr;
    HDboolean (*isEnabled)(HDenum) = nullptr;
    void (*getDoublev)(HDenum, HDdouble*) = nullptr;
    void (*getIntegerv)(HDenum, HDint*) = nullptr;
    void (*setDoublev)(HDenum, const HDdouble*) = nullptr;
    void (*beginFrame)(HHD) = nullptr;
    void (*endFrame)(HHD) = nullptr;
    HDSchedulerHandle (*scheduleAsynchronous)(HDSchedulerCallback, void*, HDushort) = nullptr;
    void (*scheduleSynchronous)(HDSchedulerCallback, void*, HDushort) = nullptr;
    void (*unschedule)(HDSchedulerHandle) = nullptr;
    void (*startScheduler)() = nullptr;
    void (*stopScheduler)() = nullptr;
};

class VendorBackend final : public DeviceBackend {
public:
    explicit VendorBackend(const VendorCalls& calls) : m(calls) {}

    HHD initDevice(HDstring name) override { return m.initDevice(name); }
    void disableDevice(HHD device) override { m.disableDevice(device); }
    void makeCurrentDevice(HHD device) override { m.makeCurrentDevice(device); }
    HHD currentDevice() override { return m.getCurrentDevice(); }
    HDErrorInfo popError() override
    {
        const VendorErrorInfo e = m.getError();
        return HDErrorInfo{fromVendor(e.errorCode), e.internalErrorCode, e.hHD};
    }
    HDstring getString(HDenum pname) override { return m.getString(toVendor(pname)); }
    void enable(HDenum cap) override { m.enable(toVendor(cap)); }
    void disable(HDenum cap) override { m.disable(toVendor(cap)); }
    HDboolean isEnabled(HDenum cap) override { return m.isEnabled(toVendor(cap)); }
    void getDoublev(HDenum pname, HDdouble* params) override { m.getDoublev(toVendor(pname), params); }
    void getIntegerv(HDenum pname, HDint* params) override { m.getIntegerv(toVendor(pname), params); }
    void setDoublev(HDenum pname, const HDdouble* params) override { m.setDoublev(toVendor(pname), params); }
    void beginFrame(HHD device) override { m.beginFrame(device); }
    void endFrame(HHD device) override { m.endFrame(device); }
    HDSchedulerHandle scheduleAsynchronous(HDSchedulerCallback cb, void* data, HDushort priority) override
    {
        return m.scheduleAsynchronous(cb, data, priority);
    }
    void scheduleSynchronous(HDSchedulerCallback cb, void* data, HDushort priority) override
    {
        m.scheduleSynchronous(cb, data, priority);
    }
    void unschedule(HDSchedulerHandle handle) override { m.unschedule(handle); }
    void startScheduler() override { m.startScheduler(); }
    void stopScheduler() override { m.stopScheduler(); }

private:
    VendorCalls m;
};

struct VendorState {
    std::mutex mutex;
    std::string libraryName = "libHD.so";
    bool tried = false;
    std::string problem;
    void* library = nullptr; // kept open for the life of the process once loaded
    std::unique_ptr<VendorBackend> backend;
    std::atomic<VendorBackend*> ready{nullptr}; // set once the calls are resolved
};

VendorState& state()
{
    static VendorState s;
    return s;
}

template <typename Fn>
bool resolve(void* library, const char* symbol, Fn& target, std::string& missing)
{
    void* p = dlsym(library, symbol);
    if (!p) {
        if (!missing.empty()) missing += ", ";
        missing += symbol;
        return false;
    }
    target = reinterpret_cast<Fn>(p);
    return true;
}

void load(VendorState& s)
{
    s.tried = true;
    s.library = dlopen(s.libraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!s.library) {
        const char* why = dlerror();
        s.problem = "HDAPI library " + s.libraryName + " could not be loaded: " + (why ? why : "unknown reason");
        console::write(console::Warning, s.problem);
        return;
    }
    VendorCalls c;
    std::string missing;
    resolve(s.library, "hdInitDevice", c.initDevice, missing);
    resolve(s.library, "hdDisableDevice", c.disableDevice, missing);
    resolve(s.library, "hdMakeCurrentDevice", c.makeCurrentDevice, missing);
    resolve(s.library, "hdGetCurrentDevice", c.getCurrentDevice, missing);
    resolve(s.library, "hdGetError", c.getError, missing);
    resolve(s.library, "hdGetString", c.getString, missing);
    resolve(s.library, "hdEnable", c.enable, missing);
    resolve(s.library, "hdDisable", c.disable, missing);
    resolve(s.library, "hdIsEnabled", c.isEnabled, missing);
    resolve(s.library, "hdGetDoublev", c.getDoublev, missing);
    resolve(s.library, "hdGetIntegerv", c.getIntegerv, missing);
    resolve(s.library, "hdSetDoublev", c.setDoublev, missing);
    resolve(s.library, "hdBeginFrame", c.beginFrame, missing);
    resolve(s.library, "hdEndFrame", c.endFrame, missing);
    resolve(s.library, "hdScheduleAsynchronous", c.scheduleAsynchronous, missing);
    resolve(s.library, "hdScheduleSynchronous", c.scheduleSynchronous, missing);
    resolve(s.library, "hdUnschedule", c.unschedule, missing);
    resolve(s.library, "hdStartScheduler", c.startScheduler, missing);
    resolve(s.library, "hdStopScheduler", c.stopScheduler, missing);
    if (!missing.empty()) {
        s.problem = "HDAPI library " + s.libraryName + " lacks: " + missing;
        console::write(console::Warning, s.problem);
        dlclose(s.library);
        s.library = nullptr;
        return;
    }
    s.backend = std::make_unique<VendorBackend>(c);
    s.ready = s.backend.get();
}

} // namespace

DeviceBackend* vendorBackend()
{
    auto& s = state();
    if (auto* b = s.ready.load()) return b; // every call of the servo loop comes here
    std::lock_guard lock(s.mutex);
    if (!s.tried) load(s);
    return s.backend.get();
}

} // namespace detail

void setVendorLibraryName(const std::string& fileName)
{
    auto& s = detail::state();
    std::lock_guard lock(s.mutex);
    // The library of the open device stays (its scheduler thread may be running).
    if (s.backend && activeBackend() == Backend::Vendor) return;
    s.ready = nullptr;
    s.backend.reset();
    if (s.library) dlclose(s.library);
    s.library = nullptr;
    s.libraryName = fileName;
    s.tried = false;
    s.problem.clear();
}

bool vendorLibraryAvailable() { return detail::vendorBackend() != nullptr; }

std::string vendorLibraryProblem()
{
    auto& s = detail::state();
    std::lock_guard lock(s.mutex);
    return s.problem;
}

} // namespace vornax::hdapi
