#include "molecule/StringTokenizer.h"

#include <cstdlib>

namespace vornax {

StringTokenizer::StringTokenizer(const std::string& text, const std::string& delimiter)
{
    if (text.empty() || delimiter.empty()) return;
    m_delimiter = delimiter;
    m_text = text;
    // Collapse every run of delimiters to a single one.
    std::string collapsed;
    collapsed.reserve(m_text.size());
    std::size_t pos = 0;
    while (pos < m_text.size()) {
        if (m_text.compare(pos, delimiter.size(), delimiter) == 0) {
            collapsed += delimiter;
            pos += delimiter.size();
            while (m_text.compare(pos, delimiter.size(), delimiter) == 0) pos += delimiter.size();
        } else {
            collapsed += m_text[pos++];
        }
    }
    m_text = std::move(collapsed);
    if (m_text.compare(0, delimiter.size(), delimiter) == 0) m_text.erase(0, delimiter.size());
    if (m_text.size() >= delimiter.size()
        && m_text.compare(m_text.size() - delimiter.size(), delimiter.size(), delimiter) == 0)
        m_text.erase(m_text.size() - delimiter.size());
}

int StringTokenizer::countTokens() const
{
    if (m_text.empty()) return 0;
    int n = 0;
    for (std::size_t pos = m_text.find(m_delimiter); pos != std::string::npos;
         pos = m_text.find(m_delimiter, pos + m_delimiter.size()))
        ++n;
    return n + 1;
}

std::string StringTokenizer::nextToken()
{
    if (m_text.empty()) return {};
    const std::size_t pos = m_text.find(m_delimiter);
    std::string token;
    if (pos == std::string::npos) {
        token = std::move(m_text);
        m_text.clear();
    } else {
        token = m_text.substr(0, pos);
        m_text.erase(0, pos + m_delimiter.size());
    }
    return token;
}

int StringTokenizer::nextIntToken() { return std::atoi(nextToken().c_str()); }

double StringTokenizer::nextFloatToken() { return std::atof(nextToken().c_str()); }

} // namespace vornax
