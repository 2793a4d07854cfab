#include "hosted/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hosted/text_helpers.h"

namespace hosted {

bool ReadFull(int fd, char *data, std::size_t size, std::size_t *got) {
  *got = 0;
  while (*got < size) {
    const ssize_t n = ::read(fd, data + *got, size - *got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *got += static_cast<std::size_t>(n);
  }
  return true;
}

int Fd::Reset() {
  const int status = fd_ >= 0 ? ::close(fd_) : 0;
  fd_ = -1;
  return status;
}

Fd OpenRegularAt(int dirFd, const char *name, int flags, mode_t mode) {
  flags = (flags & ~O_TRUNC) | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
  struct stat st;
  Fd fd;
  auto refuse = [&fd](int err) {
    fd.Reset();
    errno = err;
    return Fd();
  };
  auto kind = [](mode_t m) { return S_ISLNK(m) ? ELOOP : S_ISDIR(m) ? EISDIR : EINVAL; };
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(st.st_mode)) return refuse(kind(st.st_mode));
    if ((flags & O_EXCL) != 0) return refuse(EEXIST);
    fd = Fd(::openat(dirFd, name, flags & ~O_CREAT));
  } else {
    if (errno != ENOENT || (flags & O_CREAT) == 0) return Fd();
    // Only a file of our own making: whatever appears meanwhile is refused.
    fd = Fd(::openat(dirFd, name, flags | O_EXCL, mode));
  }
  if (!fd.Valid()) return fd;
  if (::fstat(fd.Get(), &st) != 0) return refuse(errno);
  if (!S_ISREG(st.st_mode)) return refuse(kind(st.st_mode));
  if ((flags & (O_WRONLY | O_RDWR)) != 0 && st.st_nlink != 1) return refuse(EMLINK);
  return fd;
}

std::string OpenFailure(const char *name, int err) {
  const std::string file(name);
  if (err == ENOENT) return "no " + file;
  if (err == ELOOP) return file + " is a symbolic link: refusing to follow it out of the folder";
  if (err == EMLINK)
    return file + " has other names (hard links), which may be outside the machine folder: " +
           "refusing to write it";
  if (err == EINVAL || err == EISDIR) return file + " is not a regular file: refusing it";
  return ErrnoReason("cannot open " + file, err);
}

std::string ErrnoReason(std::string_view what, int err) {
  return std::string(what) + ": " + std::strerror(err);
}

bool ReadToEnd(int fd, std::string *bytes) {
  struct stat st;
  if (::fstat(fd, &st) == 0) bytes->reserve(bytes->size() + static_cast<std::size_t>(st.st_size));
  char buffer[64 * 1024];
  for (std::size_t got = 0;; bytes->append(buffer, got)) {
    if (!ReadFull(fd, buffer, sizeof buffer, &got)) return false;
    if (got == 0) return true;
  }
}

bool ReadFileAt(int dirFd, const char *name, std::string *bytes, mode_t *mode, std::string *error) {
  const Fd fd = OpenRegularAt(dirFd, name, O_RDONLY, 0);
  if (!fd.Valid()) {
    *error = OpenFailure(name, errno);
    return false;
  }
  struct stat st;
  bytes->clear();
  if (::fstat(fd.Get(), &st) != 0 || !ReadToEnd(fd.Get(), bytes)) {
    *error = ErrnoReason(std::string("cannot read ") + name, errno);
    return false;
  }
  if (mode != nullptr) *mode = st.st_mode & 07777;
  return true;
}

namespace {

// Both writes go on after a short write with the rest, and retry one that a
// signal interrupted before it wrote anything. A write of nothing, which a
// regular file never gives, fails as an I/O error rather than loop.
template <typename WriteSome>
bool WriteLoop(std::string_view data, std::size_t *written, WriteSome writeSome) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = writeSome(data.data() + done, data.size() - done, done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = done;
  return done == data.size();
}

}  // namespace

bool WriteAll(int fd, std::string_view data, std::size_t *written) {
  return WriteLoop(data, written, [fd](const char *bytes, std::size_t size, std::size_t) {
    return ::write(fd, bytes, size);
  });
}

bool WriteAllAt(int fd, std::string_view data, off_t offset) {
  return WriteLoop(data, nullptr, [fd, offset](const char *bytes, std::size_t size, std::size_t done) {
    return ::pwrite(fd, bytes, size, offset + static_cast<off_t>(done));
  });
}

bool ReplaceFile(int dirFd, const char *target, mode_t mode, bool noReplace,
                 const std::function<bool(int)> &write, std::string *error) {
  static unsigned serial = 0;
  const std::string name =
      kTemporaryPrefix + std::to_string(::getpid()) + "-" + std::to_string(++serial);
  const Fd fd = OpenRegularAt(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (!fd.Valid()) {
    *error = ErrnoReason("cannot create " + name, errno);
    return false;
  }
  auto fail = [&](const char *what) {
    *error = ErrnoReason(std::string("cannot ") + what + " " + name, errno);
    ::unlinkat(dirFd, name.c_str(), 0);
    return false;
  };
  if (!write(fd.Get())) return fail("write");
  if (::fchmod(fd.Get(), mode) != 0) return fail("chmod");
  if (::fsync(fd.Get()) != 0) return fail("sync");
  // RENAME_NOREPLACE holds even against a target that appears meanwhile.
  if ((noReplace ? ::renameat2(dirFd, name.c_str(), dirFd, target, RENAME_NOREPLACE)
                 : ::renameat(dirFd, name.c_str(), dirFd, target)) != 0)
    return fail("rename");
  if (::fsync(dirFd) != 0) {
    *error = ErrnoReason("cannot sync the machine folder", errno);
    return false;
  }
  return true;
}

}  // namespace hosted
