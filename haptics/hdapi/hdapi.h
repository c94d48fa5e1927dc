// Our HDAPI layer: the haptic device calls the device logic uses, with two back-ends behind them.
//
//  - The vendor library (libHD.so / hd.dll), loaded at run time with dlopen when it is installed.
//    Nothing of it is needed at build time. Our codes below carry the vendor's numeric values
//    where they are known; every code passes through one translation table in the vendor
//    back-end (HdapiVendor.cpp), so a value that differs is corrected in that one place.
//  - A virtual device of our own (VirtualDevice.h): a 1 kHz scheduler thread, a stylus whose state
//    the application or a test sets, a log of the forces sent, and a manual mode in which a test
//    advances the servo ticks one by one.
//
// Selection, made by each hdInitDevice: the virtual device when it was asked for (environment
// variable VORNAX_HAPTICS=virtual, or useVirtualDevice(true)); otherwise the vendor library when it
// loads and opens a device; otherwise no device (hdInitDevice returns HD_INVALID_HANDLE and
// hdGetError reports the failure).
//
// The calls keep the vendor's names and argument order, inside namespace vornax::hdapi.
#pragma once

#include <cstdint>
#include <string>

namespace vornax::hdapi {

// ---- Basic types --------------------------------------------------------------------------

using HDenum = unsigned int;
using HDint = int;
using HDuint = unsigned int;
using HDushort = unsigned short;
using HDlong = long;
using HDulong = unsigned long;
using HDdouble = double;
using HDfloat = float;
using HDboolean = unsigned char;
using HDstring = const char*;
using HDerror = unsigned int;

/// Device handle.
using HHD = unsigned int;
/// Handle of a scheduled callback.
using HDSchedulerHandle = unsigned long;
/// Return value of a scheduler callback.
using HDCallbackCode = unsigned int;
/// Scheduler callback: runs in the servo thread with the user data given when it was scheduled.
using HDSchedulerCallback = HDCallbackCode (*)(void* pUserData);

/// Handle value of "no device" (all 32 bits set).
inline constexpr HHD HD_INVALID_HANDLE = 0xFFFFFFFFu;
/// The default device for hdInitDevice.
inline constexpr HDstring HD_DEFAULT_DEVICE = nullptr;

inline constexpr HDboolean HD_TRUE = 1;
inline constexpr HDboolean HD_FALSE = 0;

// ---- Scheduler ------------------------------------------------------------------------------

inline constexpr HDCallbackCode HD_CALLBACK_DONE = 0;     ///< unschedule after this run
inline constexpr HDCallbackCode HD_CALLBACK_CONTINUE = 1; ///< run again on the next servo tick

inline constexpr HDushort HD_MAX_SCHEDULER_PRIORITY = 0xFFFF;
inline constexpr HDushort HD_MIN_SCHEDULER_PRIORITY = 0x0000;
inline constexpr HDushort HD_DEFAULT_SCHEDULER_PRIORITY = 0x7FFF;

/// Handle value of a failed hdScheduleAsynchronous.
inline constexpr HDSchedulerHandle HD_INVALID_SCHEDULER_HANDLE = 0;

// ---- Errors ---------------------------------------------------------------------------------

/// One entry of the error stack; errorCode is HD_SUCCESS when the stack is empty.
struct HDErrorInfo {
    HDerror errorCode;     ///< one of the HD_* error codes below
    int internalErrorCode; ///< back-end detail (dlerror class, vendor's internal code, 0)
    HHD hHD;               ///< device the error belongs to, HD_INVALID_HANDLE when none
};

inline constexpr HDerror HD_SUCCESS = 0x0000;
// Function errors
inline constexpr HDerror HD_INVALID_ENUM = 0x0100;
inline constexpr HDerror HD_INVALID_VALUE = 0x0101;
inline constexpr HDerror HD_INVALID_OPERATION = 0x0102;
inline constexpr HDerror HD_INVALID_INPUT_TYPE = 0x0103;
inline constexpr HDerror HD_BAD_HANDLE = 0x0104;
// Force errors
inline constexpr HDerror HD_WARM_MOTORS = 0x0200;
inline constexpr HDerror HD_EXCEEDED_MAX_FORCE = 0x0201;
inline constexpr HDerror HD_EXCEEDED_MAX_FORCE_IMPULSE = 0x0202;
inline constexpr HDerror HD_EXCEEDED_MAX_VELOCITY = 0x0203;
inline constexpr HDerror HD_FORCE_ERROR = 0x0204;
// Device errors
inline constexpr HDerror HD_DEVICE_FAULT = 0x0300;
inline constexpr HDerror HD_DEVICE_ALREADY_INITIATED = 0x0301;
inline constexpr HDerror HD_COMM_ERROR = 0x0302;
inline constexpr HDerror HD_COMM_CONFIG_ERROR = 0x0303;
inline constexpr HDerror HD_TIMER_ERROR = 0x0304;
// Frame errors
inline constexpr HDerror HD_ILLEGAL_BEGIN = 0x0400;
inline constexpr HDerror HD_ILLEGAL_END = 0x0401;
inline constexpr HDerror HD_FRAME_ERROR = 0x0402;
// Scheduler errors
inline constexpr HDerror HD_INVALID_PRIORITY = 0x0500;
inline constexpr HDerror HD_SCHEDULER_FULL = 0x0501;
// Licensing
inline constexpr HDerror HD_INVALID_LICENSE = 0x0600;

/// True when the record holds an error (the vendor's HD_DEVICE_ERROR test).
inline constexpr bool HD_DEVICE_ERROR(const HDErrorInfo& info) { return info.errorCode != HD_SUCCESS; }

// ---- Parameter codes ------------------------------------------------------------------------

// Current device state (read in the servo tick)
inline constexpr HDenum HD_CURRENT_BUTTONS = 0x2000;   ///< int: bit 0 front button, bit 1 back button
inline constexpr HDenum HD_CURRENT_POSITION = 0x2050;  ///< 3 doubles, mm
inline constexpr HDenum HD_CURRENT_VELOCITY = 0x2051;  ///< 3 doubles, mm/s
inline constexpr HDenum HD_CURRENT_TRANSFORM = 0x2052; ///< 16 doubles, column-major 4x4

// Device identification (hdGetString)
inline constexpr HDenum HD_VERSION = 0x2500;
inline constexpr HDenum HD_DEVICE_MODEL_TYPE = 0x2501;
inline constexpr HDenum HD_DEVICE_DRIVER_VERSION = 0x2502;
inline constexpr HDenum HD_DEVICE_VENDOR = 0x2503;
inline constexpr HDenum HD_DEVICE_SERIAL_NUMBER = 0x2504;

// Workspace and device limits
inline constexpr HDenum HD_MAX_WORKSPACE_DIMENSIONS = 0x2550;     ///< 6 doubles: min x, y, z, max x, y, z (mm)
inline constexpr HDenum HD_USABLE_WORKSPACE_DIMENSIONS = 0x2551;  ///< 6 doubles, same order
inline constexpr HDenum HD_UPDATE_RATE = 0x2600;                  ///< servo rate in Hz (int or double)
inline constexpr HDenum HD_INSTANTANEOUS_UPDATE_RATE = 0x2601;    ///< rate of the last tick in Hz
inline constexpr HDenum HD_NOMINAL_MAX_STIFFNESS = 0x2602;        ///< double, N/mm
inline constexpr HDenum HD_NOMINAL_MAX_FORCE = 0x2603;            ///< double, N
inline constexpr HDenum HD_NOMINAL_MAX_CONTINUOUS_FORCE = 0x2604; ///< double, N

// Output
inline constexpr HDenum HD_CURRENT_FORCE = 0x2700; ///< 3 doubles, N, set inside a frame

// Capabilities (hdEnable / hdDisable / hdIsEnabled)
inline constexpr HDenum HD_FORCE_OUTPUT = 0x4000;

// Button masks of HD_CURRENT_BUTTONS
inline constexpr HDint HD_DEVICE_BUTTON_1 = 1 << 0; ///< front button
inline constexpr HDint HD_DEVICE_BUTTON_2 = 1 << 1; ///< back button
inline constexpr HDint HD_DEVICE_BUTTON_3 = 1 << 2;
inline constexpr HDint HD_DEVICE_BUTTON_4 = 1 << 3;

// ---- Calls ----------------------------------------------------------------------------------

/// Opens a device (HD_DEFAULT_DEVICE or a configured name) and makes it current. Errors left on
/// the stack from before are dropped first, so hdGetError right after reports this call only.
/// On failure returns HD_INVALID_HANDLE and pushes the error. A device already open gives
/// HD_DEVICE_ALREADY_INITIATED: close it with hdDisableDevice before opening it again.
HHD hdInitDevice(HDstring deviceName);
/// Closes a device opened by hdInitDevice; stops the scheduler when it was the last device.
void hdDisableDevice(HHD hHD);
/// Makes the device the target of the calls that follow.
void hdMakeCurrentDevice(HHD hHD);
/// The current device, HD_INVALID_HANDLE when none.
HHD hdGetCurrentDevice();

/// Pops the most recent error; errorCode is HD_SUCCESS when there is none.
HDErrorInfo hdGetError();
/// Readable text of an error code (never null).
HDstring hdGetErrorString(HDerror errorCode);

/// Text parameters (HD_DEVICE_MODEL_TYPE, ...). The text stays valid for the life of the process.
/// Null, with an error pushed, for an unknown code or without a current device.
HDstring hdGetString(HDenum pname);

void hdEnable(HDenum cap);
void hdDisable(HDenum cap);
HDboolean hdIsEnabled(HDenum cap);

void hdGetDoublev(HDenum pname, HDdouble* params);
void hdGetIntegerv(HDenum pname, HDint* params);
void hdSetDoublev(HDenum pname, const HDdouble* params);

/// Bracket the device output of one servo tick: values set in between are sent at hdEndFrame.
void hdBeginFrame(HHD hHD);
void hdEndFrame(HHD hHD);

/// Runs the callback on every servo tick until it returns HD_CALLBACK_DONE or is unscheduled.
/// Higher priorities run first within a tick.
HDSchedulerHandle hdScheduleAsynchronous(HDSchedulerCallback callback, void* pUserData, HDushort priority);
/// Runs the callback once in the servo thread and returns when it has run. Called from inside a
/// scheduler callback, or while the scheduler is stopped, it runs at once on the calling thread.
void hdScheduleSynchronous(HDSchedulerCallback callback, void* pUserData, HDushort priority);
/// Removes a scheduled callback; it does not run again once this returns (unless called from a
/// callback of the same tick).
void hdUnschedule(HDSchedulerHandle handle);

void hdStartScheduler();
/// Stops the servo ticks. When it returns no scheduler callback is running or will run until
/// hdStartScheduler. Scheduled callbacks stay scheduled.
void hdStopScheduler();

// ---- Back-end selection ---------------------------------------------------------------------

enum class Backend {
    None,    ///< no device opened (yet)
    Vendor,  ///< the vendor library, loaded at run time
    Virtual, ///< our virtual device
};

/// Asks for (or stops asking for) the virtual device at the next hdInitDevice, whatever the
/// environment says. Without a call, VORNAX_HAPTICS=virtual in the environment asks for it.
void useVirtualDevice(bool on);
/// Forgets a useVirtualDevice choice: the environment decides again.
void resetDeviceChoice();
/// Whether the next hdInitDevice opens the virtual device.
bool virtualDeviceRequested();

/// The back-end of the device opened by the last successful hdInitDevice.
Backend activeBackend();
const char* backendName(Backend backend);

/// File name tried by dlopen for the vendor library (default "libHD.so"); tests point it
/// elsewhere. While the vendor back-end is the active one the name is ignored; otherwise a library
/// loaded before is released and the next device opening tries the new name.
void setVendorLibraryName(const std::string& fileName);
/// Whether the vendor library loads and offers every call (it is tried once; no device is opened).
bool vendorLibraryAvailable();
/// Why the vendor library could not be used ("" when it loaded or was not tried yet).
std::string vendorLibraryProblem();

} // namespace vornax::hdapi
