#include "common/TextParse.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace vornax::text {

namespace {
constexpr bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
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

NumberError readNumber(std::string_view s, double& out)
{
    const std::string_view t = trim(s);
    if (t.empty()) return NumberError::Empty;
    const char* begin = t.data();
    if (*begin == '+') ++begin;
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(begin, t.data() + t.size(), v);
    if (ec == std::errc::result_out_of_range) return NumberError::Overflow;
    if (ec != std::errc() || ptr != t.data() + t.size() || !std::isfinite(v)) return NumberError::Format;
    out = v;
    return NumberError::None;
}

NumberError readNumber(std::string_view s, float& out)
{
    double v = 0.0;
    const NumberError error = readNumber(s, v);
    if (error != NumberError::None) return error;
    if (std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max())) return NumberError::Overflow;
    out = static_cast<float>(v);
    return NumberError::None;
}

const char* numberErrorMessage(NumberError error)
{
    switch (error) {
    case NumberError::None: return "";
    case NumberError::Overflow: return "The conversion from String*-to-float overflowed.";
    case NumberError::Format: return "The String* is not formatted as a float.";
    case NumberError::Empty: return "The String* is 0.";
    }
    return "";
}

namespace {
/// Length of the valid UTF-8 sequence starting at s[i], or 0 when there is none.
std::size_t utf8Length(std::string_view s, std::size_t i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    uint32_t min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    uint32_t cp = b & (0xFF >> (n + 1));
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    // C1 control characters are control characters too.
    if (cp >= 0x80 && cp <= 0x9F) return 0;
    return n;
}
} // namespace

std::string shortNumber(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

std::string printable(std::string_view s, std::string_view keep)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b >= 0x20 && b < 0x7F) {
            out += s[i++];
            continue;
        }
        if (b < 0x80 && keep.find(s[i]) != std::string_view::npos) {
            out += s[i++];
            continue;
        }
        if (const std::size_t n = b >= 0x80 ? utf8Length(s, i) : 0) {
            out.append(s.substr(i, n));
            i += n;
            continue;
        }
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
        ++i;
    }
    return out;
}

bool isAlphanumeric(std::string_view s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}
bool parseFloat(std::string_view s, float& out) { return parseNumber(s, out); }

bool parseDoubleOrNonFinite(std::string_view s, double& out)
{
    s = trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ptr != s.data() + s.size()) return false;
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: only the large ones are absurd.
        const std::size_t e = s.find_first_of("eE");
        const bool tiny = e != std::string_view::npos && s.size() > e + 1 && s[e + 1] == '-';
        v = tiny ? 0.0 : (s.front() == '-' ? -INFINITY : INFINITY);
    } else if (ec != std::errc()) {
        return false;
    }
    out = v;
    return true;
}

void dropLongBlankRuns(std::string& text, std::size_t most)
{
    constexpr const char* kBlank = " \t\r\n";
    // `content`: the first character at or after `from` that is not blank (found once per run).
    std::size_t to = 0, run = 0, content = std::min(text.find_first_not_of(kBlank), text.size());
    for (std::size_t from = 0; from < text.size();) {
        if (content < from) content = std::min(text.find_first_not_of(kBlank, from), text.size());
        if (run >= most) {
            // Every line up to the one holding `content` is blank and dropped, in one step.
            const std::size_t next = content == text.size() ? content : text.rfind('\n', content - 1) + 1;
            if (next > from) {
                from = next;
                continue;
            }
        }
        std::size_t end = text.find('\n', from);
        end = end == std::string::npos ? text.size() : end + 1;
        run = content >= end ? run + 1 : 0;
        if (run <= most) {
            if (to != from) std::memmove(text.data() + to, text.data() + from, end - from);
            to += end - from;
        }
        from = end;
    }
    text.resize(to);
}

} // namespace vornax::text
