// Control of the hosted platform: what the hosted command line and the tests
// set up around the platform calls of platform.h.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace hosted {

struct StartOptions {
  std::string machine = ".";  // the machine folder
};

// Starts the platform on a machine folder: locks the machine folder (one run
// at a time per folder), loads the registry, removes what a killed run left.
// On failure returns false with a one-line reason and has changed nothing.
// Nothing is created in the folder before the first change, so a signal at
// the confirmation leaves it as it was.
bool Start(const StartOptions &options, std::string *error);
// Folds the registry journal and lets go of the machine; false with a reason.
bool Stop(std::string *error);
// For the person at the terminal: "N registry changes could not be saved
// (reason)" when the run's registry changes failed that way, else "". The
// removal logic is silent about them by design; the exit status stays.
std::string UnsavedNotice();

// MessageBoxA on a terminal. The box as drawn: caption in the frame, the
// text with its line breaks (CR LF, LF or CR), buttons with the default one
// marked as "< No >" and the others as "[ Yes ]". Control bytes are shown as
// '?' so that no text can drive the terminal. Which boxes can be shown, and
// their default buttons, are the session's rules (session.h).
std::string DrawBox(std::string_view caption, std::string_view text, unsigned style);
// Draws the box on out and reads lines from in until one is a choice: a
// button's initial or name (y, n, o; either case) or an empty line for the
// default button. 0 when input ends first.
int AskOnTerminal(std::string_view caption, std::string_view text, unsigned style, std::FILE *in,
                  std::FILE *out);

}  // namespace hosted
