// The "Advanced Options" dialog: the stereo settings of the view (StereoOptions holds the logic).
#pragma once

#include "render/StereoOptions.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QSlider;

namespace vornax {

class AdvancedOptionsDialog final : public QDialog {
public:
    AdvancedOptionsDialog(StereoView& view, QWidget* parent = nullptr);

    QGroupBox* stereoGroup() const { return m_group; }
    QSlider* separationSlider() const { return m_slider; }
    QLabel* separationLabel() const { return m_label; }
    QCheckBox* quadBufferBox() const { return m_quadBuffer; }
    QCheckBox* swapEyesBox() const { return m_swapEyes; }

private:
    StereoOptions m_options;
    QGroupBox* m_group = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_label = nullptr;
    QCheckBox* m_quadBuffer = nullptr;
    QCheckBox* m_swapEyes = nullptr;
};

} // namespace vornax
