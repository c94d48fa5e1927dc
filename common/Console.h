// Console diagnostics: whole lines, some of them coloured by a text attribute.
#pragma once

#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace vornax::console {

/// Text attributes of coloured lines (the values of the original console palette).
enum Attribute : int {
    Normal = 15,        ///< plain text; every coloured line is followed by a return to this
    Information = 11,   ///< device in use, graphics driver strings
    ShaderVersion = 10, ///< shading-language version
    Capability = 14,    ///< graphics capability results
    Warning = 252,      ///< warnings and errors
};

/// Receives every finished line with its attribute. Called from any thread, one line at a time.
using Sink = std::function<void(int attribute, const std::string& text)>;

/// Replaces the destination of console lines; an empty sink restores standard output.
void setSink(Sink sink);

/// Writes one whole line (no trailing newline in `text`).
void write(int attribute, const std::string& text);
inline void line(const std::string& text) { write(Normal, text); }

/// ANSI escape sequence that starts `attribute` on a terminal ("" for Normal).
std::string ansiStart(int attribute);
/// Formats a line for standard output: plain when `terminal` is false, otherwise
/// wrapped in the attribute's colour and a reset.
std::string formatForStdout(int attribute, const std::string& text, bool terminal);

/// Stream-style line builder; the line is written when the object goes out of scope.
///   console::Line() << "Total Amount of atoms: " << n;
class Line {
public:
    explicit Line(int attribute = Normal) : m_attribute(attribute) {}
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    ~Line() { write(m_attribute, m_stream.str()); }

    template <typename T>
    Line& operator<<(const T& value)
    {
        m_stream << value;
        return *this;
    }

private:
    int m_attribute;
    std::ostringstream m_stream;
};

/// Collects console lines while it lives (tests, scripted runs), then restores standard output.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::vector<std::pair<int, std::string>> lines() const;
    /// Plain texts of all lines, in order.
    std::vector<std::string> texts() const;
    /// True when some line contains `fragment`.
    bool contains(const std::string& fragment) const;
    /// Number of lines that contain `fragment`.
    int count(const std::string& fragment) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<int, std::string>> m_lines;
};

} // namespace vornax::console
