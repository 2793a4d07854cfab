// One run at a time per machine folder. Two runs on one folder would
// truncate each other's system.new and fold each other's registry changes
// over one another; the second run must stop before it reads anything.
//
// The lock is a POSIX record lock on MACHINE/.tq72uninst.lock, so the kernel
// names its holder and drops it when the holder dies, however it dies. The
// lock file is never written; it is removed by the run that holds it, at
// its end, or first thing when a signal ends it. Record locks belong to the
// process: nothing else of it may open and close the lock file while it is
// held.
#pragma once

#include <string>

#include "platform/hosted/host_fs.h"

namespace hosted {

inline constexpr char kLockName[] = ".tq72uninst.lock";

class MachineLock {
 public:
  MachineLock() = default;
  ~MachineLock() { Release(); }
  MachineLock(const MachineLock &) = delete;
  MachineLock &operator=(const MachineLock &) = delete;

  // Takes the lock of the machine folder dirFd (not owned). False with a
  // one-line reason when another run holds it ("the machine is in use by
  // another run, pid N"), or the lock file cannot be used (a link, not a
  // regular file, a file with other names): nothing is changed then.
  bool Acquire(int dirFd, std::string *error);
  // Removes the lock file and lets go of the lock; nothing when not held.
  void Release();

 private:
  int dirFd_ = -1;
  Fd fd_;
  RemovedOnSignal armed_;
};

}  // namespace hosted
