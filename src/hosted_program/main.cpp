// The hosted tq72uninst: the machine folder and the session (answers, log)
// the command line names, around the removal logic.
#include <csignal>
#include <cstdio>
#include <string>

#include "app/uninstall.h"
#include "hosted_program/command_line.h"
#include "hosted/hosted.h"
#include "session/session.h"

namespace {

std::FILE *Log = nullptr;

void WriteLog(const char *bytes, unsigned length) {
  std::fwrite(bytes, 1, length, Log);
  std::fflush(Log);  // a run that dies leaves every line it wrote
}

}  // namespace

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
  // The log is opened first, so that a log that cannot be refuses the run
  // before the machine is touched; it is written only once the run starts.
  if (!line.logPath.empty() && !(Log = hosted::OpenLog(line.logPath, line.machine, &error))) {
    std::fprintf(stderr, "tq72uninst: %s\n", error.c_str());
    return 2;
  }
  if (!hosted::Start(line.machine, &error)) {
    std::fprintf(stderr, "tq72uninst: %s\n", error.c_str());
    if (Log != nullptr && Log != stderr) std::fclose(Log);
    return 2;
  }
  session::Begin({.answers = line.answers.data(),
                  .answerCount = static_cast<unsigned>(line.answers.size()),
                  .log = Log != nullptr ? &WriteLog : nullptr});
  const int status = RunUninstall();
  session::End();
  if (Log != nullptr && Log != stderr) std::fclose(Log);
  const bool stopped = hosted::Stop(&error);
  if (const std::string notice = hosted::UnsavedNotice(); !notice.empty())
    std::fprintf(stderr, "tq72uninst: %s\n", notice.c_str());
  if (!stopped) {
    std::fprintf(stderr, "tq72uninst: %s\n", error.c_str());
    return 2;
  }
  return status;
}
