#include "AdvancedOptionsDialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace vornax {

AdvancedOptionsDialog::AdvancedOptionsDialog(StereoView& view, QWidget* parent) : QDialog(parent), m_options(view)
{
    setWindowTitle(StereoOptions::kPageTitle);
    m_group = new QGroupBox(StereoOptions::kGroupTitle, this);
    m_quadBuffer = new QCheckBox(StereoOptions::kQuadBufferText, m_group);
    m_swapEyes = new QCheckBox(StereoOptions::kSwapEyesText, m_group);
    m_slider = new QSlider(Qt::Horizontal, m_group);
    m_slider->setRange(StereoOptions::kSliderMinimum, StereoOptions::kSliderMaximum);
    m_slider->setValue(m_options.sliderValue());
    m_label = new QLabel(QString::fromStdString(m_options.separationLabel()), m_group);

    auto* groupLayout = new QVBoxLayout(m_group);
    groupLayout->addWidget(m_quadBuffer);
    groupLayout->addWidget(m_swapEyes);
    groupLayout->addWidget(m_label);
    groupLayout->addWidget(m_slider);
    m_group->setEnabled(m_options.enabled());

    auto* close = new QPushButton(StereoOptions::kCloseText, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_group);
    layout->addWidget(close);

    connect(m_quadBuffer, &QCheckBox::toggled, this, [this](bool on) { m_options.quadBufferToggled(on); });
    connect(m_swapEyes, &QCheckBox::toggled, this, [this](bool on) { m_options.swapEyesToggled(on); });
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        m_options.sliderMoved(value);
        m_label->setText(QString::fromStdString(m_options.separationLabel()));
    });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace vornax
