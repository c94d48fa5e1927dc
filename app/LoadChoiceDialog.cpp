#include "LoadChoiceDialog.h"

#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace vornax {

LoadChoiceDialog::LoadChoiceDialog(FileChooser chooseFiles, std::function<void()> showTutorial, QWidget* parent)
    : QDialog(parent), choice(std::move(chooseFiles), std::move(showTutorial))
{
    setWindowTitle(LoadChoice::kTitle);
    setModal(true);
    auto* group = new QGroupBox(LoadChoice::kGroup, this);
    auto* groupLayout = new QVBoxLayout(group);
    for (const auto& [value, text] : LoadChoice::buttons()) {
        auto* b = new QPushButton(QString::fromStdString(text), group);
        b->setAutoDefault(false);
        groupLayout->addWidget(b);
        buttons.emplace_back(value, b);
        connect(b, &QPushButton::clicked, this, [this, value = value] {
            choice.press(value);
            accept();
        });
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
}

int32_t LoadChoiceDialog::choose()
{
    exec();
    return choice.getChoice();
}

QPushButton* LoadChoiceDialog::button(int32_t value) const
{
    for (const auto& [v, b] : buttons)
        if (v == value) return b;
    return nullptr;
}

void LoadChoiceDialog::reject()
{
    QDialog::reject();
    choice.close();
}

} // namespace vornax
