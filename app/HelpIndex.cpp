#include "HelpIndex.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextDocumentFragment>

#include <algorithm>
#include <map>

namespace vornax {

namespace {

/// Reads page `file` at `path` into `page`; its HTML goes to `html`.
bool readPage(const QString& path, const QString& file, HelpPage& page, QString& html)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
    html = QString::fromUtf8(in.readAll());
    page.file = file;
    static const QRegularExpression title(QStringLiteral("<title>(.*?)</title>"),
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch t = title.match(html);
    page.title = t.hasMatch() ? QTextDocumentFragment::fromHtml(t.captured(1)).toPlainText().simplified() : file;
    static const QRegularExpression keywords(
        QStringLiteral("<meta\\s+name=\"keywords\"\\s+content=\"([^\"]*)\""), QRegularExpression::CaseInsensitiveOption);
    page.keywords.clear();
    for (const QString& k : keywords.match(html).captured(1).split(',', Qt::SkipEmptyParts)) {
        const QString word = QTextDocumentFragment::fromHtml(k).toPlainText().simplified();
        if (!word.isEmpty()) page.keywords << word;
    }
    page.text = QTextDocumentFragment::fromHtml(html).toPlainText();
    return true;
}

/// Pages linked from the contents page, in order, each once.
QStringList linkedPages(const QString& contentsHtml)
{
    static const QRegularExpression link(QStringLiteral("href=\"([^\"#:]+\\.html)(#[^\"]*)?\""),
                                         QRegularExpression::CaseInsensitiveOption);
    QStringList files;
    for (auto it = link.globalMatch(contentsHtml); it.hasNext();) {
        const QString file = it.next().captured(1);
        if (!files.contains(file) && file != HelpIndex::kContentsPage) files << file;
    }
    return files;
}

/// Number of words of `text` that begin with `word` (both lower case).
int wordStarts(const QString& text, const QString& word)
{
    int count = 0;
    for (qsizetype at = text.indexOf(word); at >= 0; at = text.indexOf(word, at + word.size()))
        if (at == 0 || !text.at(at - 1).isLetterOrNumber()) ++count;
    return count;
}

} // namespace

bool HelpIndex::load(const QString& folder)
{
    m_folder = folder;
    m_error.clear();
    m_pages.clear();
    m_entries.clear();
    const QDir dir(folder);
    HelpPage contents;
    QString html;
    if (!readPage(dir.filePath(kContentsPage), kContentsPage, contents, html)) {
        m_error = "The help pages were not found: " + QDir::toNativeSeparators(dir.filePath(kContentsPage))
                  + " cannot be read.";
        return false;
    }
    const QStringList files = linkedPages(html);
    m_pages.push_back(std::move(contents));
    QStringList missing;
    for (const QString& file : files) {
        HelpPage page;
        if (readPage(dir.filePath(file), file, page, html))
            m_pages.push_back(std::move(page));
        else
            missing << file;
    }
    if (!missing.isEmpty()) m_error = "Help pages missing from " + QDir::toNativeSeparators(folder) + ": " + missing.join(", ");

    // One entry per keyword, whatever its case on each page.
    std::map<QString, HelpIndexEntry> byKey;
    for (int i = 0; i < static_cast<int>(m_pages.size()); ++i)
        for (const QString& k : m_pages[static_cast<std::size_t>(i)].keywords) {
            HelpIndexEntry& entry = byKey[k.toLower()];
            if (entry.keyword.isEmpty()) entry.keyword = k;
            if (entry.pages.empty() || entry.pages.back() != i) entry.pages.push_back(i);
        }
    for (auto& [key, entry] : byKey) m_entries.push_back(std::move(entry));
    std::stable_sort(m_entries.begin(), m_entries.end(), [](const HelpIndexEntry& a, const HelpIndexEntry& b) {
        return QString::localeAwareCompare(a.keyword.toLower(), b.keyword.toLower()) < 0;
    });
    return true;
}

int HelpIndex::pageOf(const QString& file) const
{
    for (std::size_t i = 0; i < m_pages.size(); ++i)
        if (m_pages[i].file == file) return static_cast<int>(i);
    return -1;
}

int HelpIndex::findIndexEntry(const QString& typed) const
{
    const QString t = typed.trimmed();
    if (t.isEmpty()) return m_entries.empty() ? -1 : 0;
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].keyword.startsWith(t, Qt::CaseInsensitive)) return static_cast<int>(i);
    return -1;
}

std::vector<int> HelpIndex::search(const QString& query) const
{
    static const QRegularExpression separators(QStringLiteral("[^\\w]+"));
    const QStringList words = query.toLower().split(separators, Qt::SkipEmptyParts);
    if (words.isEmpty()) return {};
    std::vector<std::pair<int, int>> found; // score, page
    // The contents page only lists the others.
    for (int i = 1; i < static_cast<int>(m_pages.size()); ++i) {
        const HelpPage& page = m_pages[static_cast<std::size_t>(i)];
        const QString title = page.title.toLower();
        const QString keys = page.keywords.join(' ').toLower();
        const QString text = page.text.toLower();
        int score = 0;
        bool all = true;
        for (const QString& w : words) {
            const int inText = wordStarts(text, w);
            const int inHeads = wordStarts(title, w) + wordStarts(keys, w);
            if (inText + inHeads == 0) {
                all = false;
                break;
            }
            score += inText + 10 * inHeads;
        }
        if (all) found.emplace_back(score, i);
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<int> pages;
    for (const auto& f : found) pages.push_back(f.second);
    return pages;
}

} // namespace vornax
