// The host file layer below the machine's files and registry: regular files
// opened by a plain name (no '/') in a folder's descriptor, never through a
// link, so that nothing outside the machine folder is read, written or
// removed through it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hosted {

// An owned descriptor, so that every early return closes it.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd &&other) noexcept : fd_(other.Release()) {}
  Fd &operator=(Fd &&other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  int Reset();  // the result of close(), 0 when there was nothing to close

 private:
  int fd_;
};

// Opens dirFd/name with flags (O_RDONLY, O_WRONLY or O_RDWR, optionally
// O_CREAT and O_EXCL; never O_TRUNC), not following a link; with O_CREAT a
// missing file is created with mode. An existing entry is opened only when
// it is a regular file, checked before the open (opening a device or FIFO
// can block or set a device going) and after. A file opened for writing
// must have no other name, which may be outside the folder. Returns the
// descriptor, or none with errno: ELOOP a link, EISDIR a folder, EINVAL
// another kind of file, EMLINK other names, or the failing call's errno.
Fd OpenRegularAt(int dirFd, const char *name, int flags, mode_t mode);

// Why name could not be opened, from the errno of OpenRegularAt.
std::string OpenFailure(const char *name, int err);
// "what: " and the text of err.
std::string ErrnoReason(std::string_view what, int err);

// Reads until size bytes or the end of the file; false, with errno, on an error.
bool ReadFull(int fd, char *data, std::size_t size, std::size_t *got);
// Appends the rest of the file to *bytes; false, with errno, on an error.
bool ReadToEnd(int fd, std::string *bytes);
// Reads dirFd/name whole (opened by OpenRegularAt), and its permission bits
// into *mode unless null; false with a reason.
bool ReadFileAt(int dirFd, const char *name, std::string *bytes, mode_t *mode, std::string *error);
// Writes all of data (*written: how much did); false, with errno, on an error.
bool WriteAll(int fd, std::string_view data, std::size_t *written = nullptr);
// Copies the rest of from to the end of to.
bool CopyToEnd(int from, int to);

// The names in the folder dirFd but "." and ".."; false when it cannot be read.
bool ListFolder(int dirFd, std::vector<std::string> *names);

// Temporary files are named kTemporaryPrefix + "PID-N": two runs never
// share one, and any found under the machine lock belong to a run that is gone.
inline constexpr char kTemporaryPrefix[] = ".tq72tmp-";

// Replaces dirFd/target atomically (only while it does not exist, with
// noReplace) by a file that write(fd) fills: a temporary file beside it,
// given mode and synced, renamed over it, then the folder synced. The
// temporary file exists only while it is written (a killed run's is removed
// by the next start). False with a reason.
bool ReplaceFile(int dirFd, const char *target, mode_t mode, bool noReplace,
                 const std::function<bool(int)> &write, std::string *error);

}  // namespace hosted
