// How the hosted platform shows MessageBoxA: a box drawn on the terminal.
// Which boxes can be shown, and their default buttons, are the session's
// rules (session.h), the same for the scripted answers.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace hosted {

// The box as drawn on a terminal: caption in the frame, the text with its
// line breaks (CR LF, LF or CR), buttons with the default one marked as
// "< No >" and the others as "[ Yes ]". Control bytes of the text are shown
// as '?' so that no text can drive the terminal.
std::string DrawBox(std::string_view caption, std::string_view text, unsigned style);

// Draws the box on out and reads lines from in until one is a choice: the
// first letter of a button (y, n, o; either case) or an empty line for the
// default button. 0 when input ends first.
int AskOnTerminal(std::string_view caption, std::string_view text, unsigned style, std::FILE *in,
                  std::FILE *out);

}  // namespace hosted
