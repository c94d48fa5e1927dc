// Inside the HDAPI layer: the back-end interface and the shared error stack.
#pragma once

#include "haptics/hdapi/hdapi.h"

#include <string>

namespace vornax::hdapi::detail {

/// Pushes an error for hdGetError (the stack keeps the most recent 64).
void pushError(HDerror code, int internalCode = 0, HHD device = HD_INVALID_HANDLE);
/// Pops the most recent error of our own stack; HD_SUCCESS when empty.
HDErrorInfo popError();
bool hasErrors();
/// Empties the error stack.
void clearErrors();
/// A copy of `text` that lives until the process ends (texts handed out by hdGetString).
HDstring internString(const std::string& text);

/// One implementation of the device calls.
class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;
    virtual HHD initDevice(HDstring name) = 0;
    virtual void disableDevice(HHD device) = 0;
    virtual void makeCurrentDevice(HHD device) = 0;
    virtual HHD currentDevice() = 0;
    /// The back-end's own pending error (HD_SUCCESS when none).
    virtual HDErrorInfo popError() = 0;
    virtual HDstring getString(HDenum pname) = 0;
    virtual void enable(HDenum cap) = 0;
    virtual void disable(HDenum cap) = 0;
    virtual HDboolean isEnabled(HDenum cap) = 0;
    virtual void getDoublev(HDenum pname, HDdouble* params) = 0;
    virtual void getIntegerv(HDenum pname, HDint* params) = 0;
    virtual void setDoublev(HDenum pname, const HDdouble* params) = 0;
    virtual void beginFrame(HHD device) = 0;
    virtual void endFrame(HHD device) = 0;
    virtual HDSchedulerHandle scheduleAsynchronous(HDSchedulerCallback callback, void* data, HDushort priority) = 0;
    virtual void scheduleSynchronous(HDSchedulerCallback callback, void* data, HDushort priority) = 0;
    virtual void unschedule(HDSchedulerHandle handle) = 0;
    virtual void startScheduler() = 0;
    virtual void stopScheduler() = 0;
};

/// The virtual device's back-end (always available).
DeviceBackend& virtualBackend();
/// The vendor library's back-end, loading the library on first use; null when the library or one
/// of its calls is missing (vendorLibraryProblem() says why).
DeviceBackend* vendorBackend();

} // namespace vornax::hdapi::detail
