// The logic of the "Advanced Options" dialog's stereo group, without a window toolkit: the
// dialog shows what this object says and passes its controls' changes here.
#pragma once

#include <string>

namespace vornax {

/// What the stereo options act on (the view).
class StereoView {
public:
    virtual ~StereoView() = default;
    virtual void set3DMode(bool on) = 0;
    virtual void setEyeSeperation(float separation) = 0;
    virtual void toggleEyeSeperation() = 0;
    virtual bool getStereoSupport() const = 0;
};

class StereoOptions {
public:
    static constexpr const char* kPageTitle = "Advanced Graphics Options";
    static constexpr const char* kGroupTitle = "Stereo Viewing Options";
    static constexpr const char* kQuadBufferText = "Quad Buffer Stereo";
    static constexpr const char* kSwapEyesText = "Swap Eyes";
    static constexpr const char* kCloseText = "Close";
    static constexpr int kSliderMinimum = 0;
    static constexpr int kSliderMaximum = 200;
    static constexpr int kSliderStart = 50;

    explicit StereoOptions(StereoView& view) : m_view(view) {}

    /// The group is usable only where the driver offers quad-buffer stereo.
    bool enabled() const { return m_view.getStereoSupport(); }
    int sliderValue() const { return m_slider; }
    /// Separation shown on the label (value / 10).
    float separation() const { return static_cast<float>(m_slider) / 10.0f; }
    /// "Eye Seperation: " + the separation ("Eye Seperation: 5" at the start).
    std::string separationLabel() const;
    bool quadBufferChecked() const { return m_quadBuffer; }
    bool swapEyesChecked() const { return m_swapEyes; }

    /// "Quad Buffer Stereo" ticked or unticked.
    void quadBufferToggled(bool checked);
    /// "Swap Eyes" ticked or unticked: the eyes change sides.
    void swapEyesToggled(bool checked);
    /// The slider moved to `value` (kept within 0..200). The new separation keeps the sides
    /// "Swap Eyes" chose.
    void sliderMoved(int value);

private:
    StereoView& m_view;
    int m_slider = kSliderStart;
    bool m_quadBuffer = false;
    bool m_swapEyes = false;
};

} // namespace vornax
