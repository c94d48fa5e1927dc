#include "EigenvalueDialog.h"

#include "LoadDialogLogic.h"

#include "enm/io/StandardFileLoader.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vornax {

EigenvalueDialog::EigenvalueDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(EigenvalueEntryText::kTitle);
    setModal(true);
    auto* group = new QGroupBox(EigenvalueEntryText::kGroup, this);
    box = new QPlainTextEdit(group);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(box);
    for (const char* warning : {EigenvalueEntryText::kScaledWarning, EigenvalueEntryText::kElnemoWarning,
                                EigenvalueEntryText::kMissingWarning})
        groupLayout->addWidget(new QLabel(warning, group));
    button = new QPushButton(EigenvalueEntryText::kButton, group);
    groupLayout->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    connect(button, &QPushButton::clicked, this, &EigenvalueDialog::load);
}

std::vector<double> EigenvalueDialog::ask()
{
    exec();
    return values;
}

void EigenvalueDialog::load()
{
    values = parseEigenvalueText(box->toPlainText().toStdString());
    accept();
}

} // namespace vornax
