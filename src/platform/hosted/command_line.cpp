#include "platform/hosted/command_line.h"

#include <algorithm>

#include "platform/hosted/text_helpers.h"

namespace hosted {

bool ParseCommandLine(int argc, const char *const *argv, CommandLine *line, std::string *error) {
  CommandLine parsed;
  std::string answers;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help") {
      parsed.action = CommandLine::Action::Help;
      continue;
    }
    if (arg == "--version") {
      parsed.action = CommandLine::Action::Version;
      continue;
    }
    std::string_view name = arg.substr(0, arg.find('='));
    std::string *target = name == "--machine"   ? &parsed.options.machine
                          : name == "--answers" ? &answers
                          : name == "--log"     ? &parsed.options.logPath
                                                : nullptr;
    if (target == nullptr) {
      *error = "unknown argument " + Quoted(arg);
      return false;
    }
    if (name.size() < arg.size()) {
      *target = arg.substr(name.size() + 1);
    } else if (i + 1 < argc) {
      *target = argv[++i];
    } else {
      *error = std::string(name) + " needs a value";
      return false;
    }
    if (name == "--machine" && target->empty()) {
      *error = "--machine needs a folder";
      return false;
    }
    if (name == "--answers" && !ParseAnswers(answers, &parsed.options.answers, error)) return false;
  }
  *line = std::move(parsed);
  return true;
}

bool ParseAnswers(std::string_view list, std::vector<Answer> *answers, std::string *error) {
  static const struct {
    const char *word;
    Answer answer;
  } Words[] = {{"yes", Answer::Yes},
               {"no", Answer::No},
               {"ok", Answer::Ok},
               {"enter", Answer::Enter},
               {"none", Answer::None}};
  std::vector<Answer> parsed;
  if (!list.empty()) {
    for (std::size_t start = 0;;) {
      std::size_t end = list.find(',', start);
      std::string word(list.substr(start, end == std::string_view::npos ? end : end - start));
      auto found = std::find_if(std::begin(Words), std::end(Words),
                                [&](const auto &entry) { return NamesEqual(word, entry.word); });
      if (found == std::end(Words)) {
        *error = "bad answer " + Quoted(word) + " (expected yes, no, ok, enter or none)";
        return false;
      }
      parsed.push_back(found->answer);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }
  *answers = std::move(parsed);
  return true;
}

std::string Usage() {
  return "usage: tq72uninst [--machine DIR] [--answers LIST] [--log FILE] [--help] [--version]\n"
         "\n"
         "Removes the TQ72 modem's software from a Windows 95/98 machine kept in a folder:\n"
         "DIR/registry.reg (REGEDIT4), DIR/WINDOWS (C:\\WINDOWS), DIR/WINDOWS/SYSTEM.\n"
         "\n"
         "  --machine DIR   the machine folder (default: the current directory)\n"
         "  --answers LIST  comma-separated answers to the message boxes, in order:\n"
         "                  yes, no, ok, enter (the box's default button: No on the\n"
         "                  confirmation, OK elsewhere), none (the box cannot be shown).\n"
         "                  An answer that is no button of its box (ok on a Yes/No box,\n"
         "                  yes or no on an OK box) presses the default button.\n"
         "                  When the list runs out, boxes are asked on the terminal if\n"
         "                  standard input is one, and otherwise cannot be shown.\n"
         "  --log FILE      one JSON object per line for every platform call (- for\n"
         "                  standard error)\n"
         "  --help          this text\n"
         "  --version       the program's version\n"
         "\n"
         "The log may not be inside the machine folder. One run at a time works on a\n"
         "machine folder.\n"
         "\n"
         "Exit status: 0 declined (or no completion box), 1 done, 2 the machine could\n"
         "not be started (bad option, no machine folder, malformed registry.reg, a log\n"
         "inside the machine, the machine in use by another run) or its registry could\n"
         "not be saved at the end (the changes then stay in registry.reg.journal and the\n"
         "next run applies them). A signal (Ctrl-C) ends the run with 128 + its number:\n"
         "at the confirmation the folder is left as it was; at a later box the changes\n"
         "made so far are kept, and the next run finishes them.\n";
}

}  // namespace hosted
