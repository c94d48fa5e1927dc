#include "AboutBox.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>
#include <QtGlobal>

#ifndef VORNAX_VERSION
#define VORNAX_VERSION "unknown"
#endif

namespace vornax {

QString AboutBox::nameAndVersion() { return QStringLiteral("Vornax ENM " VORNAX_VERSION); }

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName("aboutBox");
    setWindowTitle(kTitle);
    setModal(true);

    auto* icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
    auto* name = new QLabel(nameAndVersion());
    name->setObjectName("aboutName");
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    name->setFont(big);
    auto* text = new QLabel(
        "Elastic network models of proteins and nucleic acids, explored by hand.<br><br>"
        "Vornax builds a network of springs between the C-alpha atoms (phosphorus atoms for DNA and RNA) of a "
        "PDB structure, computes its normal modes, calibrates it from the B-factors, and lets you pull on its "
        "atoms with a force-feedback arm or the mouse while the whole molecule deforms in real time.<br><br>"
        "The example structure 1CRN comes from the Protein Data Bank (wwPDB), whose entries are in the public "
        "domain.<br><br>"
        "Built with Qt " QT_VERSION_STR ", running on Qt " + QString::fromLatin1(qVersion()) + ".");
    text->setObjectName("aboutText");
    text->setWordWrap(true);
    text->setTextFormat(Qt::RichText);
    text->setMinimumWidth(420);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->addWidget(name);
    words->addWidget(text);
    row->addLayout(words, 1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(buttons);
}

} // namespace vornax
