// Control of the hosted platform, for the command line and the tests.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace hosted {

// Locks the machine folder, loads its registry, removes what a killed run
// left; false with a one-line reason, nothing changed. Nothing is created in
// the folder before the first change: a signal at the confirmation leaves it.
bool Start(const std::string &machine, std::string *error);
// Folds the registry journal and lets go of the machine; false with a reason.
bool Stop(std::string *error);
// "N registry changes could not be saved (reason)", or "": the removal logic
// is silent about them by design.
std::string UnsavedNotice();

// The columns of the terminal out is: its window's width, else $COLUMNS,
// else 80.
unsigned TerminalColumns(std::FILE *out);
// MessageBoxA on a terminal of `columns` columns, no row wider: caption in
// the frame, the text with its line breaks (CR LF, LF or CR) and its words
// wrapped to at most 70 columns (a word is broken only when longer than a
// whole line), the default button marked "< No >", the others "[ Yes ]";
// control bytes as '?'. Which boxes show, and their default buttons, follow
// platform/box_rules.h.
std::string DrawBox(std::string_view caption, std::string_view text, unsigned style,
                    unsigned columns);
// Draws the box and reads lines until one is a choice (a button's initial or
// name, either case; empty for the default); 0 when input ends first.
int AskOnTerminal(std::string_view caption, std::string_view text, unsigned style, std::FILE *in,
                  std::FILE *out);

}  // namespace hosted
