// A stand-in for the vendor's device library, built as a shared library for the tests of the
// dlopen back-end. It answers with fixed values and counts what it was asked.
// Built twice: complete, and with HDAPI_FAKE_INCOMPLETE lacking the scheduler calls.
#include <cstring>

namespace {

struct ErrorInfo {
    unsigned int errorCode;
    int internalErrorCode;
    unsigned int hHD;
};

using Callback = unsigned int (*)(void*);

int g_calls = 0;
unsigned int g_pendingError = 0;
double g_lastForce[3] = {0, 0, 0};

} // namespace

extern "C" {

// Test access.
int fakeHdCallCount() { return g_calls; }
const double* fakeHdLastForce() { return g_lastForce; }

unsigned int hdInitDevice(const char* name)
{
    ++g_calls;
    if (name && std::strcmp(name, "Broken") == 0) {
        g_pendingError = 0x0302; // communication error
        return 0xFFFFFFFFu;
    }
    return 7;
}
void hdDisableDevice(unsigned int) { ++g_calls; }
void hdMakeCurrentDevice(unsigned int) { ++g_calls; }
unsigned int hdGetCurrentDevice() { return 7; }
ErrorInfo hdGetError()
{
    ErrorInfo e{g_pendingError, 42, 7};
    g_pendingError = 0;
    return e;
}
const char* hdGetString(unsigned int pname) { return pname == 0x2501 ? "Fake Arm" : nullptr; }
void hdEnable(unsigned int) { ++g_calls; }
void hdDisable(unsigned int) { ++g_calls; }
unsigned char hdIsEnabled(unsigned int) { return 1; }
void hdGetDoublev(unsigned int pname, double* out)
{
    ++g_calls;
    if (pname == 0x2551)
        for (int i = 0; i < 6; ++i) out[i] = i < 3 ? -100.0 - i : 100.0 + i;
}
void hdGetIntegerv(unsigned int pname, int* out)
{
    ++g_calls;
    if (pname == 0x2000) *out = 3;
}
void hdSetDoublev(unsigned int pname, const double* in)
{
    ++g_calls;
    if (pname == 0x2700) std::memcpy(g_lastForce, in, sizeof g_lastForce);
}
void hdBeginFrame(unsigned int) { ++g_calls; }
void hdEndFrame(unsigned int) { ++g_calls; }
unsigned long hdScheduleAsynchronous(Callback cb, void* data, unsigned short)
{
    cb(data); // once, on the caller's thread: enough to see the pointer arrive intact
    return 99;
}
void hdScheduleSynchronous(Callback cb, void* data, unsigned short) { cb(data); }
void hdUnschedule(unsigned long) { ++g_calls; }
#ifndef HDAPI_FAKE_INCOMPLETE
void hdStartScheduler() { ++g_calls; }
void hdStopScheduler() { ++g_calls; }
#endif
}
