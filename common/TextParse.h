// Small text helpers for fixed-column records: safe column slices, trimming, strict numbers.
#pragma once

#include <string>
#include <string_view>

namespace vornax::text {

/// `s` without leading and trailing white space.
std::string_view trim(std::string_view s);
inline std::string trimmed(std::string_view s) { return std::string(trim(s)); }

/// Columns `first`..`last` (numbered from 1, inclusive) of `line`, clipped to its length;
/// empty when the line ends before `first`.
std::string_view columns(std::string_view line, std::size_t first, std::size_t last);
/// Columns `first`..end of line (numbered from 1); empty when the line ends before `first`.
std::string_view columnsToEnd(std::string_view line, std::size_t first);

/// Reads the whole of `s` (surrounding white space allowed) as a finite number.
/// Returns false, leaving `out` untouched, for empty text, trailing characters, NaN or infinity.
bool parseDouble(std::string_view s, double& out);
bool parseFloat(std::string_view s, float& out);
/// As parseDouble, but also "nan", "inf" and numbers beyond double range (read as ±infinity),
/// for fields whose absurd values must be reported rather than taken for unreadable text.
bool parseDoubleOrNonFinite(std::string_view s, double& out);

/// Why a text box's number could not be read.
enum class NumberError { None, Overflow, Format, Empty };
/// Reads `s` (surrounding white space and a leading '+' allowed) as a finite double.
/// Empty: nothing but white space. Overflow: beyond the range of double. Format: anything else,
/// NaN and infinity included. `out` is only written on success.
NumberError readNumber(std::string_view s, double& out);
/// As readNumber, for a float: a value beyond the range of float is an Overflow.
NumberError readNumber(std::string_view s, float& out);
/// The console line that reports a failed conversion ("" for None).
const char* numberErrorMessage(NumberError error);

/// A number as a message shows it: at most six significant digits ("1e+200", not 201 digits).
std::string shortNumber(double value);

/// `s` safe to show on a terminal or in UTF-8 text: control bytes (other than those listed in
/// `keep`) and bytes that are not part of valid UTF-8 become \xNN; everything else is kept.
std::string printable(std::string_view s, std::string_view keep = {});

/// True when `s` is a non-empty run of ASCII letters and digits.
bool isAlphanumeric(std::string_view s);

/// True when `s` contains `fragment`.
inline bool contains(std::string_view s, std::string_view fragment)
{
    return s.find(fragment) != std::string_view::npos;
}

/// Drops the blank lines (nothing but blanks, tabs, '\r') of every run of them beyond its
/// first `most`, in place and in one pass over `text`.
void dropLongBlankRuns(std::string& text, std::size_t most);

} // namespace vornax::text
