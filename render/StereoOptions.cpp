#include "render/StereoOptions.h"

#include <algorithm>
#include <sstream>

namespace vornax {

std::string StereoOptions::separationLabel() const
{
    std::ostringstream text;
    text << "Eye Seperation: " << separation();
    return text.str();
}

void StereoOptions::quadBufferToggled(bool checked)
{
    if (checked == m_quadBuffer) return;
    m_quadBuffer = checked;
    m_view.set3DMode(checked);
}

void StereoOptions::swapEyesToggled(bool checked)
{
    if (checked == m_swapEyes) return;
    m_swapEyes = checked;
    m_view.toggleEyeSeperation();
}

void StereoOptions::sliderMoved(int value)
{
    m_slider = std::clamp(value, kSliderMinimum, kSliderMaximum);
    // The sign of the separation says which eye is left: a ticked "Swap Eyes" stays in force.
    m_view.setEyeSeperation(m_swapEyes ? -separation() : separation());
}

} // namespace vornax
