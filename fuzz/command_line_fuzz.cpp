// The hosted command line on arbitrary arguments (the input split at zero
// bytes): never a crash; a refusal is one line without control bytes; what
// is accepted means the same when written out again and parsed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "hosted_program/command_line.h"

namespace {

std::string AnswerWord(session::Answer answer) {
  switch (answer) {
    case session::Answer::Yes:
      return "yes";
    case session::Answer::No:
      return "no";
    case session::Answer::Ok:
      return "ok";
    case session::Answer::Enter:
      return "enter";
    case session::Answer::None:
      return "none";
  }
  return "?";
}

bool Parse(const std::vector<std::string> &args, hosted::CommandLine *line, std::string *error) {
  std::vector<const char *> argv{"tq72uninst"};
  for (const std::string &arg : args) argv.push_back(arg.c_str());
  return hosted::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), line, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size && args.size() <= 32; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  hosted::CommandLine line;
  std::string error;
  if (!Parse(args, &line, &error)) {
    FUZZ_CHECK(!error.empty(), "refused without a reason");
    for (char c : error)
      FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20, "control byte in \"%s\"", error.c_str());
    return 0;
  }
  if (line.action != hosted::CommandLine::Action::Run) return 0;
  FUZZ_CHECK(!line.machine.empty(), "an empty machine folder was accepted");
  std::string answers;
  for (session::Answer answer : line.answers)
    answers += (answers.empty() ? "" : ",") + AnswerWord(answer);
  hosted::CommandLine again;
  FUZZ_CHECK(
      Parse({"--machine=" + line.machine, "--answers=" + answers, "--log=" + line.logPath},
            &again, &error),
      "written out again, refused: %s", error.c_str());
  FUZZ_CHECK(again.machine == line.machine && again.logPath == line.logPath &&
                 again.answers == line.answers,
             "written out again, means something else");
  return 0;
}
