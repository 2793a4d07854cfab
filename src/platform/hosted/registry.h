// An in-memory Windows 95/98 registry with the Win32 semantics of the
// platform contract, optionally kept in a REGEDIT4 file of a machine folder.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/hosted/regedit4.h"
#include "platform/platform.h"

namespace hosted {

inline constexpr char kRegistryName[] = "registry.reg";

// The predefined handle that stands for a root (HKEY_LOCAL_MACHINE for
// RootId::LocalMachine).
platform::HKEY RootKey(regedit4::RootId root);

class Registry {
 public:
  // An empty registry, in memory only, with every predefined root present.
  Registry();
  ~Registry();
  Registry(const Registry &) = delete;
  Registry &operator=(const Registry &) = delete;

  // Binds to MACHINE/registry.reg below the directory fd (never following a
  // link), replaying a journal left by an interrupted run: this is what
  // every start loads. Changes nothing on disk. From then on every
  // successful change is durable before its call returns, and a change that
  // cannot be made durable fails and leaves the content as it was.
  bool Open(int machineDirFd, std::string *error);
  // Makes the temporary file of the fold at Close now, so that whatever can
  // stop the fold at the end (a name that cannot be had) stops the run
  // before its first change. Close makes it if it is missing.
  bool PrepareFold(std::string *error);
  // Applies the journal's changes to registry.reg as it is now (so that what
  // another program changed in it meanwhile stays), and unbinds. Only under
  // the machine lock: the fold relies on no other run writing. A run whose
  // journal holds no change leaves the file's bytes untouched. When
  // registry.reg cannot be written, or no longer loads, returns false with a
  // reason saying that the changes are kept in the journal for the next
  // run, and stays bound. Without Close (a crash) the journal stays, and the
  // next Open replays it.
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

  // "HKEY_LOCAL_MACHINE\Enum\PCI\..." for a handle (a predefined root or an
  // open handle, deleted or not); empty for an unknown handle.
  std::string PathOf(platform::HKEY key) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hosted
