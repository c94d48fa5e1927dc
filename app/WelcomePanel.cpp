#include "WelcomePanel.h"

#include "StartupConfig.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vornax {

void buildWelcomePanel(QWidget* parent, FormControls& c)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName("tutorialWindow");
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    panel->setLineWidth(2);
    panel->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(24, 18, 24, 18);
    column->setSpacing(12);

    auto* title = new QLabel(WelcomePanel::kTitle);
    title->setObjectName("welcomeTitle");
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    title->setFont(big);
    column->addWidget(title);
    auto* text = new QLabel("Vornax builds an elastic network of a protein or nucleic acid from its PDB file, "
                            "computes its normal modes, and lets you pull on its atoms with a haptic arm or "
                            "the mouse while the whole molecule deforms.\n\n"
                            "New here? The tutorial walks you through loading the example structure 1CRN.");
    text->setObjectName("welcomeText");
    text->setWordWrap(true);
    column->addWidget(text);

    c.tutorialButton = new QPushButton(WelcomePanel::kTutorialButton);
    c.tutorialButton->setObjectName("tutorialButton");
    c.continueButton = new QPushButton(WelcomePanel::kContinueButton);
    c.continueButton->setObjectName("continueButton");
    c.tutorialButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(c.tutorialButton);
    buttons->addWidget(c.continueButton);
    column->addLayout(buttons);
    c.doNotShowBox = new QCheckBox(WelcomePanel::kDoNotShow);
    c.doNotShowBox->setObjectName("doNotShowBox");
    column->addWidget(c.doNotShowBox);

    panel->setVisible(false);
    panel->setEnabled(false);
    c.tutorialWindow = panel;
}

WelcomePanel::WelcomePanel(const FormControls& controls, StartupConfig* config, QObject* parent)
    : QObject(parent), m_c(controls), m_config(config)
{
    connect(m_c.continueButton, &QPushButton::clicked, this, [this] {
        leave();
        emit continueChosen();
    });
    connect(m_c.tutorialButton, &QPushButton::clicked, this, [this] {
        leave();
        emit tutorialChosen();
    });
    // Kept in the middle of the window as it changes size.
    if (QWidget* holder = m_c.tutorialWindow->parentWidget()) holder->installEventFilter(this);
}

void WelcomePanel::show()
{
    QWidget* panel = m_c.tutorialWindow;
    panel->setEnabled(true);
    panel->setVisible(true);
    centre();
    panel->raise();
}

bool WelcomePanel::isShown() const { return !m_c.tutorialWindow->isHidden(); }

void WelcomePanel::leave()
{
    m_c.tutorialWindow->setVisible(false);
    m_c.tutorialWindow->setEnabled(false);
    if (m_config) m_config->write(!m_c.doNotShowBox->isChecked());
}

void WelcomePanel::centre()
{
    QWidget* panel = m_c.tutorialWindow;
    const QWidget* holder = panel->parentWidget();
    if (!holder) return;
    // Tall enough for its wrapped text at its width.
    constexpr int kWidth = 520;
    panel->resize(kWidth, panel->hasHeightForWidth() ? panel->heightForWidth(kWidth) : panel->sizeHint().height());
    const QSize free = holder->size() - panel->size();
    panel->move(std::max(0, free.width() / 2), std::max(0, free.height() / 3));
}

bool WelcomePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && isShown()) centre();
    return QObject::eventFilter(watched, event);
}

} // namespace vornax
