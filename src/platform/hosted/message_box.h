// How the hosted platform answers MessageBoxA: a scripted answer, or a box
// drawn on the terminal.
//
// The boxes the program shows are MB_OK and MB_YESNO; any other button set
// cannot be shown (result 0). The default button is the second one when
// MB_DEFBUTTON2 is set on a Yes/No box, else the first.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/hosted/hosted.h"

namespace hosted {

bool IsShowableStyle(unsigned style);
// IDOK, IDYES or IDNO; 0 for a box that cannot be shown.
int DefaultButton(unsigned style);

// The result of a scripted answer. An answer that names no button of the
// box (ok on a Yes/No box, yes or no on an OK box) presses the default
// button: a script written for one box must never confirm another by
// accident. None, and any box that cannot be shown, give 0.
int ResultOf(Answer answer, unsigned style);

// The box as drawn on a terminal: caption in the frame, the text with its
// line breaks (CR LF, LF or CR), buttons with the default one marked as
// "< No >" and the others as "[ Yes ]". Control bytes of the text are shown
// as '?' so that no text can drive the terminal.
std::string DrawBox(std::string_view caption, std::string_view text, unsigned style);

// Draws the box on out and reads lines from in until one is a choice: the
// first letter of a button (y, n, o; either case) or an empty line for the
// default button. 0 when input ends first.
int AskOnTerminal(std::string_view caption, std::string_view text, unsigned style,
                  std::FILE *in, std::FILE *out);

}  // namespace hosted
