#include "HelpWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace vornax {

namespace {

constexpr int kPageRole = Qt::UserRole;

template <typename W>
W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

HelpWindow::HelpWindow(const QString& folder, QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName("helpWindow");
    setWindowTitle(kTitle);
    resize(960, 680);
    const bool loaded = m_index.load(folder);

    m_browser = named(new QTextBrowser, "helpBrowser");
    m_browser->setSearchPaths({folder});
    m_browser->setOpenExternalLinks(true);
    // The contents follow the page shown, however it was reached.
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this](const QUrl& page) {
        m_contents->setCurrentRow(m_index.pageOf(QFileInfo(page.toLocalFile()).fileName()));
    });

    // Contents
    m_contents = named(new QListWidget, "helpContents");
    connect(m_contents, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { showPage(item->data(kPageRole).toString()); });
    connect(m_contents, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { showPage(item->data(kPageRole).toString()); });

    // Index
    auto* indexPage = new QWidget;
    auto* indexColumn = new QVBoxLayout(indexPage);
    indexColumn->addWidget(new QLabel("Type in the keyword to find:"));
    m_indexEdit = named(new QLineEdit, "helpIndexEdit");
    m_indexTree = named(new QTreeWidget, "helpIndexTree");
    m_indexTree->setHeaderHidden(true);
    m_indexTree->setRootIsDecorated(false);
    auto* display = named(new QPushButton("&Display"), "helpIndexDisplay");
    indexColumn->addWidget(m_indexEdit);
    indexColumn->addWidget(m_indexTree, 1);
    indexColumn->addWidget(display, 0, Qt::AlignRight);
    connect(m_indexEdit, &QLineEdit::textEdited, this, &HelpWindow::indexTyped);
    connect(m_indexEdit, &QLineEdit::returnPressed, this, [this] { indexChosen(m_indexTree->currentItem()); });
    connect(display, &QPushButton::clicked, this, [this] { indexChosen(m_indexTree->currentItem()); });
    connect(m_indexTree, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { indexChosen(item); });
    connect(m_indexTree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { indexChosen(item); });

    // Search
    auto* searchPage = new QWidget;
    auto* searchColumn = new QVBoxLayout(searchPage);
    searchColumn->addWidget(new QLabel("Type in the word(s) to search for:"));
    m_searchEdit = named(new QLineEdit, "helpSearchEdit");
    auto* list = named(new QPushButton("&List Topics"), "helpListTopics");
    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(m_searchEdit, 1);
    searchRow->addWidget(list);
    searchColumn->addLayout(searchRow);
    searchColumn->addWidget(new QLabel("Select topic to display:"));
    m_results = named(new QListWidget, "helpSearchResults");
    searchColumn->addWidget(m_results, 1);
    connect(m_searchEdit, &QLineEdit::returnPressed, this, [this] { search(m_searchEdit->text()); });
    connect(list, &QPushButton::clicked, this, [this] { search(m_searchEdit->text()); });
    auto showResult = [this](QListWidgetItem* item) {
        showPage(item->data(kPageRole).toString());
        // The first place the first word of the search appears.
        const QStringList words = m_lastQuery.split(' ', Qt::SkipEmptyParts);
        if (!words.isEmpty()) m_browser->find(words.front());
    };
    connect(m_results, &QListWidget::itemActivated, this, showResult);
    connect(m_results, &QListWidget::itemClicked, this, showResult);

    m_tabs = named(new QTabWidget, "helpTabs");
    m_tabs->addTab(m_contents, "Contents");
    m_tabs->addTab(indexPage, "Index");
    m_tabs->addTab(searchPage, "Search");

    // Back, forward and the contents page above the browser.
    auto* back = named(new QPushButton("< &Back"), "helpBack");
    auto* forward = named(new QPushButton("&Forward >"), "helpForward");
    auto* home = named(new QPushButton("&Home"), "helpHome");
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(home, &QPushButton::clicked, this, [this] { showPage(HelpIndex::kContentsPage); });
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    auto* right = new QWidget;
    auto* rightColumn = new QVBoxLayout(right);
    rightColumn->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(forward);
    buttons->addWidget(home);
    buttons->addStretch();
    rightColumn->addLayout(buttons);
    rightColumn->addWidget(m_browser, 1);

    auto* split = new QSplitter;
    split->addWidget(m_tabs);
    split->addWidget(right);
    split->setStretchFactor(1, 1);
    split->setSizes({280, 680});
    auto* whole = new QVBoxLayout(this);
    whole->addWidget(split);

    fillContents();
    fillIndex();
    if (!loaded) showMissing();
}

void HelpWindow::showMissing()
{
    m_browser->setPlainText(m_index.error() + "\n\nThe help pages live in the folder \"Help\" beside the program.");
}

void HelpWindow::fillContents()
{
    for (const HelpPage& page : m_index.pages()) {
        auto* item = new QListWidgetItem(page.title, m_contents);
        item->setData(kPageRole, page.file);
    }
}

void HelpWindow::fillIndex()
{
    const auto& pages = m_index.pages();
    for (const HelpIndexEntry& entry : m_index.indexEntries()) {
        auto* item = new QTreeWidgetItem(m_indexTree, {entry.keyword});
        // A keyword of several pages names each below it.
        if (entry.pages.size() > 1) {
            for (int p : entry.pages) {
                auto* sub = new QTreeWidgetItem(item, {pages[static_cast<std::size_t>(p)].title});
                sub->setData(0, kPageRole, pages[static_cast<std::size_t>(p)].file);
            }
            item->setExpanded(true);
        }
        if (!entry.pages.empty()) item->setData(0, kPageRole, pages[static_cast<std::size_t>(entry.pages.front())].file);
    }
}

void HelpWindow::indexTyped(const QString& text)
{
    const int entry = m_index.findIndexEntry(text);
    if (entry < 0) return;
    QTreeWidgetItem* item = m_indexTree->topLevelItem(entry);
    m_indexTree->setCurrentItem(item);
    m_indexTree->scrollToItem(item, QAbstractItemView::PositionAtTop);
}

void HelpWindow::indexChosen(QTreeWidgetItem* item)
{
    if (item) showPage(item->data(0, kPageRole).toString());
}

bool HelpWindow::showPage(const QString& file)
{
    if (file.isEmpty() || m_index.pageOf(file) < 0) return false;
    m_browser->setSource(QUrl::fromLocalFile(QDir(m_index.folder()).filePath(file)));
    return true;
}

int HelpWindow::search(const QString& query)
{
    m_tabs->setCurrentIndex(Search);
    if (m_searchEdit->text() != query) m_searchEdit->setText(query);
    m_lastQuery = query.simplified();
    m_results->clear();
    const std::vector<int> found = m_index.search(query);
    for (int p : found) {
        const HelpPage& page = m_index.pages()[static_cast<std::size_t>(p)];
        auto* item = new QListWidgetItem(page.title, m_results);
        item->setData(kPageRole, page.file);
    }
    if (found.empty()) {
        new QListWidgetItem("No topics found.", m_results);
    } else {
        m_results->setCurrentRow(0);
        showPage(m_results->item(0)->data(kPageRole).toString());
        m_browser->find(m_lastQuery.split(' ').front());
    }
    return static_cast<int>(found.size());
}

QString HelpWindow::currentPage() const
{
    const QUrl source = m_browser->source();
    return source.isEmpty() ? QString() : QFileInfo(source.toLocalFile()).fileName();
}

HelpWindow::Tab HelpWindow::currentTab() const { return static_cast<Tab>(m_tabs->currentIndex()); }

void HelpWindow::raiseWith(Tab tab)
{
    m_tabs->setCurrentIndex(tab);
    if (currentPage().isEmpty() && !m_index.pages().empty()) showPage(HelpIndex::kContentsPage);
    show();
    raise();
    activateWindow();
}

void HelpWindow::showContents() { raiseWith(Contents); }

void HelpWindow::showIndex()
{
    raiseWith(Index);
    m_indexEdit->setFocus();
    m_indexEdit->selectAll();
}

void HelpWindow::showSearch()
{
    raiseWith(Search);
    m_searchEdit->setFocus();
    m_searchEdit->selectAll();
}

} // namespace vornax
