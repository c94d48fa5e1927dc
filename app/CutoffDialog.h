// "Elastic Bond Cutoff": the spring cutoff Rc of a load, 7 Å or more.
#pragma once

#include "LoadDialogLogic.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vornax {

class CutoffDialog final : public QDialog {
public:
    explicit CutoffDialog(QWidget* parent = nullptr);

    /// Shows the dialog modally; the accepted cutoff in Å, 0 when closed without one.
    float ask();
    /// "Enter" with the text box as it is.
    void enter();

    const CutoffEntry& entry() const { return state; }
    QLineEdit* textBox() const { return box; }
    QLabel* hint() const { return hintLabel; }
    QPushButton* enterButton() const { return button; }

private:
    CutoffEntry state;
    QLineEdit* box = nullptr;
    QLabel* hintLabel = nullptr;
    QPushButton* button = nullptr;
};

} // namespace vornax
