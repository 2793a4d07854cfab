// The Windows 95/98 registry of a machine folder, kept in its REGEDIT4 file
// registry.reg, with the Win32 semantics of the platform contract.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hosted/regedit4.h"
#include "platform/platform.h"

namespace hosted {

inline constexpr char kRegistryName[] = "registry.reg";

// The change journal kept beside registry.reg: every change of the registry
// is appended here, and made durable, before its call returns; it is folded
// into registry.reg at the end of the run, or by the next run after a kill.
// It is REGEDIT4 text made of deletion lines, which registry.reg itself may
// not hold:
//
//   REGEDIT4
//   [-HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1234]
//
// A record counts only with its line end, which is written last: a record
// torn by a crash, and anything after it, is ignored. Comment lines (';')
// are skipped.
namespace journal {
inline constexpr char kJournalName[] = "registry.reg.journal";
inline constexpr std::string_view kHeader = "REGEDIT4\n";
// The bytes of one record deleting fullPath ("HKEY_LOCAL_MACHINE\A\B").
std::string Record(std::string_view fullPath);
// The deleted paths of the complete records of a journal's bytes, in order;
// *validBytes is the length of the header and those records (0 when even the
// header is torn).
std::vector<std::string> ReadRecords(std::string_view bytes, std::size_t *validBytes);
}  // namespace journal

// The predefined handle that stands for a root (HKEY_LOCAL_MACHINE for
// RootId::LocalMachine).
platform::HKEY RootKey(regedit4::RootId root);

class Registry {
 public:
  // Empty, with every predefined root present, until Open; a change fails
  // (ERROR_WRITE_FAULT) while it has no machine folder to keep it in.
  Registry();
  ~Registry();
  Registry(const Registry &) = delete;
  Registry &operator=(const Registry &) = delete;

  // Loads registry.reg of the machine folder machineDirFd (never following
  // a link), with the changes of a
  // journal that a killed run left: this is what every start loads. Changes
  // nothing on disk. From then on every successful change is appended to the
  // journal and durable before its call returns; a change that cannot be
  // made durable fails and leaves the content as it was.
  bool Open(int machineDirFd, std::string *error);
  // Saves the journal's changes into registry.reg as it is now, so that what
  // another program changed in it meanwhile stays, then removes the journal
  // and closes every key handle. Only under the machine lock: no other run
  // may write meanwhile. With no journal (a run that changed nothing) the
  // file's bytes stay untouched. When registry.reg cannot be written, or no
  // longer loads, returns false with a reason saying that the changes are
  // kept in the journal for the next run, and stays open. Without Close (a
  // kill) the journal stays, and the next Open applies it.
  bool Close(std::string *error);
  // "N registry changes could not be saved (reason)" when changes failed
  // since Open because the journal could not take them; "" otherwise.
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
