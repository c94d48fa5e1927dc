// "File Data Warning": the PDB code of a file that names none, or any other one-line answer
// the logic asks for (the texts come from the TextPrompt).
#pragma once

#include "common/UserPrompts.h"

#include <QDialog>

#include <optional>
#include <string>

class QLineEdit;
class QPushButton;

namespace vornax {

class PdbCodeDialog final : public QDialog {
public:
    /// The PDB reader's question.
    static TextPrompt pdbCodePrompt();

    explicit PdbCodeDialog(TextPrompt prompt = pdbCodePrompt(), QWidget* parent = nullptr);

    /// Shows the dialog modally; the text entered, or nothing when it was closed without one.
    std::optional<std::string> ask();
    /// The button with the text box as it is: closes the dialog when the text is acceptable.
    void enter();

    const std::optional<std::string>& getText() const { return text; }
    QLineEdit* textBox() const { return box; }
    QPushButton* enterButton() const { return button; }

private:
    TextPrompt prompt;
    std::optional<std::string> text;
    QLineEdit* box = nullptr;
    QPushButton* button = nullptr;
};

} // namespace vornax
