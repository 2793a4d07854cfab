// The hosted control API of hosted.h: starting and stopping a machine.
#include <algorithm>

#include "platform/hosted/hosted_state.h"
#include "platform/hosted/names.h"
#include "platform/hosted/quoted.h"

namespace hosted {

HostedState &State() {
  static HostedState state;
  return state;
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

bool Start(const StartOptions &options, std::string *error) {
  HostedState &s = State();
  if (s.started) {
    *error = "the hosted platform is already started";
    return false;
  }
  HostFiles &files = s.files;
  if (!files.Open(options.machine, error)) return false;
  // The log first: a log path inside the machine is refused before anything
  // is opened for writing, and opening the registry may fold a journal.
  if (!s.log.Open(options.logPath, files.DirFd(), error)) {
    files.Close();
    return false;
  }
  auto registry = std::make_unique<Registry>();
  if (!s.lock.Acquire(files.DirFd(), error) || !registry->Open(files.DirFd(), error)) {
    s.lock.Release();
    s.log.Close();
    files.Close();
    return false;
  }
  // Under the lock, what a killed run left is known to be abandoned.
  files.RemoveAbandonedCopies();
  s.registry = std::move(registry);
  s.started = true;
  s.options = options;
  s.nextAnswer = 0;
  s.calls = 0;
  s.handlePaths.clear();
  return true;
}

bool Stop(std::string *error) {
  HostedState &s = State();
  if (!s.started) return true;
  s.started = false;
  std::string reason;
  bool ok = s.registry->Close(&reason);
  if (!ok && error != nullptr) *error = reason;
  s.log.Close();
  s.lock.Release();
  s.files.Close();
  s.handlePaths.clear();
  return ok;
}

std::string UnsavedNotice() { return State().registry->UnsavedNotice(); }

}  // namespace hosted
