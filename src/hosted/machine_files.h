// The files of a machine folder: regular files opened by name in a folder's
// descriptor (the registry's too), and the platform's files under Windows
// paths ("C:\WINDOWS\SYSTEM.INI"), walked element by element from the folder.
// No link is followed (a call that would have to fails; deleting or
// replacing one touches the link only): nothing outside the folder is read,
// written or removed. Elements match case-insensitively (a Windows 98 disk
// shows SYSTEM.INI for system.ini): an exact match wins, else the byte-wise
// smallest folded one; a new file gets the case given.
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

// Replaces dirFd/target atomically (with noReplace, only while it does not
// exist) by what write(fd) puts in a temporary file beside it: synced,
// renamed over it, the folder synced. False with a reason.
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
  // Opens the machine folder and locks it until Close (two runs would
  // truncate each other's system.new): a flock on the folder creates nothing
  // in it and goes however the run ends. False with a one-line reason.
  bool Open(const std::string &machineDir, std::string *error);
  // Removes a killed run's temporary files from C:\, C:\WINDOWS, C:\WINDOWS\SYSTEM.
  void RemoveLeftovers();
  void Close();
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
