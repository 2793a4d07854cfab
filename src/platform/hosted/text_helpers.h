// Text helpers of the hosted machine: how it compares and splits names (for
// keys, values, files and answers alike), and how it quotes text it did not
// write (a name from the command line or a file) for the two places that
// text is shown.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hosted {

// ------------------------------------------------------------------ names
// Names compare case-insensitively in code page 1252, the ANSI code page of
// the Windows 98 machines the hosted platform stands in for.

// The upper-case form of a byte: ASCII letters and the letters of 1252.
unsigned char FoldCase(unsigned char c);

// Orders names as their FoldCase forms, byte by byte.
int CompareNames(std::string_view a, std::string_view b);
bool NamesEqual(std::string_view a, std::string_view b);

// The names of a path (names joined by single backslashes), or false for an
// empty path or an empty name (a leading, trailing or doubled backslash), so
// that no path can stand for its own parent.
bool SplitNames(std::string_view path, std::vector<std::string_view> *names);

// ---------------------------------------------------------------- escapes
// "text" for a one-line reason on standard error: quotes, backslashes and
// control bytes escaped (\n, \r, \t, \xHH), so that no text can break the
// line it is on or drive a terminal. A person reads a reason in the code
// page the text came in, so bytes >= 0x80 stay.
std::string Quoted(std::string_view text);

}  // namespace hosted
