#include "CutoffDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vornax {

CutoffDialog::CutoffDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(CutoffEntry::kTitle);
    setModal(true);
    auto* label = new QLabel(this);
    label->setTextFormat(Qt::RichText);
    label->setText(QString::fromUtf8(CutoffEntry::kLabelHtml));
    box = new QLineEdit(this);
    hintLabel = new QLabel(QString::fromUtf8(CutoffEntry::kHint), this);
    button = new QPushButton(CutoffEntry::kButton, this);
    button->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(box);
    layout->addWidget(hintLabel);
    layout->addWidget(button);
    connect(button, &QPushButton::clicked, this, &CutoffDialog::enter);
}

float CutoffDialog::ask()
{
    exec();
    return state.getValue();
}

void CutoffDialog::enter()
{
    const CutoffEntry::Outcome outcome = state.enter(box->text().toStdString());
    hintLabel->setStyleSheet(state.isHintRed() ? QStringLiteral("color: red") : QString());
    if (outcome == CutoffEntry::Outcome::Accepted) accept();
}

} // namespace vornax
