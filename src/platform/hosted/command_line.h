// The command line of the hosted tq72uninst: it configures the hosted
// platform only, as a prefix directory configures a Windows emulator; the
// removal logic itself reads no arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/hosted/hosted.h"

namespace hosted {

struct CommandLine {
  enum class Action { Run, Help, Version };
  Action action = Action::Run;
  StartOptions options;
};

// Accepts --machine DIR, --answers LIST, --log FILE (each also as
// --name=VALUE; a repeated option takes the last value), --help, --version.
// False with a one-line reason on anything else.
bool ParseCommandLine(int argc, const char *const *argv, CommandLine *line, std::string *error);

// "yes,no,ok,enter,none" (any case) -> answers; false with a reason on a
// bad word.
bool ParseAnswers(std::string_view list, std::vector<Answer> *answers, std::string *error);

std::string Usage();

}  // namespace hosted
