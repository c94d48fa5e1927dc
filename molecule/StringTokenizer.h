// Splits text at a delimiter string, treating runs of delimiters as one.
#pragma once

#include <string>

namespace vornax {

class StringTokenizer {
public:
    /// Empty when `text` or `delimiter` is empty. Runs of consecutive delimiters collapse to
    /// one; one delimiter at the start and one at the end are removed.
    StringTokenizer(const std::string& text, const std::string& delimiter);

    bool hasMoreTokens() const { return !m_text.empty(); }
    /// Delimiters left plus one; 0 when empty.
    int countTokens() const;
    /// Text up to the next delimiter (all that is left when none); "" when empty.
    std::string nextToken();
    /// nextToken() through atoi / atof, so "" gives 0.
    int nextIntToken();
    double nextFloatToken();

private:
    std::string m_text;
    std::string m_delimiter;
};

} // namespace vornax
