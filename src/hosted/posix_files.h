// The POSIX file layer of the hosted machine: regular files opened by name
// in a folder's descriptor, never through a link, read whole, written whole,
// and replaced atomically. The registry's files and the Windows paths
// (windows_files.h) are built on it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace hosted {

// An owned descriptor, so that every early return closes it.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd &&other) noexcept : fd_(other.Release()) {}
  Fd &operator=(Fd &&other) noexcept {
    Reset();
    fd_ = other.Release();
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

// Opens dirFd/name with flags (O_CREAT, O_EXCL; never O_TRUNC), not following
// a link. An existing entry opens only if a regular file, checked before the
// open (a device or FIFO can block or set a device going) and after; for
// writing, only if it has no other name, which may be outside the folder.
// Else none, with errno: ELOOP a link, EISDIR a folder, EINVAL another kind
// of file, EMLINK other names, or the failing call's.
Fd OpenRegularAt(int dirFd, const char *name, int flags, mode_t mode);

// Why name could not be opened, from the errno of OpenRegularAt.
std::string OpenFailure(const char *name, int err);
std::string ErrnoReason(std::string_view what, int err);

// Reads up to size bytes, fewer only at the end of the file (*got: how
// many); false, with errno, on an error.
bool ReadFull(int fd, char *data, std::size_t size, std::size_t *got);
// Appends the rest of the file to *bytes; false, with errno, on an error.
bool ReadToEnd(int fd, std::string *bytes);
// Reads dirFd/name whole (opened by OpenRegularAt), and its permission bits
// into *mode unless null; false with a reason.
bool ReadFileAt(int dirFd, const char *name, std::string *bytes, mode_t *mode, std::string *error);
// Writes all of data (*written: how much did); false, with errno, on an error.
bool WriteAll(int fd, std::string_view data, std::size_t *written = nullptr);
// The same at offset, through pwrite: the file offset stays where it was.
bool WriteAllAt(int fd, std::string_view data, off_t offset);

// Temporary files are named kTemporaryPrefix + "PID-N": two runs never
// share one, and any found under the machine lock belong to a run that is gone.
inline constexpr char kTemporaryPrefix[] = ".tq72tmp-";

// Replaces dirFd/target atomically (with noReplace, only while it does not
// exist) by what write(fd) puts in a temporary file beside it: synced,
// renamed over it, the folder synced. False with a reason.
bool ReplaceFile(int dirFd, const char *target, mode_t mode, bool noReplace,
                 const std::function<bool(int)> &write, std::string *error);

}  // namespace hosted
