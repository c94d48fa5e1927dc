// Device discovery, initialisation, scheduler control and the servo callback.
#include "haptics/SensableHaptics.h"

#include "common/Console.h"
#include "common/UserPrompts.h"
#include "enm/ElasticNetworkModel.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace vornax {

using namespace hdapi;

SensableHaptics::SensableHaptics(std::vector<Atom*> theList, float iWidth, float iHeight, HapticsUiHooks hooks_)
    : Haptics(std::move(theList), iWidth, iHeight, std::move(hooks_)),
      displayState(std::make_unique<HapticDisplayState>())
{
    tickStart = std::chrono::steady_clock::now();
}

SensableHaptics::~SensableHaptics()
{
    if (deviceHandle == HD_INVALID_HANDLE) return;
    stopSched();
    if (servoCallbackHandle != HD_INVALID_SCHEDULER_HANDLE) hdUnschedule(servoCallbackHandle);
    hdDisableDevice(deviceHandle);
}

// ---- Discovery and initialisation -------------------------------------------------------------

void SensableHaptics::loadDevices()
{
    console::line("loading device");
    HHD handle = hdInitDevice(HD_DEFAULT_DEVICE);
    if (HD_DEVICE_ERROR(hdGetError()) || handle == HD_INVALID_HANDLE) {
        handle = hdInitDevice("Omni1");
        if (HD_DEVICE_ERROR(hdGetError()) || handle == HD_INVALID_HANDLE) {
            usingDevice.store(false);
            console::line("NO DEVICE LOADED");
            return;
        }
    }
    usingDevice.store(true);
    deviceHandle = handle;
    hdMakeCurrentDevice(deviceHandle);

    const char* model = hdGetString(HD_DEVICE_MODEL_TYPE);
    const std::string name = model ? model : "";
    console::line("Device type: " + name);
    std::string message;
    deviceParameters = deviceParametersForModel(name, &message);
    console::line(message);
}

bool SensableHaptics::initHD()
{
    loadDevices();
    if (!usingDevice.load()) {
        console::write(console::Warning, "NOT Using Haptics Device");
        console::write(console::Warning, "");
        return false;
    }
    console::write(console::Information, "Using Haptics Device");
    console::write(console::Information, "");

    hdMakeCurrentDevice(deviceHandle);
    hdEnable(HD_FORCE_OUTPUT);
    servoCallbackHandle = hdScheduleAsynchronous(&SensableHaptics::touchMesh, this, HD_MAX_SCHEDULER_PRIORITY);

    double box[6] = {0, 0, 0, 0, 0, 0};
    hdGetDoublev(HD_USABLE_WORKSPACE_DIMENSIONS, box);
    std::array<double, 6> workspace{};
    for (std::size_t i = 0; i < 6; ++i) workspace[i] = box[i] * static_cast<double>(deviceParameters.workspaceScale);
    if (deviceParameters.deviceModel == 2) {
        workspace[0] -= 65.0;
        workspace[3] += 65.0;
        workspace[1] -= 15.0;
        workspace[4] -= 50.0;
        workspace[2] += 85.0;
    } else if (deviceParameters.deviceModel == 0) {
        workspace[1] += 25.0;
    }
    const Vector3d lo(static_cast<float>(workspace[0]), static_cast<float>(workspace[1]),
                      static_cast<float>(workspace[2]));
    const Vector3d hi(static_cast<float>(workspace[3]), static_cast<float>(workspace[4]),
                      static_cast<float>(workspace[5]));
    hapticScale = lo.euclideanDistance(hi) / 10.0f;
    if (!(hapticScale > 0.0f)) {
        // A device that reports no workspace would make every pull infinite.
        console::write(console::Warning, "The device reports an empty workspace; using a haptic scale of 1");
        hapticScale = 1.0f;
    }
    console::Line() << "Haptic Scale: " << hapticScale;
    {
        std::lock_guard lock(navigationMutex);
        usableWorkspace = workspace;
        for (std::size_t i = 0; i < 6; ++i) navigationBox[i] = workspace[i] * 0.5;
    }
    if (hooks.makeDisplayLists) hooks.makeDisplayLists();

    hdScheduleSynchronous(&SensableHaptics::copyHapticDisplayState, displayState.get(), HD_DEFAULT_SCHEDULER_PRIORITY);
    publishedState.store(*displayState);
    const Vector3d p(static_cast<float>(displayState->position[0]), static_cast<float>(displayState->position[1]),
                     static_cast<float>(displayState->position[2]));
    devicePoint.store(p);
    probePoint = p;
    SCP.store(p);

    startSched();
    return true;
}

// ---- Scheduler --------------------------------------------------------------------------------

HDCallbackCode SensableHaptics::touchMesh(void* pUserData)
{
    static_cast<SensableHaptics*>(pUserData)->touchTool();
    return HD_CALLBACK_CONTINUE;
}

HDCallbackCode SensableHaptics::copyHapticDisplayState(void* pUserData)
{
    auto* state = static_cast<HapticDisplayState*>(pUserData);
    hdGetDoublev(HD_CURRENT_POSITION, state->position);
    hdGetDoublev(HD_CURRENT_TRANSFORM, state->transform);
    hdGetDoublev(HD_CURRENT_VELOCITY, state->velocity);
    HDint rate = 0;
    hdGetIntegerv(HD_UPDATE_RATE, &rate);
    state->updateRate = rate;
    return HD_CALLBACK_DONE;
}

void SensableHaptics::touchTool()
{
    ticksRunning.fetch_add(1);
    if (schedulerStarted.load()) {
        hdScheduleSynchronous(&SensableHaptics::copyHapticDisplayState, displayState.get(),
                              HD_DEFAULT_SCHEDULER_PRIORITY);
        publishedState.store(*displayState);
        hdBeginFrame(deviceHandle);
        renderElasticNetwork();
        hdEndFrame(deviceHandle);
    }
    if (ticksRunning.fetch_sub(1) == 1) ticksRunning.notify_all(); // wakes a waiting stopSched
}

void SensableHaptics::startSched()
{
    if (!usingDevice.load()) return;
    schedulerStarted.store(true);
    hdStartScheduler();
}

void SensableHaptics::stopSched()
{
    if (!usingDevice.load()) return;
    // The load workflow rebuilds the network as soon as this returns: no tick may still be
    // running, whatever the back-end's scheduler guarantees.
    // A tick that begins after the flag is cleared does nothing.
    schedulerStarted.store(false);
    hdStopScheduler();
    for (uint32_t running = ticksRunning.load(); running != 0; running = ticksRunning.load())
        ticksRunning.wait(running);
}

void SensableHaptics::disableDevice() { stopSched(); }

// ---- Small queries ----------------------------------------------------------------------------

bool SensableHaptics::getFirstEntry()
{
    const HapticDisplayState state = publishedState.load();
    const Vector3d p(static_cast<float>(state.position[0]), static_cast<float>(state.position[1]),
                     static_cast<float>(state.position[2]));
    // While the servo runs it publishes these itself every tick, and it alone writes them, so
    // that it never waits for a write of this thread.
    if (!schedulerStarted.load()) {
        devicePoint.store(p);
        SCP.store(p);
    }
    std::lock_guard lock(navigationMutex);
    for (int a = 0; a < 3; ++a) {
        const double v = p[a];
        if (!(v > navigationBox[static_cast<std::size_t>(a)] && v < navigationBox[static_cast<std::size_t>(a + 3)]))
            return false;
    }
    enteredCube = true;
    return true;
}

int32_t SensableHaptics::getLastFrameTime() { return publishedState.load().updateRate; }

int32_t SensableHaptics::getButtons() { return lastButtons.load(); }

bool SensableHaptics::checkToggle()
{
    if (getButtons() != HD_DEVICE_BUTTON_1) return false;
    const bool on = toggleTranslations();
    if (hooks.setNavigationControls) hooks.setNavigationControls(on);
    return true;
}

void SensableHaptics::setCameraZoom(float currentZoom)
{
    const float zoom = std::clamp(currentZoom / 266.0f * 0.5f, 1.0f, 1.5f);
    hapticZoom.store(zoom);
    if (ElasticNetworkModel* eln = elasticNetwork.load()) eln->deformation().setCurrentZoom(zoom);
}

bool SensableHaptics::pointToPlane(Vector3d pointOnPlane, Vector3d planeNormal, Vector3d pointToTest)
{
    return (pointToTest - pointOnPlane).dotProduct(planeNormal) >= 0.0f;
}

std::unique_ptr<SensableHaptics> setUpHapticDevice(std::vector<Atom*> atoms, float width, float height,
                                                   HapticsUiHooks hooks, int32_t* deviceModel)
{
    auto device = std::make_unique<SensableHaptics>(std::move(atoms), width, height, std::move(hooks));
    if (!device->initHD()) {
        userPrompts().messageBox("Haptics device Error", "No device has been loaded.", MessageIcon::Warning,
                                 MessageButtons::Ok);
        return nullptr;
    }
    if (deviceModel) *deviceModel = device->getDeviceParams().deviceModel;
    return device;
}

} // namespace vornax
