// The platform's files under Windows paths ("C:\WINDOWS\SYSTEM.INI"), walked
// element by element from the machine folder. No link is followed (a call
// that would have to fails; deleting or replacing one touches the link
// only): nothing outside the folder is read, written or removed. Elements
// match case-insensitively (a Windows 98 disk shows SYSTEM.INI for
// system.ini): an exact match wins, else the byte-wise smallest folded one;
// a new file gets the case given.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosted/posix_files.h"
#include "platform/platform.h"

namespace hosted {

// The elements of an accepted Windows path: "C:\" (either case) and one or
// more non-empty elements joined by single backslashes, none "." or ".." or
// holding '/'. Nothing for anything else.
std::optional<std::vector<std::string>> SplitWindowsPath(const char *path);

// A Windows path on the host: the folder it ends in and the entry's name
// there (as found, or as given when there is none). Nothing when the path is
// refused or a folder on the way is missing.
struct HostPath {
  Fd dir;
  std::string leaf;
  bool exists = false;
  Fd Open(int flags) const { return OpenRegularAt(dir.Get(), leaf.c_str(), flags, 0666); }
};
std::optional<HostPath> FindHostPath(int rootFd, const char *path);

// The Windows folder that MSDOS.SYS names ("WinDir=C:\WIN98" in [Paths];
// either case, CR LF or LF, padding lines of x), "C:\WINDOWS" without one;
// nothing for one on another drive or one that leaves the drive.
std::optional<std::string> WindowsFolderOf(std::string_view msdosSys);

// Why a run is refused while another one has the machine.
inline constexpr char kMachineInUse[] =
    "the uninstaller is already running on this machine: wait until it has finished";

class WindowsFiles {
 public:
  // Opens the machine folder and locks it until Close (two runs would
  // truncate each other's system.new): a flock on the folder creates nothing
  // in it and goes however the run ends. Its Windows folder is the one its
  // MSDOS.SYS names, as on a drive. False with a one-line reason.
  bool Open(const std::string &machineDir, std::string *error);
  // Removes a killed run's temporary files from C:\, the Windows folder and
  // its SYSTEM.
  void RemoveLeftovers();
  void Close();
  int DirFd() const { return dir_.Get(); }
  // "C:\WINDOWS", or the folder MSDOS.SYS names.
  const std::string &WindowsDir() const { return windowsDir_; }

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
  std::string windowsDir_ = "C:\\WINDOWS";
  std::map<std::uintptr_t, OpenFile> handles_;
  std::uintptr_t nextHandle_ = 0x1000;
};

}  // namespace hosted
