// The host file system as the hosted platform uses it, one of each: the
// descriptor type, opening a plain file of a folder, whole reads and writes,
// listing a folder, the atomic replacement of a file through a temporary
// one, and the naming of our own files, so that one sweep finds what a
// killed run left and a signal that ends a run removes what it had made.
//
// Every file is reached by a plain name (no '/') relative to a folder's
// descriptor, and never through a symbolic link: nothing outside the
// machine folder is ever read, written or removed.
#pragma once

#include <sys/types.h>

#include <cstddef>
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

enum class Links {
  Any,  // a file with other names is fine (it is only read)
  One,  // a file with other names is refused: it is written in place, and
        // another name may be outside the folder
};

// Opens dirFd/name with flags (O_RDONLY, O_WRONLY or O_RDWR, optionally
// O_CREAT and O_EXCL); O_NOFOLLOW, O_NOCTTY and O_CLOEXEC are always added,
// O_TRUNC is not allowed. With O_CREAT a missing file is created with mode;
// an existing entry is opened only when it is a regular file: the type is
// checked before the open (opening a device, FIFO or socket can block, take
// a terminal or set a device going) and again on what was opened. Returns
// the descriptor (blocking), or none with errno: ELOOP a link, EISDIR a
// folder, EINVAL another kind of file, EMLINK other names with Links::One,
// EEXIST with O_EXCL, or the errno of the failing call.
Fd OpenRegularAt(int dirFd, const char *name, int flags, mode_t mode, Links links);

// True when dirFd/name is the file fd has open (not a link to it): that
// nothing replaced or removed the name since the open.
bool NamesFile(int dirFd, const char *name, int fd);

// Why name could not be opened, from the errno of OpenRegularAt.
std::string OpenFailure(const char *name, int err);
// "what: " and the text of err.
std::string ErrnoReason(std::string_view what, int err);

// Reads into data until size bytes or the end of the file; *got is what was
// read. False, with errno, on an error.
bool ReadFull(int fd, char *data, std::size_t size, std::size_t *got);
// Appends the rest of the file to *bytes; false, with errno, on an error.
bool ReadToEnd(int fd, std::string *bytes);
// Reads dirFd/name whole (opened as OpenRegularAt does, other names
// allowed), and its permission bits into *mode unless null. Returns 0, or
// the errno of the failure (ENOENT when missing) with a reason in *error.
int ReadFileAt(int dirFd, const char *name, std::string *bytes, mode_t *mode, std::string *error);
// Writes all of data; *written (unless null) is what was written. False,
// with errno, on an error.
bool WriteAll(int fd, std::string_view data, std::size_t *written = nullptr);
// Copies the rest of from to the end of to, inside the kernel where the
// file systems allow it (copy_file_range).
bool CopyToEnd(int from, int to);

// The names in the folder dirFd but "." and ".."; false when it cannot be
// read.
bool ListFolder(int dirFd, std::vector<std::string> *names);

// --------------------------------------------------------- our own files
// Temporary files are named kTemporaryPrefix + "PID-N" (the process and its
// count of temporary files): two runs never share one, and any found while
// the machine lock is ours belong to a run that is gone.
inline constexpr char kTemporaryPrefix[] = ".tq72tmp-";

// Removes from the folder dirFd the regular files named kTemporaryPrefix...:
// what a killed run left. Links (never their targets), folders and devices
// of such a name stay. Only under the machine lock. Failures are ignored: a
// leftover that cannot go does no harm.
void RemoveTemporaryFiles(int dirFd);

// A file of ours that a signal ending the run removes first, from Arm to
// Cancel or destruction: temporary files and the lock file exist only while
// a run does, so SIGINT, SIGTERM or SIGHUP at a box must leave the folder as
// it was. The name is copied beforehand; the handler only calls unlinkat.
class RemovedOnSignal {
 public:
  RemovedOnSignal() = default;
  ~RemovedOnSignal() { Cancel(); }
  RemovedOnSignal(const RemovedOnSignal &) = delete;
  RemovedOnSignal &operator=(const RemovedOnSignal &) = delete;

  // dirFd must stay open until Cancel. Beyond a few names at once, a name is
  // left to the next run's sweep.
  void Arm(int dirFd, std::string_view name);
  void Cancel();

 private:
  int slot_ = -1;
};

// From the first call on, SIGINT, SIGTERM and SIGHUP (each unless it was
// ignored) remove the armed files, then end the process by that signal, so
// that its status is the signal's (128 + N to a shell).
void RemoveArmedFilesOnSignals();

// A temporary file of ours that atomically takes the place of another name
// of its folder. Until then it is removed whatever happens: when dropped,
// when a signal ends the run, and after a kill by the next run's sweep.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() { Remove(); }
  TemporaryFile(const TemporaryFile &) = delete;
  TemporaryFile &operator=(const TemporaryFile &) = delete;

  // Creates it, empty and open for reading and writing, in the folder dirFd,
  // which must stay open while it exists. False with a reason.
  bool Create(int dirFd, std::string *error);
  bool Exists() const { return fd_.Valid(); }
  int Get() const { return fd_.Get(); }
  const std::string &Name() const { return name_; }

  // Gives it mode, syncs it, renames it over target (only while target does
  // not exist, with noReplace) and syncs the folder. Only our own file goes
  // over target: one removed or replaced under its name meanwhile is
  // refused. Once renamed it is gone (Exists() false), even when the
  // folder's sync then fails. False with a reason.
  bool Commit(const char *target, mode_t mode, bool noReplace, std::string *error);
  void Remove();

 private:
  int dirFd_ = -1;
  Fd fd_;
  std::string name_;
  RemovedOnSignal armed_;
};

}  // namespace hosted
