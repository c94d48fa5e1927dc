// What the main window's controls and control loop ask of the view: the frame, the device's
// state and commands, and the network's mode selection and force read-outs.
//
// FormLogic works through this interface only, so it runs without a GL context. SurfaceFormView
// answers from the window's workbench (the network and the device) and its GL surface (the
// view's switches, which do nothing before the view exists); without a device the device's
// calls do nothing, or answer 0 / false / none.
#pragma once

#include "enm/ModeChangeToken.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornax {

class Atom;
class COpenGL;
class ViewSurface;
class Workbench;

class FormView {
public:
    virtual ~FormView() = default;

    // Frame (the surface measures the frame rate and hands it to the view itself)
    virtual void requestFrame() = 0;

    // Device state and commands
    virtual Atom* getCurrentAtom() = 0;
    virtual float getForceMax() const = 0;
    virtual int32_t gethapticButton() = 0;
    virtual bool pollHapticFirstEntry() = 0;
    virtual void setReconfigureMolecule(int32_t r) = 0;
    virtual void setHatpicState(bool on) = 0;
    virtual void setHapticsTranslate(bool on) = 0;
    virtual bool checkToggle() = 0;
    virtual void setHapticTranslateAmount(float amount) = 0;
    virtual void setHapticSticking(bool on) = 0;
    virtual bool undoLastSelection() = 0;
    virtual void resetSim() = 0;
    virtual void addEqForce(float f) = 0;
    virtual void setSaveForces(bool on) = 0;

    // View switches
    virtual void toggleWorkspace(bool show) = 0;
    virtual void toggleRotateMode() = 0;
    virtual void setRenderForces(bool on) = 0;
    virtual void setRenderingSpheresElN(bool on) = 0;
    virtual void showSelectedAtoms(bool on) = 0;
    virtual void renderSprings(bool on) = 0;
    virtual void resetALL() = 0;

    // Network
    virtual bool hasNetwork() const = 0;
    virtual bool getELN_loaded() const = 0;
    virtual int32_t getELN_loadMode() const = 0;
    virtual std::vector<int32_t> getElNemoModes() const = 0;
    virtual std::vector<Atom*> getAtomContactList() const = 0;
    virtual bool newForceAdded() const = 0;
    virtual void setNewForceAdded(bool b) = 0;
    virtual bool writeCAlphaFile(const std::string& file) const = 0;
    virtual double getRMSingle(int32_t mode) const = 0;
    virtual double getRM(int32_t n) const = 0;
    virtual double getRTotal() const = 0;
    /// The mode-change handshake: empty while a simulation step runs.
    virtual std::optional<ModeChangeToken> setChangingSimMode() = 0;
    virtual void copyModesToELN(const ModeChangeToken& token, const int32_t* modes, int32_t n) = 0;
    virtual void useAllModes(const ModeChangeToken& token, bool on) = 0;
    virtual void selectSliderAmount(const ModeChangeToken& token, int32_t n) = 0;
    virtual void setElasticNetworkModeState(const ModeChangeToken& token, int32_t state) = 0;
};

/// The workbench and the view of a GL surface.
class SurfaceFormView final : public FormView {
public:
    /// `surface` may be null (no view then); `workbench` outlives this object.
    SurfaceFormView(Workbench& workbench, ViewSurface* surface) : m_workbench(workbench), m_surface(surface) {}
    void setSurface(ViewSurface* surface) { m_surface = surface; }

    void requestFrame() override;
    Atom* getCurrentAtom() override;
    float getForceMax() const override;
    int32_t gethapticButton() override;
    bool pollHapticFirstEntry() override;
    void setReconfigureMolecule(int32_t r) override;
    void setHatpicState(bool on) override;
    void setHapticsTranslate(bool on) override;
    bool checkToggle() override;
    void setHapticTranslateAmount(float amount) override;
    void setHapticSticking(bool on) override;
    bool undoLastSelection() override;
    void resetSim() override;
    void addEqForce(float f) override;
    void setSaveForces(bool on) override;
    void toggleWorkspace(bool show) override;
    void toggleRotateMode() override;
    void setRenderForces(bool on) override;
    void setRenderingSpheresElN(bool on) override;
    void showSelectedAtoms(bool on) override;
    void renderSprings(bool on) override;
    void resetALL() override;
    bool hasNetwork() const override;
    bool getELN_loaded() const override;
    int32_t getELN_loadMode() const override;
    std::vector<int32_t> getElNemoModes() const override;
    std::vector<Atom*> getAtomContactList() const override;
    bool newForceAdded() const override;
    void setNewForceAdded(bool b) override;
    bool writeCAlphaFile(const std::string& file) const override;
    double getRMSingle(int32_t mode) const override;
    double getRM(int32_t n) const override;
    double getRTotal() const override;
    std::optional<ModeChangeToken> setChangingSimMode() override;
    void copyModesToELN(const ModeChangeToken& token, const int32_t* modes, int32_t n) override;
    void useAllModes(const ModeChangeToken& token, bool on) override;
    void selectSliderAmount(const ModeChangeToken& token, int32_t n) override;
    void setElasticNetworkModeState(const ModeChangeToken& token, int32_t state) override;

private:
    COpenGL* gl() const;
    Workbench& m_workbench;
    ViewSurface* m_surface;
};

} // namespace vornax
