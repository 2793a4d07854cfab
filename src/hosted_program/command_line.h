// The hosted tq72uninst's command line: it configures the platform and the
// session, as a prefix configures a Windows emulator.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "hosted/hosted.h"
#include "session/session.h"

namespace hosted {

struct CommandLine {
  enum class Action { Run, Help, Version };
  Action action = Action::Run;
  std::string machine = ".";  // the machine folder
  std::vector<session::Answer> answers;  // message-box answers, in order
  std::string logPath;                   // "" no call log, "-" standard error
};

// Accepts --machine DIR, --answers LIST, --log FILE (each also as
// --name=VALUE; a repeated option takes the last value), -h or --help,
// --version.
// False with a one-line reason on anything else.
bool ParseCommandLine(int argc, const char *const *argv, CommandLine *line, std::string *error);

// The call log, opened for appending; stderr for "-". Refused (nullptr with a
// reason, nothing written) when it would land in the machine folder, links
// resolved, or has other names, one of which may be there.
std::FILE *OpenLog(const std::string &path, const std::string &machine, std::string *error);

std::string Usage();

}  // namespace hosted
