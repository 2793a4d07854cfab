// The files of a machine folder. Below, the host layer the registry shares:
// regular files opened by a plain name (no '/') in a folder's descriptor,
// never through a link. Above it, the platform's files, addressed by Windows
// paths ("C:\WINDOWS\SYSTEM.INI") and confined to that folder: every path is
// walked element by element from the folder without following a link, so a
// call that would have to follow one fails, and deleting or replacing a link
// touches the link only. Nothing outside the folder is read, written or
// removed, whatever it holds.
//
// Each element is matched case-insensitively (a mounted Windows 98 disk shows
// SYSTEM.INI where the program asks for system.ini): an exact match wins,
// else the byte-wise smallest folded one. A new file gets the case given.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

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

// Appends the rest of the file to *bytes; false, with errno, on an error.
bool ReadToEnd(int fd, std::string *bytes);
// Reads dirFd/name whole (opened by OpenRegularAt), and its permission bits
// into *mode unless null; false with a reason.
bool ReadFileAt(int dirFd, const char *name, std::string *bytes, mode_t *mode, std::string *error);
// Writes all of data (*written: how much did); false, with errno, on an error.
bool WriteAll(int fd, std::string_view data, std::size_t *written = nullptr);

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

// ------------------------------------------------------- Windows paths

// The elements of an accepted Windows path: "C:\" (either case) and one or
// more non-empty elements joined by single backslashes, none "." or ".." or
// holding '/'. Nothing for anything else.
std::optional<std::vector<std::string>> SplitWindowsPath(const char *path);

// Why a run is refused while another one has the machine.
inline constexpr char kMachineInUse[] =
    "the uninstaller is already running on this machine: wait until it has finished";

class WindowsFiles {
 public:
  // Opens the machine folder (a link naming it is followed: the user chose
  // it) and locks it until Close: two runs would truncate each other's
  // system.new and fold their registry changes over one another. A flock on
  // the folder itself creates nothing in it, and goes however the run ends.
  // False with a one-line reason (kMachineInUse when another run holds it).
  bool Open(const std::string &machineDir, std::string *error);
  // Removes the temporary files a killed run left in C:\, C:\WINDOWS and
  // C:\WINDOWS\SYSTEM; under the lock no other run can be using them.
  void RemoveLeftovers();
  // Closes every file handle left open and the folder, which unlocks it.
  void Close();
  // The folder's fd, for the registry that lives in it; -1 when closed.
  int DirFd() const { return dir_.Get(); }

  // The platform calls, with the results of platform.h. Access is
  // GENERIC_READ and/or GENERIC_WRITE; disposition OPEN_EXISTING or
  // CREATE_ALWAYS.
  platform::HANDLE Create(const char *path, platform::DWORD access, platform::DWORD disposition);
  platform::BOOL Read(platform::HANDLE file, void *buffer, platform::DWORD size,
                      platform::DWORD *done);
  platform::BOOL Write(platform::HANDLE file, const void *buffer, platform::DWORD size,
                       platform::DWORD *done);
  platform::BOOL CloseHandle(platform::HANDLE file);
  // Fails on a file in use: one that another open file description holds a
  // flock on, our own handles' included (each takes a shared one), since
  // Windows 98 refuses to delete an open file.
  platform::BOOL Delete(const char *path);
  // Replaces the target atomically (ReplaceFile).
  platform::BOOL Copy(const char *from, const char *to, bool failIfExists);

 private:
  struct OpenFile {
    Fd fd;
    bool readable;
    bool writable;
  };
  // The descriptor of an open handle fit for the transfer, with *done zeroed;
  // -1 when the call must fail.
  int FdFor(platform::HANDLE file, bool write, const void *buffer, platform::DWORD size,
            platform::DWORD *done);
  Fd dir_;
  std::map<std::uintptr_t, OpenFile> handles_;
  std::uintptr_t nextHandle_ = 0x1000;
};

}  // namespace hosted
