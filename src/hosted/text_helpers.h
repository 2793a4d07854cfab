// How the hosted machine compares and splits names (keys, values, files and
// answers alike), and quotes text it did not write in a reason.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hosted {

// Names compare as their upper-case forms in code page 1252, the ANSI code
// page of the machines stood in for, byte by byte.
int CompareNames(std::string_view a, std::string_view b);
bool NamesEqual(std::string_view a, std::string_view b);

// The names of a path joined by single backslashes; false for an empty path
// or a path IsWellFormedKeyPath refuses, so that no path can stand for its
// own parent.
bool SplitNames(std::string_view path, std::vector<std::string_view> *names);

// "text" for a one-line reason: quotes, backslashes and control bytes escaped
// (\n, \r, \t, \xHH) so that no text can break its line or drive a terminal;
// bytes >= 0x80 stay, for the reader's code page.
std::string Quoted(std::string_view text);

}  // namespace hosted
