#include "platform/hosted/machine_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/hosted/open_regular.h"

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
    const int fd = OpenRegularAt(dirFd, kLockName, O_RDWR | O_CREAT, 0644, Links::One);
    if (fd < 0) {
      const int err = errno;
      if (err == ENOENT || err == EEXIST) continue;  // removed or made meanwhile
      *error = std::string("cannot use the lock file ") + kLockName + ": " +
               (err == ELOOP                     ? "it is a symbolic link"
                : err == EMLINK                  ? "it has other names (hard links)"
                : err == EINVAL || err == EISDIR ? "it is not a regular file"
                                                 : std::strerror(err));
      return false;
    }
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
      const int err = errno;
      struct flock holder = WholeFile(F_WRLCK);
      const bool held = (err == EACCES || err == EAGAIN) && ::fcntl(fd, F_GETLK, &holder) == 0;
      ::close(fd);
      if (held && holder.l_type == F_UNLCK) continue;  // let go meanwhile
      *error = held ? "the machine is in use by another run, pid " + std::to_string(holder.l_pid)
                    : std::string("cannot lock ") + kLockName + ": " + std::strerror(err);
      return false;
    }
    struct stat opened, named;
    if (::fstat(fd, &opened) == 0 &&
        ::fstatat(dirFd, kLockName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
      dirFd_ = dirFd;
      fd_ = fd;
      return true;
    }
    ::close(fd);
  }
  *error = std::string("cannot lock ") + kLockName + ": it keeps changing";
  return false;
}

void MachineLock::Release() {
  if (fd_ < 0) return;
  // Removed while still held, so that no one locks the file once it is gone.
  ::unlinkat(dirFd_, kLockName, 0);
  ::close(fd_);
  fd_ = -1;
  dirFd_ = -1;
}

}  // namespace hosted
