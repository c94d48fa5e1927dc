#include "common/TextParse.h"

#include <charconv>
#include <cmath>

namespace vornax::text {

namespace {
constexpr bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
} // namespace

std::string_view trim(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string_view columns(std::string_view line, std::size_t first, std::size_t last)
{
    if (first == 0 || last < first || line.size() < first) return {};
    return line.substr(first - 1, last - first + 1);
}

std::string_view columnsToEnd(std::string_view line, std::size_t first)
{
    if (first == 0 || line.size() < first) return {};
    return line.substr(first - 1);
}

namespace {
template <typename T>
bool parseNumber(std::string_view s, T& out)
{
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    T v{};
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v)) return false;
    out = v;
    return true;
}
} // namespace

bool parseDouble(std::string_view s, double& out) { return parseNumber(s, out); }
bool parseFloat(std::string_view s, float& out) { return parseNumber(s, out); }

} // namespace vornax::text
