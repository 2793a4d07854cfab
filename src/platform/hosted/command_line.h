// The command line of the hosted tq72uninst: it configures the hosted
// platform and the session around the run, as a prefix directory configures
// a Windows emulator; the removal logic itself reads no arguments.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hosted/hosted.h"
#include "platform/session.h"

namespace hosted {

struct CommandLine {
  enum class Action { Run, Help, Version };
  Action action = Action::Run;
  StartOptions options;
  std::vector<session::Answer> answers;  // message-box answers, in order
  std::string logPath;                   // "" no call log, "-" standard error
};

// Accepts --machine DIR, --answers LIST, --log FILE (each also as
// --name=VALUE; a repeated option takes the last value), --help, --version.
// False with a one-line reason on anything else.
bool ParseCommandLine(int argc, const char *const *argv, CommandLine *line, std::string *error);

// The call log, opened for appending (never emptied); stderr for "-". A log
// that would land in the machine folder (links resolved), or that is a
// regular file with other names (one may be a file of the machine), is
// refused: the log must never write over what the run works on. nullptr
// with a reason when refused or when it cannot be opened; nothing is
// written to it here.
std::FILE *OpenLog(const std::string &path, const std::string &machine, std::string *error);

std::string Usage();

}  // namespace hosted
