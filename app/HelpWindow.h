// The help window: the help pages (HelpIndex) in a browser, with three ways in on its left:
// "Contents" (the pages in order), "Index" (their keywords, found as you type) and "Search"
// (the pages holding every word typed). It is a window of its own beside the main window, so
// the help stays open while the user works.
//
//     HelpWindow help(runtimeDataPath("Help"), mainWindow);
//     help.showIndex();   // F1
#pragma once

#include "HelpIndex.h"

#include <QWidget>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

namespace vornax {

class HelpWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Vornax Help";
    enum Tab { Contents = 0, Index = 1, Search = 2 };

    explicit HelpWindow(const QString& folder, QWidget* parent = nullptr);

    /// Shown and raised with the contents (and the contents page when no page is shown yet).
    void showContents();
    /// Shown and raised with the index, its box ready for typing.
    void showIndex();
    /// Shown and raised with the search, its box ready for typing.
    void showSearch();
    /// Shows page `file` of the help folder; false when there is no such page.
    bool showPage(const QString& file);
    /// Lists the pages found for `query` on the search tab and shows the best of them.
    int search(const QString& query);

    const HelpIndex& index() const { return m_index; }
    /// The page shown ("" before any).
    QString currentPage() const;
    Tab currentTab() const;

private:
    void raiseWith(Tab tab);
    void fillContents();
    void fillIndex();
    void indexTyped(const QString& text);
    void indexChosen(QTreeWidgetItem* item);
    void showMissing();

    HelpIndex m_index;
    QTabWidget* m_tabs = nullptr;
    QListWidget* m_contents = nullptr;
    QLineEdit* m_indexEdit = nullptr;
    QTreeWidget* m_indexTree = nullptr;
    QLineEdit* m_searchEdit = nullptr;
    QListWidget* m_results = nullptr;
    QTextBrowser* m_browser = nullptr;
    QString m_lastQuery;
};

} // namespace vornax
