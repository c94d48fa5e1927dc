#include "FormView.h"
#include "ViewSurface.h"

#include "render/COpenGL.h"

namespace vornax {

COpenGL* SurfaceFormView::gl() const { return m_surface ? m_surface->view() : nullptr; }

void SurfaceFormView::requestFrame()
{
    if (m_surface) m_surface->requestFrame();
}

Atom* SurfaceFormView::getCurrentAtom()
{
    COpenGL* v = gl();
    return v ? v->getCurrentAtom() : nullptr;
}

float SurfaceFormView::getForceMax() const
{
    COpenGL* v = gl();
    return v ? v->getForceMax() : 0.0f;
}

int32_t SurfaceFormView::gethapticButton()
{
    COpenGL* v = gl();
    return v ? v->gethapticButton() : 0;
}

bool SurfaceFormView::pollHapticFirstEntry()
{
    COpenGL* v = gl();
    return v ? v->pollHapticFirstEntry() : false;
}

void SurfaceFormView::setReconfigureMolecule(int32_t r)
{
    if (COpenGL* v = gl()) v->setReconfigureMolecule(r);
}

void SurfaceFormView::setHatpicState(bool on)
{
    if (COpenGL* v = gl()) v->setHatpicState(on);
}

void SurfaceFormView::setHapticsTranslate(bool on)
{
    if (COpenGL* v = gl()) v->setHapticsTranslate(on);
}

bool SurfaceFormView::checkToggle()
{
    COpenGL* v = gl();
    return v ? v->checkToggle() : false;
}

void SurfaceFormView::setHapticTranslateAmount(float amount)
{
    if (COpenGL* v = gl()) v->setHapticTranslateAmount(amount);
}

void SurfaceFormView::setHapticSticking(bool on)
{
    if (COpenGL* v = gl()) v->setHapticSticking(on);
}

bool SurfaceFormView::undoLastSelection()
{
    COpenGL* v = gl();
    return v ? v->undoLastSelection() : false;
}

void SurfaceFormView::resetSim()
{
    if (COpenGL* v = gl()) v->resetSim();
}

void SurfaceFormView::addEqForce(float f)
{
    if (COpenGL* v = gl()) v->addEqForce(f);
}

void SurfaceFormView::setSaveForces(bool on)
{
    if (COpenGL* v = gl()) v->setSaveForces(on);
}

void SurfaceFormView::toggleWorkspace(bool show)
{
    if (COpenGL* v = gl()) v->toggleWorkspace(show);
}

void SurfaceFormView::toggleRotateMode()
{
    if (COpenGL* v = gl()) v->toggleRotateMode();
}

void SurfaceFormView::setRenderForces(bool on)
{
    if (COpenGL* v = gl()) v->setRenderForces(on);
}

void SurfaceFormView::setRenderingSpheresElN(bool on)
{
    if (COpenGL* v = gl()) v->setRenderingSpheresElN(on);
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

bool SurfaceFormView::hasNetwork() const
{
    const COpenGL* v = gl();
    return v && v->getNetwork() != nullptr;
}

bool SurfaceFormView::getELN_loaded() const
{
    COpenGL* v = gl();
    return v ? v->getELN_loaded() : false;
}

int32_t SurfaceFormView::getELN_loadMode() const
{
    COpenGL* v = gl();
    return v ? v->getELN_loadMode() : 0;
}

std::vector<int32_t> SurfaceFormView::getElNemoModes() const
{
    COpenGL* v = gl();
    return v ? v->getElNemoModes() : std::vector<int32_t>{};
}

std::vector<Atom*> SurfaceFormView::getAtomContactList() const
{
    COpenGL* v = gl();
    return v ? v->getAtomContactList() : std::vector<Atom*>{};
}

bool SurfaceFormView::newForceAdded() const
{
    COpenGL* v = gl();
    return v ? v->newForceAdded() : false;
}

void SurfaceFormView::setNewForceAdded(bool b)
{
    if (COpenGL* v = gl()) v->setNewForceAdded(b);
}

bool SurfaceFormView::writeCAlphaFile(const std::string& file) const
{
    COpenGL* v = gl();
    return v ? v->writeCAlphaFile(file) : false;
}

double SurfaceFormView::getRMSingle(int32_t mode) const
{
    COpenGL* v = gl();
    return v ? v->getRMSingle(mode) : 0.0;
}

double SurfaceFormView::getRM(int32_t n) const
{
    COpenGL* v = gl();
    return v ? v->getRM(n) : 0.0;
}

double SurfaceFormView::getRTotal() const
{
    COpenGL* v = gl();
    return v ? v->getRTotal() : 0.0;
}

std::optional<ModeChangeToken> SurfaceFormView::setChangingSimMode()
{
    COpenGL* v = gl();
    return v ? v->setChangingSimMode() : std::nullopt;
}

void SurfaceFormView::copyModesToELN(const ModeChangeToken& token, const int32_t* modes, int32_t n)
{
    if (COpenGL* v = gl()) v->copyModesToELN(token, modes, n);
}

void SurfaceFormView::useAllModes(const ModeChangeToken& token, bool on)
{
    if (COpenGL* v = gl()) v->useAllModes(token, on);
}

void SurfaceFormView::selectSliderAmount(const ModeChangeToken& token, int32_t n)
{
    if (COpenGL* v = gl()) v->selectSliderAmount(token, n);
}

void SurfaceFormView::setElasticNetworkModeState(const ModeChangeToken& token, int32_t state)
{
    if (COpenGL* v = gl()) v->setElasticNetworkModeState(token, state);
}

} // namespace vornax
