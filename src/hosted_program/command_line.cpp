#include "hosted_program/command_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "hosted/posix_files.h"
#include "hosted/text_helpers.h"

namespace hosted {

namespace {

// "yes,no,ok,enter,none" (any case) -> answers; false with a reason.
bool ParseAnswers(std::string_view list, std::vector<session::Answer> *answers,
                  std::string *error) {
  // In the order of session::Answer.
  static const char *const kWords[] = {"yes", "no", "ok", "enter", "none"};
  answers->clear();
  for (std::size_t start = 0; !list.empty() && start <= list.size();) {
    const std::string_view word = list.substr(start, list.find(',', start) - start);
    const auto found = std::find_if(std::begin(kWords), std::end(kWords),
                                    [&](const char *known) { return NamesEqual(word, known); });
    if (found == std::end(kWords)) {
      *error = "bad answer " + Quoted(word) + " (expected yes, no, ok, enter or none)";
      return false;
    }
    answers->push_back(static_cast<session::Answer>(found - std::begin(kWords)));
    start += word.size() + 1;
  }
  return true;
}

}  // namespace

bool ParseCommandLine(int argc, const char *const *argv, CommandLine *line, std::string *error) {
  CommandLine parsed;
  std::string answers;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      parsed.action = CommandLine::Action::Help;
      continue;
    }
    if (arg == "--version") {
      parsed.action = CommandLine::Action::Version;
      continue;
    }
    std::string_view name = arg.substr(0, arg.find('='));
    std::string *target = name == "--machine"   ? &parsed.machine
                          : name == "--answers" ? &answers
                          : name == "--log"     ? &parsed.logPath
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
    if (name == "--answers" && !ParseAnswers(answers, &parsed.answers, error)) return false;
  }
  *line = std::move(parsed);
  return true;
}

std::FILE *OpenLog(const std::string &path, const std::string &machine, std::string *error) {
  if (path == "-") return stderr;
  auto refuse = [&](std::string_view why) {
    *error = "log " + Quoted(path) + ": " + std::string(why);
    return nullptr;
  };
  char inside[PATH_MAX], where[PATH_MAX];
  if (::realpath(machine.c_str(), inside) == nullptr) {
    *error = "machine folder " + Quoted(machine) + ": " + std::strerror(errno);
    return nullptr;
  }
  // Where the log lands, links resolved: the file, or the folder of a new
  // one (a pipe named through /proc, as /dev/stdout is, resolves to nothing).
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (::realpath(path.c_str(), where) == nullptr && ::realpath(folder.c_str(), where) == nullptr)
    return refuse(std::strerror(errno));
  const std::string_view landed = where;
  if (landed == inside || (landed.starts_with(inside) && landed[std::strlen(inside)] == '/'))
    return refuse("inside the machine folder: refusing to write it there");
  // A new log is created, never through a link, which may lead into the machine.
  constexpr int kAppend = O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC;
  Fd fd(::open(path.c_str(), kAppend));
  if (!fd.Valid() && errno == ENOENT)
    fd = Fd(::open(path.c_str(), kAppend | O_CREAT | O_EXCL, 0666));
  struct stat st;
  if (!fd.Valid() && errno == EEXIST) return refuse("a link that leads nowhere: refusing it");
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) return refuse(std::strerror(errno));
  if (S_ISREG(st.st_mode) && st.st_nlink != 1)
    return refuse("has other names (hard links), which may be files of the machine: refusing it");
  std::FILE *file = ::fdopen(fd.Get(), "ab");
  if (file == nullptr) return refuse(std::strerror(errno));
  fd.Release();  // the stream owns it now
  return file;
}

std::string Usage() {
  return "usage: tq72uninst [--machine DIR] [--answers LIST] [--log FILE] [--help] [--version]\n"
         "\n"
         "Removes the TQ72 modem's software from a Windows 95/98 machine kept in a folder:\n"
         "DIR/registry.reg (REGEDIT4), DIR/WINDOWS (C:\\WINDOWS), DIR/WINDOWS/SYSTEM.\n"
         "DIR may also be a Windows 95/98/Me drive: the folder where its C:\\ is mounted.\n"
         "\n"
         "  --machine DIR   the machine folder (default: the current directory)\n"
         "  --answers LIST  comma-separated answers to the boxes, in order: yes, no, ok,\n"
         "                  enter (the default button: No on the confirmation, OK\n"
         "                  elsewhere), none (the box cannot be shown). An answer that\n"
         "                  is no button of its box presses the default. When the list\n"
         "                  runs out, boxes are asked on the terminal if standard input\n"
         "                  is one, and otherwise cannot be shown.\n"
         "  --log FILE      one JSON object per platform call, appended to FILE (- for\n"
         "                  standard error); never inside the machine folder\n"
         "  -h, --help      this text\n"
         "  --version       the program's version\n"
         "\n"
         "One run at a time works on a machine folder. Exit status: 0 declined (or no\n"
         "completion box), 1 done, 2 the machine could not be started (bad option or\n"
         "folder, a malformed registry, a log that is inside it or cannot be opened,\n"
         "another run on it) or its registry could not be saved at the end (the changes\n"
         "then stay in registry.reg.journal and the next run applies them). A signal\n"
         "(Ctrl-C) ends the run with 128 + its number: at the confirmation the folder\n"
         "is left as it was; at a later box the changes made so far are kept, and the\n"
         "next run finishes them.\n";
}

}  // namespace hosted
