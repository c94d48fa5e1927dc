#include "UserGuide.h"

#include "AboutBox.h"
#include "FormLogic.h"
#include "HelpWindow.h"
#include "StartupConfig.h"
#include "TutorialWindow.h"
#include "WelcomePanel.h"

#include <QAction>

namespace vornax {

UserGuide::UserGuide(QWidget& window, const FormControls& c, FormLogic& logic,
                     const std::filesystem::path& profileFolder, bool welcomeAllowed, const QString& helpFolder)
    : QObject(&window), m_window(window)
{
    m_help = new HelpWindow(helpFolder, &window);
    bool showWelcome = false;
    if (!profileFolder.empty()) {
        m_config = std::make_unique<StartupConfig>(profileFolder);
        showWelcome = m_config->readAtStartup();
    }
    m_welcome = new WelcomePanel(c, m_config.get(), this);
    if (showWelcome && welcomeAllowed) m_welcome->show();
    m_tutorial = new TutorialWindow(&window);

    connect(c.contents, &QAction::triggered, m_help, &HelpWindow::showContents);
    connect(c.index, &QAction::triggered, m_help, &HelpWindow::showIndex);
    connect(c.search, &QAction::triggered, m_help, &HelpWindow::showSearch);
    connect(&logic, &FormLogic::helpIndexRequested, m_help, &HelpWindow::showIndex);
    connect(c.about, &QAction::triggered, this, &UserGuide::showAbout);
    connect(c.viewTutorial, &QAction::triggered, m_welcome, &WelcomePanel::show);

    connect(m_welcome, &WelcomePanel::continueChosen, this, &UserGuide::openRequested);
    connect(m_welcome, &WelcomePanel::tutorialChosen, this, &UserGuide::startTutorial);
    connect(m_tutorial, &TutorialWindow::openRequested, this, &UserGuide::openRequested);
    connect(m_tutorial, &QDialog::finished, this, [this] {
        m_tutorialRunning = false;
        emit tutorialRunning(false);
    });
}

UserGuide::~UserGuide() = default;

void UserGuide::startTutorial()
{
    m_tutorialRunning = true;
    emit tutorialRunning(true);
    m_tutorial->start();
}

void UserGuide::eigenFilesAsked()
{
    if (m_tutorialRunning) m_tutorial->showStep(TutorialSteps::FromEigenFiles);
}

void UserGuide::loadEnded(bool ok)
{
    if (m_tutorialRunning && ok) m_tutorial->showStep(TutorialSteps::Pull);
}

void UserGuide::showAbout()
{
    AboutBox box(&m_window);
    box.exec();
}

} // namespace vornax
