// The hosted control API of hosted.h: starting and stopping a machine.
#include "platform/hosted/hosted_state.h"
#include "platform/hosted/text_helpers.h"

namespace hosted {

HostedState &State() {
  static HostedState state;
  return state;
}

bool Start(const StartOptions &options, std::string *error) {
  HostedState &s = State();
  if (s.started) {
    *error = "the hosted platform is already started";
    return false;
  }
  WindowsFiles &files = s.files;
  if (!files.Open(options.machine, error)) return false;
  auto registry = std::make_unique<Registry>();
  if (!registry->Open(files.DirFd(), error)) {
    // The reason names a file of the folder; the person reading it may have
    // several machine folders.
    *error = "machine folder " + Quoted(options.machine) + ": " + *error;
    files.Close();
    return false;
  }
  // Under the lock, what a killed run left is known to be abandoned; and
  // nothing is removed before the start can no longer be refused.
  files.RemoveLeftovers();
  s.registry = std::move(registry);
  s.started = true;
  return true;
}

bool Stop(std::string *error) {
  HostedState &s = State();
  if (!s.started) return true;
  s.started = false;
  std::string reason;
  bool ok = s.registry->Close(&reason);
  if (!ok && error != nullptr) *error = reason;
  s.files.Close();
  return ok;
}

std::string UnsavedNotice() { return State().registry->UnsavedNotice(); }

}  // namespace hosted
