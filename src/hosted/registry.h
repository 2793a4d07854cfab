// The Windows 95/98 registry of a machine folder, kept in its REGEDIT4 file
// registry.reg, with the Win32 semantics of the platform contract.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hosted/regedit4.h"
#include "platform/platform.h"

namespace hosted {

inline constexpr char kRegistryName[] = "registry.reg";

// The journal beside registry.reg: REGEDIT4 text of deletion lines (which
// registry.reg may not hold), "REGEDIT4\n[-HKEY_LOCAL_MACHINE\A\B]\n...". A
// record counts only with its line end, written last: a record torn by a
// crash, and anything after it, is ignored. Comment lines (';') are skipped.
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
platform::HKEY RootKey(regedit4::RootId root);

class Registry {
 public:
  // Empty, every root present, until Open; a change fails until then.
  Registry();
  ~Registry();

  // Loads registry.reg of the machine folder with a killed run's journal,
  // changing nothing on disk. From then on every change is in the journal,
  // durable, before its call returns, or fails and changes nothing.
  bool Open(int machineDirFd, std::string *error);
  // Applies the journal to registry.reg as it is now, so that what another
  // program changed in it meanwhile stays, then removes the journal. With
  // no journal the file's bytes stay untouched. When registry.reg cannot be
  // written, or no longer loads, false with a reason saying that the
  // journal keeps the changes for the next run. Only under the machine lock.
  bool Close(std::string *error);
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
