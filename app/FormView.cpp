#include "FormView.h"
#include "ViewSurface.h"

#include "common/Console.h"
#include "enm/ElasticNetworkModel.h"
#include "haptics/Workbench.h"
#include "render/COpenGL.h"

#include <algorithm>
#include <array>

namespace vornax {

COpenGL* SurfaceFormView::gl() const { return m_surface ? m_surface->view() : nullptr; }

void SurfaceFormView::requestFrame()
{
    if (m_surface) m_surface->requestFrame();
}

// ---- The device ---------------------------------------------------------------------------------

Atom* SurfaceFormView::getCurrentAtom()
{
    Haptics* d = m_workbench.device();
    return d ? d->getCurrentAtom() : nullptr;
}

float SurfaceFormView::getForceMax() const { return m_workbench.forceMax(); }

int32_t SurfaceFormView::gethapticButton()
{
    Haptics* d = m_workbench.device();
    return d ? d->getButtons() : 0;
}

bool SurfaceFormView::pollHapticFirstEntry()
{
    Haptics* d = m_workbench.device();
    return d ? d->getFirstEntry() : false;
}

void SurfaceFormView::setReconfigureMolecule(int32_t r)
{
    if (Haptics* d = m_workbench.device()) d->setReconfiguringMolecule(r);
}

void SurfaceFormView::setHatpicState(bool on)
{
    if (Haptics* d = m_workbench.device()) d->setHatpicState(on);
}

void SurfaceFormView::setHapticsTranslate(bool on)
{
    if (Haptics* d = m_workbench.device()) d->setTranslates(on);
}

bool SurfaceFormView::checkToggle()
{
    Haptics* d = m_workbench.device();
    return d ? d->toggleTranslations() : false;
}

void SurfaceFormView::setHapticTranslateAmount(float amount)
{
    if (Haptics* d = m_workbench.device()) d->setTransformAmount(amount);
}

void SurfaceFormView::setHapticSticking(bool on)
{
    if (Haptics* d = m_workbench.device()) d->setStickingToSurface(on);
}

bool SurfaceFormView::undoLastSelection()
{
    Haptics* d = m_workbench.device();
    return d ? d->popLastSelectionFromStack() : false;
}

void SurfaceFormView::resetSim()
{
    if (Haptics* d = m_workbench.device()) d->resetAllForces();
}

void SurfaceFormView::addEqForce(float f)
{
    if (Haptics* d = m_workbench.device()) d->addNewForceForEq(f);
}

void SurfaceFormView::setSaveForces(bool on) { m_workbench.setSaveForces(on); }

// ---- The view -----------------------------------------------------------------------------------

void SurfaceFormView::toggleWorkspace(bool show)
{
    if (COpenGL* v = gl()) v->toggleWorkspace(show);
}

void SurfaceFormView::toggleRotateMode()
{
    if (COpenGL* v = gl()) v->toggleRotateMode();
}

void SurfaceFormView::showSelectedAtoms(bool on)
{
    if (COpenGL* v = gl()) v->showSelectedAtoms(on);
}

void SurfaceFormView::renderSprings(bool on)
{
    if (COpenGL* v = gl()) v->renderSprings(on);
}

void SurfaceFormView::resetALL()
{
    if (COpenGL* v = gl()) v->resetALL();
}

// ---- The network --------------------------------------------------------------------------------

void SurfaceFormView::setRenderForces(bool on)
{
    if (ElasticNetworkModel* eln = m_workbench.network()) eln->setRenderForces(on);
}

void SurfaceFormView::setRenderingSpheresElN(bool on)
{
    if (ElasticNetworkModel* eln = m_workbench.network()) eln->setRenderingSpheres(on);
}

bool SurfaceFormView::hasNetwork() const { return m_workbench.network() != nullptr; }

bool SurfaceFormView::getELN_loaded() const { return m_workbench.loaded(); }

int32_t SurfaceFormView::getELN_loadMode() const
{
    const ElasticNetworkModel* eln = m_workbench.network();
    return eln ? eln->getSimulationMode() : -1;
}

std::vector<int32_t> SurfaceFormView::getElNemoModes() const
{
    const ElasticNetworkModel* eln = m_workbench.network();
    return eln ? eln->getElNemoModes() : std::vector<int32_t>{};
}

std::vector<Atom*> SurfaceFormView::getAtomContactList() const
{
    const ElasticNetworkModel* eln = m_workbench.network();
    return eln ? eln->getContactList() : std::vector<Atom*>{};
}

bool SurfaceFormView::newForceAdded() const
{
    const ElasticNetworkModel* eln = m_workbench.network();
    return eln && eln->getNeedsListUpdate();
}

void SurfaceFormView::setNewForceAdded(bool b)
{
    if (ElasticNetworkModel* eln = m_workbench.network()) eln->setNeedsListUpdate(b);
}

bool SurfaceFormView::writeCAlphaFile(const std::string& file) const
{
    const ElasticNetworkModel* eln = m_workbench.network();
    return eln && eln->write_C_alphaFile(file);
}

double SurfaceFormView::getRMSingle(int32_t mode) const
{
    const ElasticNetworkModel* eln = m_workbench.network();
    return eln ? eln->getRMSingle(mode) : 0.0;
}

double SurfaceFormView::getRM(int32_t n) const
{
    const ElasticNetworkModel* eln = m_workbench.network();
    return eln ? eln->getRMForTest(n) : 0.0;
}

double SurfaceFormView::getRTotal() const
{
    const ElasticNetworkModel* eln = m_workbench.network();
    return eln ? eln->getRTotal() : 0.0;
}

std::optional<ModeChangeToken> SurfaceFormView::setChangingSimMode()
{
    ElasticNetworkModel* eln = m_workbench.network();
    return eln ? eln->tryBeginModeChange() : std::nullopt;
}

void SurfaceFormView::copyModesToELN(const ModeChangeToken& token, const int32_t* modes, int32_t n)
{
    ElasticNetworkModel* eln = m_workbench.network();
    if (!eln) return;
    console::Line() << "adding to ELN from pointer: " << n;
    std::array<int32_t, 20> copy{};
    const int32_t count = std::clamp<int32_t>(n, 0, 20);
    for (int32_t i = 0; i < count && modes; ++i) copy[static_cast<std::size_t>(i)] = modes[i];
    eln->receiveNewModes(token, copy.data(), count);
}

void SurfaceFormView::useAllModes(const ModeChangeToken& token, bool on)
{
    if (ElasticNetworkModel* eln = m_workbench.network()) eln->useAllModes(token, on);
    if (Haptics* d = m_workbench.device()) d->setUsingAllModes(on);
}

void SurfaceFormView::selectSliderAmount(const ModeChangeToken& token, int32_t n)
{
    if (ElasticNetworkModel* eln = m_workbench.network()) eln->selectAmountOfModes(token, n);
}

void SurfaceFormView::setElasticNetworkModeState(const ModeChangeToken& token, int32_t state)
{
    if (ElasticNetworkModel* eln = m_workbench.network()) eln->selectModeState(token, state);
}

} // namespace vornax
