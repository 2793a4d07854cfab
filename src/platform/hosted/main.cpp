// The hosted tq72uninst: sets up the machine folder the command line names,
// runs the removal logic on it, and saves its registry.
#include <csignal>
#include <cstdio>
#include <string>

#include "app/uninstall.h"
#include "platform/hosted/command_line.h"
#include "platform/hosted/hosted.h"

int main(int argc, char **argv) {
  hosted::CommandLine line;
  std::string error;
  if (!hosted::ParseCommandLine(argc, argv, &line, &error)) {
    std::fprintf(stderr, "tq72uninst: %s (try --help)\n", error.c_str());
    return 2;
  }
  if (line.action == hosted::CommandLine::Action::Help) {
    std::fputs(hosted::Usage().c_str(), stdout);
    return 0;
  }
  if (line.action == hosted::CommandLine::Action::Version) {
    std::printf("tq72uninst %s\n", TQ72_VERSION);
    return 0;
  }
  // A log piped into a reader that quits must not end the run half-way.
  std::signal(SIGPIPE, SIG_IGN);
  if (!hosted::Start(line.options, &error)) {
    std::fprintf(stderr, "tq72uninst: %s\n", error.c_str());
    return 2;
  }
  const int status = RunUninstall();
  const bool stopped = hosted::Stop(&error);
  if (const std::string notice = hosted::UnsavedNotice(); !notice.empty())
    std::fprintf(stderr, "tq72uninst: %s\n", notice.c_str());
  if (!stopped) {
    std::fprintf(stderr, "tq72uninst: %s\n", error.c_str());
    return 2;
  }
  return status;
}
