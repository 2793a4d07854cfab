// The host file layer below the machine's files and registry: descriptors,
// regular files opened by a plain name (no '/') in a folder's descriptor and
// never through a symbolic link, whole reads and writes, listing a folder,
// and the atomic replacement of a file through a temporary one. Nothing
// outside the machine folder is ever read, written or removed through it.
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
  // Closes it; the result of close(), 0 when there was nothing to close.
  int Reset();

 private:
  int fd_;
};

// Opens dirFd/name with flags (O_RDONLY, O_WRONLY or O_RDWR, optionally
// O_CREAT and O_EXCL); O_NOFOLLOW, O_NOCTTY and O_CLOEXEC are always added,
// O_TRUNC is not allowed. With O_CREAT a missing file is created with mode;
// an existing entry is opened only when it is a regular file: the type is
// checked before the open (opening a device, FIFO or socket can block, take
// a terminal or set a device going) and again on what was opened. A file
// opened for writing must have no other name: another name may be outside
// the folder. Returns the descriptor, or none with errno: ELOOP
// a link, EISDIR a folder, EINVAL another kind of file, EMLINK other names,
// EEXIST with O_EXCL, or the errno of the failing call.
Fd OpenRegularAt(int dirFd, const char *name, int flags, mode_t mode);

// Why name could not be opened, from the errno of OpenRegularAt.
std::string OpenFailure(const char *name, int err);
// "what: " and the text of err.
std::string ErrnoReason(std::string_view what, int err);

// Reads into data until size bytes or the end of the file; *got is what was
// read. False, with errno, on an error.
bool ReadFull(int fd, char *data, std::size_t size, std::size_t *got);
// Appends the rest of the file to *bytes; false, with errno, on an error.
bool ReadToEnd(int fd, std::string *bytes);
// Reads dirFd/name whole (opened as OpenRegularAt does), and its permission
// bits into *mode unless null. Returns 0, or the errno of the failure
// (ENOENT when missing) with a reason in *error.
int ReadFileAt(int dirFd, const char *name, std::string *bytes, mode_t *mode, std::string *error);
// Writes all of data; *written (unless null) is what was written. False,
// with errno, on an error.
bool WriteAll(int fd, std::string_view data, std::size_t *written = nullptr);
// Copies the rest of from to the end of to.
bool CopyToEnd(int from, int to);

// The names in the folder dirFd but "." and ".."; false when it cannot be
// read.
bool ListFolder(int dirFd, std::vector<std::string> *names);

// Temporary files are named kTemporaryPrefix + "PID-N" (the process and its
// count of temporary files): two runs never share one, and any found while
// the machine is locked belong to a run that is gone.
inline constexpr char kTemporaryPrefix[] = ".tq72tmp-";

// Replaces dirFd/target atomically (only while it does not exist, with
// noReplace) by a file that write(fd) fills: a temporary file beside it,
// given mode and synced, renamed over it, then the folder synced. The
// temporary file exists only while it is written (a killed run's is removed
// by the next start). False with a reason.
bool ReplaceFile(int dirFd, const char *target, mode_t mode, bool noReplace,
                 const std::function<bool(int)> &write, std::string *error);

}  // namespace hosted
