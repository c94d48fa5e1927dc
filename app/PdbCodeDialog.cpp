#include "PdbCodeDialog.h"

#include "LoadDialogLogic.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vornax {

TextPrompt PdbCodeDialog::pdbCodePrompt()
{
    return TextPrompt{"File Data Warning", "Unable to determine PDB Code from file...",
                      "Please Enter PDB code for current protein", "Enter", true};
}

PdbCodeDialog::PdbCodeDialog(TextPrompt promptIn, QWidget* parent) : QDialog(parent), prompt(std::move(promptIn))
{
    setWindowTitle(QString::fromStdString(prompt.title));
    setModal(true);
    auto* group = new QGroupBox(QString::fromStdString(prompt.heading), this);
    auto* label = new QLabel(QString::fromStdString(prompt.prompt), group);
    box = new QLineEdit(group);
    button = new QPushButton(QString::fromStdString(prompt.buttonText.empty() ? "OK" : prompt.buttonText), group);
    button->setDefault(true);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(label);
    groupLayout->addWidget(box);
    groupLayout->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    connect(button, &QPushButton::clicked, this, &PdbCodeDialog::enter);
}

std::optional<std::string> PdbCodeDialog::ask()
{
    exec();
    return text;
}

void PdbCodeDialog::enter()
{
    auto entered = enteredText(box->text().toStdString(), prompt.requireNonEmpty);
    if (!entered) return;
    text = std::move(entered);
    accept();
}

} // namespace vornax
