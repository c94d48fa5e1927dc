// "Entering eigenvalues": the eigenvalues of ElNemo modes, pasted as text.
#pragma once

#include <QDialog>

#include <vector>

class QPlainTextEdit;
class QPushButton;

namespace vornax {

class EigenvalueDialog final : public QDialog {
public:
    explicit EigenvalueDialog(QWidget* parent = nullptr);

    /// Shows the dialog modally; the values read, none when it was closed without loading.
    std::vector<double> ask();
    /// "Load in eigenvalues": reads the text box and closes. Pieces are separated by blanks or
    /// line breaks, so values pasted one per line are read as well as values on one line; a
    /// piece that is not a number is reported on the console and skipped.
    void load();

    const std::vector<double>& getValues() const { return values; }
    QPlainTextEdit* textBox() const { return box; }
    QPushButton* loadButton() const { return button; }

private:
    std::vector<double> values;
    QPlainTextEdit* box = nullptr;
    QPushButton* button = nullptr;
};

} // namespace vornax
