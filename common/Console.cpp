#include "common/Console.h"

#include "common/TextParse.h"

#include <cstdio>
#include <unistd.h>

namespace vornax::console {

namespace {

std::mutex& sinkMutex()
{
    static std::mutex m;
    return m;
}

Sink& currentSink()
{
    static Sink sink;
    return sink;
}

bool stdoutIsTerminal()
{
    static const bool terminal = ::isatty(::fileno(stdout)) == 1;
    return terminal;
}

} // namespace

void setSink(Sink sink)
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    currentSink() = std::move(sink);
}

std::string ansiStart(int attribute)
{
    switch (attribute) {
    case Information: return "\033[96m";   // light cyan
    case ShaderVersion: return "\033[92m"; // light green
    case Capability: return "\033[93m";    // yellow
    case Warning: return "\033[91;107m";   // light red on white
    case Normal: return "";
    default: return "\033[1m";
    }
}

std::string formatForStdout(int attribute, const std::string& text, bool terminal)
{
    if (!terminal || attribute == Normal) return text + '\n';
    return ansiStart(attribute) + text + "\033[0m\n";
}

void write(int attribute, const std::string& text)
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (currentSink()) {
        currentSink()(attribute, text);
        return;
    }
    // Lines often quote input files: no raw control bytes reach the terminal.
    const std::string out = formatForStdout(attribute, text::printable(text, "\n\t"), stdoutIsTerminal());
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

Capture::Capture()
{
    setSink([this](int attribute, const std::string& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.emplace_back(attribute, text);
    });
}

Capture::~Capture() { setSink({}); }

std::vector<std::pair<int, std::string>> Capture::lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

std::vector<std::string> Capture::texts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> out;
    out.reserve(m_lines.size());
    for (const auto& l : m_lines) out.push_back(l.second);
    return out;
}

bool Capture::contains(const std::string& fragment) const { return count(fragment) > 0; }

int Capture::count(const std::string& fragment) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& l : m_lines)
        if (l.second.find(fragment) != std::string::npos) ++n;
    return n;
}

void Capture::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}

} // namespace vornax::console
