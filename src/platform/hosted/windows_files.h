// The files of a machine folder, addressed by Windows paths
// ("C:\WINDOWS\SYSTEM.INI") and confined to that folder: every path is walked
// element by element from the folder without following a link, so a call
// that would have to follow one fails, and deleting or replacing a link
// touches the link only.
//
// Each element is matched case-insensitively (a mounted Windows 98 disk shows
// SYSTEM.INI where the program asks for system.ini): an exact match wins,
// else the byte-wise smallest folded one. A new file gets the case given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hosted/file_io.h"
#include "platform/platform.h"

namespace hosted {

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
