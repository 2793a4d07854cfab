// The Windows 95/98 registry of a machine folder, with the Win32 semantics
// of the platform contract: a tree (tree.h) filled by the store of the
// folder's registry file (store.h), the handles, and the journal that keeps
// each change durable until the store saves it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hosted/tree.h"
#include "platform/platform.h"

namespace hosted {

// The journal beside the registry file: REGEDIT4 text of deletion lines,
// "REGEDIT4\n[-HKEY_LOCAL_MACHINE\A\B]\n...". A record counts only with its
// line end, written last: a record torn by a crash, and anything after it,
// is ignored.
namespace journal {
inline constexpr char kJournalName[] = "registry.reg.journal";
inline constexpr std::string_view kHeader = "REGEDIT4\n";
// The bytes of one record deleting fullPath ("HKEY_LOCAL_MACHINE\A\B").
std::string Record(std::string_view fullPath);
// The paths of the complete records, in order; *validBytes is the length of
// the header and those records (0 when even the header is torn).
std::vector<std::string> ReadRecords(std::string_view bytes, std::size_t *validBytes);
}  // namespace journal

// The predefined handle of a root (HKEY_LOCAL_MACHINE for LocalMachine).
platform::HKEY RootKey(RootId root);

class Registry {
 public:
  // Empty, every root present, until Open; a change fails until then.
  Registry();
  ~Registry();

  // Loads the machine folder's registry file with a killed run's journal,
  // changing nothing on disk: registry.reg when there is one, else the
  // SYSTEM.DAT of the Windows folder windowsDir (a drive's
  // HKEY_LOCAL_MACHINE); both there is refused, and neither is refused as a
  // missing registry.reg. From then on every change is in the journal,
  // durable, before its call returns, or fails and changes nothing.
  bool Open(int machineDirFd, std::string *error, const std::string &windowsDir = "C:\\WINDOWS");
  // Folds the journal into the registry file: loads the file as it is now
  // (so that what another program changed in it meanwhile stays), applies
  // the journal, saves, then removes the journal and lets go of the
  // handles. With no journal the file's bytes stay untouched. When the file
  // cannot be written, or no longer loads, false with a reason saying that
  // the journal keeps the changes for the next run. Only under the machine
  // lock.
  bool Fold(std::string *error);
  // "N registry changes could not be saved (reason)", or "".
  std::string UnsavedNotice() const;

  // The platform calls, with the results documented in platform.h.
  platform::LONG OpenKey(platform::HKEY key, const char *subKey, platform::PHKEY result);
  platform::LONG EnumKey(platform::HKEY key, platform::DWORD index, char *name,
                         platform::DWORD *nameChars);
  platform::LONG QueryValue(platform::HKEY key, const char *valueName, platform::DWORD *type,
                            platform::BYTE *data, platform::DWORD *dataBytes);
  platform::LONG DeleteKey(platform::HKEY key, const char *subKey);
  platform::LONG CloseKey(platform::HKEY key);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hosted
