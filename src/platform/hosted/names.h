// How the hosted machine compares and splits names, for keys, values and
// files alike: case-insensitively in code page 1252 (the ANSI code page of
// the Windows 98 machines it stands in for), and paths as names joined by
// single backslashes.
#pragma once

#include <string_view>
#include <vector>

namespace hosted {

// The upper-case form of a byte: ASCII letters and the letters of 1252.
unsigned char FoldCase(unsigned char c);

// Orders names as their FoldCase forms, byte by byte.
int CompareNames(std::string_view a, std::string_view b);
bool NamesEqual(std::string_view a, std::string_view b);

// The names of a path, or false for an empty path or an empty name (a
// leading, trailing or doubled backslash), so that no path can stand for
// its own parent.
bool SplitNames(std::string_view path, std::vector<std::string_view> *names);

}  // namespace hosted
