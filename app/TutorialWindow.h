// The tutorial pop-up: a small window that stays beside the main window and walks a new user
// through loading the example structure 1CRN from TutorialFiles (the PDB file with its modes
// computed, or the eigen data files 1CRN.hdv and 1CRN.ppy made for it), pulling on it, keeping
// forces, choosing modes and saving. TutorialSteps holds the pages and which one is shown,
// apart from the window.
//
//     TutorialWindow tutorial(mainWindow);
//     tutorial.start();                                   // the first step
//     tutorial.showStep(TutorialSteps::FromEigenFiles);   // before the eigen files' dialog
#pragma once

#include <QDialog>
#include <QString>

#include <array>

class QLabel;
class QPushButton;
class QTextBrowser;

namespace vornax {

class TutorialSteps {
public:
    enum Step : int { Welcome, OpenFile, FromPdb, FromEigenFiles, Pull, KeepForces, Save, Count };
    struct Page {
        QString title;
        QString html;
    };

    static const std::array<Page, Count>& pages();

    int current() const { return m_current; }
    bool isFirst() const { return m_current == 0; }
    bool isLast() const { return m_current == Count - 1; }
    /// One step on or back; false (nothing changes) past either end.
    bool next();
    bool back();
    /// Straight to `step`; steps outside the tutorial are ignored.
    void goTo(int step);
    /// "Step 2 of 7: Open the structure".
    QString heading() const;
    const Page& page() const { return pages()[static_cast<std::size_t>(m_current)]; }

private:
    int m_current = Welcome;
};

class TutorialWindow final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Vornax Tutorial";

    explicit TutorialWindow(QWidget* parent = nullptr);

    /// From the first step, shown and raised.
    void start();
    /// `step` shown and raised.
    void showStep(int step);
    const TutorialSteps& steps() const { return m_steps; }

signals:
    /// "Open a File Now": the load should begin.
    void openRequested();

private:
    void refresh();

    TutorialSteps m_steps;
    QLabel* m_heading = nullptr;
    QTextBrowser* m_text = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_open = nullptr;
};

} // namespace vornax
