// The set-up dialog of a load: the time estimate before the normal mode analysis, the device
// instructions after it (the texts are LoadBoxText's).
#pragma once

#include "LoadDialogLogic.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

namespace vornax {

class VornaxLoadBox final : public QDialog {
public:
    explicit VornaxLoadBox(QWidget* parent = nullptr);

    void setOkButtonToDiagNow(bool largeMolecule, int32_t amountOfCAlpha);
    /// setOkButtonToDiagNow with a given calibration of the time estimate.
    void setTimeEstimate(int32_t amountOfCAlpha, int64_t iterations);
    void changeLabel(int32_t device);

    const LoadBoxText& text() const { return state; }
    QLabel* instructionLabel() const { return instruction; }
    QLabel* secondInstructionLabel() const { return secondInstruction; }
    QPushButton* closeButton() const { return button; }
    /// The picture label of `picture` (nullptr for None).
    QLabel* pictureLabel(DevicePicture picture) const;

private:
    void refresh();

    LoadBoxText state;
    QGroupBox* group = nullptr;
    QLabel* instruction = nullptr;
    QLabel* secondInstruction = nullptr;
    QLabel* omni = nullptr;
    QLabel* desktop = nullptr;
    QLabel* premium = nullptr;
    QPushButton* button = nullptr;
};

} // namespace vornax
