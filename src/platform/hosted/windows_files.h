// The files of a machine folder, addressed by Windows paths
// ("C:\WINDOWS\SYSTEM.INI") and confined to that folder.
//
// Confinement: every path is walked element by element from an fd of the
// machine folder with O_NOFOLLOW, so a link anywhere in the folder (to a
// file, to a directory, to elsewhere) is never followed; a call that would
// have to follow one fails. Deleting or replacing a link touches the link
// only. Nothing outside the folder is read, written or removed, whatever the
// folder holds.
//
// Names: each element is matched case-insensitively as every name of the
// hosted machine is (text_helpers.h: ASCII and the letters of code page 1252; a
// mounted Windows 98 disk shows SYSTEM.INI where the program asks for
// system.ini); an exact match wins over a case-folded one, and among several
// case-folded matches the byte-wise smallest name is taken. A file that does
// not exist is created with the case given.
//
// Accepted paths: "C:\" (either case of the drive letter) followed by one or
// more non-empty elements separated by single backslashes; no "." or ".."
// element, no '/' in an element. Anything else fails.
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

// The elements of an accepted Windows path, or nothing.
std::optional<std::vector<std::string>> SplitWindowsPath(const char *path);

// Why a run is refused while another one has the machine.
inline constexpr char kMachineInUse[] =
    "the uninstaller is already running on this machine: wait until it has finished";

class WindowsFiles {
 public:
  WindowsFiles() = default;
  ~WindowsFiles();
  WindowsFiles(const WindowsFiles &) = delete;
  WindowsFiles &operator=(const WindowsFiles &) = delete;

  // Opens the machine folder (which must be a directory; a link naming the
  // folder itself is the user's choice and is followed) and locks it until
  // Close: one run at a time per folder, since two would truncate each
  // other's system.new and fold their registry changes over one another.
  // The lock is a flock on the folder itself, so that a run creates nothing
  // in the folder before its first change, and the kernel lets go of it
  // however the run ends. False with a one-line reason (kMachineInUse when
  // another run holds it).
  bool Open(const std::string &machineDir, std::string *error);
  // Removes the temporary files that a killed run left where runs make them:
  // C:\ (the registry's save), C:\WINDOWS and C:\WINDOWS\SYSTEM (the
  // removal logic's copies). Under the lock no other run can be using them.
  void RemoveLeftovers();
  // Closes every file handle left open and the folder, which unlocks it.
  void Close();
  // The folder's fd, for the registry that lives in it; -1 when closed.
  int DirFd() const { return dir_.Get(); }

  // The platform calls, with the results of platform.h. Access is
  // GENERIC_READ and/or GENERIC_WRITE; disposition OPEN_EXISTING or
  // CREATE_ALWAYS; only regular files are opened.
  platform::HANDLE Create(const char *path, platform::DWORD access, platform::DWORD disposition);
  platform::BOOL Read(platform::HANDLE file, void *buffer, platform::DWORD size,
                      platform::DWORD *done);
  platform::BOOL Write(platform::HANDLE file, const void *buffer, platform::DWORD size,
                       platform::DWORD *done);
  // Releases the handle; FALSE for a handle that is not open.
  platform::BOOL CloseHandle(platform::HANDLE file);
  // Fails on a missing file, a directory, and a file in use: one that another
  // open file description holds a flock on, our own handles included (each
  // takes a shared one): Windows 98 refuses to delete an open file, and a
  // step that forgot to close one must fail here too.
  platform::BOOL Delete(const char *path);
  // Atomic replacement: a temporary file beside the target, fsync, rename.
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
