// The hosted control API of hosted.h: starting and stopping a machine.
#include "platform/hosted/hosted_state.h"

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
  HostFiles &files = s.files;
  if (!files.Open(options.machine, error)) return false;
  // From here on a signal that ends the run first removes what it made.
  RemoveArmedFilesOnSignals();
  auto registry = std::make_unique<Registry>();
  bool started = s.lock.Acquire(files.DirFd(), error) && registry->Open(files.DirFd(), error);
  if (started) {
    // Under the lock, what a killed run left is known to be abandoned; and
    // nothing is removed before the start can no longer be refused.
    files.RemoveLeftovers();
    started = registry->PrepareFold(error);
  }
  if (!started) {
    s.lock.Release();
    files.Close();
    return false;
  }
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
  s.lock.Release();
  s.files.Close();
  return ok;
}

std::string UnsavedNotice() { return State().registry->UnsavedNotice(); }

}  // namespace hosted
