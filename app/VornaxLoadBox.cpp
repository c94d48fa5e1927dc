#include "VornaxLoadBox.h"

#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace vornax {

namespace {
/// A device picture: a framed caption where no image of the device is shipped.
QLabel* pictureLabel(const char* caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setFrameShape(QFrame::Box);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumHeight(120);
    label->hide();
    return label;
}
} // namespace

VornaxLoadBox::VornaxLoadBox(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(LoadBoxText::kTitle);
    setModal(true);
    group = new QGroupBox(LoadBoxText::kGroup, this);
    instruction = new QLabel(group);
    instruction->setWordWrap(true);
    instruction->setTextFormat(Qt::PlainText);
    secondInstruction = new QLabel(group);
    secondInstruction->setTextFormat(Qt::PlainText);
    secondInstruction->setWordWrap(true);
    omni = vornax::pictureLabel("PHANTOM Omni", group);
    desktop = vornax::pictureLabel("PHANTOM Desktop", group);
    premium = vornax::pictureLabel("PHANTOM Premium", group);
    button = new QPushButton(group);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(instruction);
    groupLayout->addWidget(secondInstruction);
    groupLayout->addWidget(omni);
    groupLayout->addWidget(desktop);
    groupLayout->addWidget(premium);
    groupLayout->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    connect(button, &QPushButton::clicked, this, &QDialog::accept);
    refresh();
}

void VornaxLoadBox::setOkButtonToDiagNow(bool largeMolecule, int32_t amountOfCAlpha)
{
    state.setOkButtonToDiagNow(largeMolecule, amountOfCAlpha);
    refresh();
}

void VornaxLoadBox::setTimeEstimate(int32_t amountOfCAlpha, int64_t iterations)
{
    state.setTimeEstimate(amountOfCAlpha, iterations);
    refresh();
}

void VornaxLoadBox::changeLabel(int32_t device)
{
    state.changeLabel(device);
    refresh();
}

QLabel* VornaxLoadBox::pictureLabel(DevicePicture picture) const
{
    switch (picture) {
    case DevicePicture::Omni: return omni;
    case DevicePicture::Desktop: return desktop;
    case DevicePicture::Premium: return premium;
    case DevicePicture::None: break;
    }
    return nullptr;
}

void VornaxLoadBox::refresh()
{
    instruction->setText(QString::fromStdString(state.instruction));
    secondInstruction->setText(QString::fromStdString(state.secondInstruction));
    secondInstruction->setVisible(!state.secondInstruction.empty());
    button->setText(QString::fromStdString(state.button));
    for (DevicePicture p : {DevicePicture::Omni, DevicePicture::Desktop, DevicePicture::Premium})
        pictureLabel(p)->setVisible(p == state.picture);
    if (state.width > 0 && state.height > 0) {
        // The dialog and its group share the size.
        layout()->setContentsMargins(0, 0, 0, 0);
        group->setMinimumSize(state.width, state.height);
        resize(state.width, state.height);
    }
}

} // namespace vornax
