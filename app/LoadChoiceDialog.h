// "Normal Mode Analysis Options": where the normal modes of a load come from.
#pragma once

#include "LoadDialogLogic.h"

#include <QDialog>

class QPushButton;

namespace vornax {

class LoadChoiceDialog final : public QDialog {
public:
    explicit LoadChoiceDialog(FileChooser chooseFiles, std::function<void()> showTutorial = {},
                              QWidget* parent = nullptr);

    /// Shows the dialog modally and returns the choice (load::…).
    int32_t choose();

    LoadChoice& logic() { return choice; }
    /// The button that stores `value`, or nullptr.
    QPushButton* button(int32_t value) const;

    /// The close box (and Escape): the previous choice stays.
    void reject() override;

private:
    LoadChoice choice;
    std::vector<std::pair<int32_t, QPushButton*>> buttons;
};

} // namespace vornax
