#include "platform/hosted/machine_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hosted {

namespace {

struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return lock;
}

}  // namespace

bool MachineLock::Acquire(int dirFd, std::string *error) {
  Release();
  // A holder that ends removes the name after we opened the file it named:
  // a lock counts only on the file the name still gives, else try again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    Fd fd = OpenRegularAt(dirFd, kLockName, O_RDWR | O_CREAT, 0644, Links::One);
    if (!fd.Valid()) {
      const int err = errno;
      if (err == ENOENT || err == EEXIST) continue;  // removed or made meanwhile
      *error = OpenFailure(kLockName, err);
      return false;
    }
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd.Get(), F_SETLK, &lock) != 0) {
      const int err = errno;
      struct flock holder = WholeFile(F_WRLCK);
      const bool held =
          (err == EACCES || err == EAGAIN) && ::fcntl(fd.Get(), F_GETLK, &holder) == 0;
      fd.Reset();
      if (held && holder.l_type == F_UNLCK) continue;  // let go meanwhile
      *error = held ? "the machine is in use by another run, pid " + std::to_string(holder.l_pid)
                    : std::string("cannot lock ") + kLockName + ": " + std::strerror(err);
      return false;
    }
    if (NamesFile(dirFd, kLockName, fd.Get())) {
      dirFd_ = dirFd;
      fd_ = std::move(fd);
      armed_.Arm(dirFd_, kLockName);
      return true;
    }
  }
  *error = std::string("cannot lock ") + kLockName + ": it keeps changing";
  return false;
}

void MachineLock::Release() {
  if (!fd_.Valid()) return;
  // Disarmed first: once the name is gone, another run may make its own.
  armed_.Cancel();
  // Removed while still held, so that no one locks the file once it is gone.
  ::unlinkat(dirFd_, kLockName, 0);
  fd_.Reset();
  dirFd_ = -1;
}

}  // namespace hosted
