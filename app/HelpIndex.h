// The help pages and their index, apart from the help window: the pages in the order of the
// contents page, the index of their keywords, and a keyword search over their text.
//
// The pages are HTML files in one folder (Help beside the program). contents.html is the first
// page; its links, in order, name the others. Each page gives its title in <title> and its
// index entries in <meta name="keywords" content="pulling, mouse, ...">.
//
//     HelpIndex help;
//     if (!help.load(folder)) ... help.error();
//     help.indexEntries();               // keyword -> pages, alphabetical
//     help.search("save session");      // pages holding every word, best first
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace vornax {

struct HelpPage {
    QString file;        ///< name in the folder, e.g. "pulling.html"
    QString title;
    QStringList keywords;
    QString text;        ///< the page as plain text
};

struct HelpIndexEntry {
    QString keyword;
    std::vector<int> pages; ///< indices into pages(), in contents order
};

class HelpIndex {
public:
    static constexpr const char* kContentsPage = "contents.html";

    /// Reads the contents page and every page it links to. False (with error()) when the
    /// contents page cannot be read; pages it names that cannot be read are left out and named
    /// in error().
    bool load(const QString& folder);

    const QString& folder() const { return m_folder; }
    /// The contents page first, then the pages in the order it lists them.
    const std::vector<HelpPage>& pages() const { return m_pages; }
    /// The page named `file`, or -1.
    int pageOf(const QString& file) const;
    const QString& error() const { return m_error; }

    /// Every keyword of every page with the pages giving it, sorted without regard to case.
    const std::vector<HelpIndexEntry>& indexEntries() const { return m_entries; }
    /// The first index entry that starts with `typed` (case ignored); -1 when none does.
    int findIndexEntry(const QString& typed) const;

    /// The pages (the contents page aside) in which every word of `query` begins a word of the page's title, keywords or
    /// text (case ignored), those with the most such words first; none for an empty query.
    std::vector<int> search(const QString& query) const;

private:
    QString m_folder;
    QString m_error;
    std::vector<HelpPage> m_pages;
    std::vector<HelpIndexEntry> m_entries;
};

} // namespace vornax
