// An in-memory Windows 95/98 registry with the Win32 semantics of the
// platform contract, optionally kept in a REGEDIT4 file of a machine folder.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace hosted {

class Registry {
 public:
  // An empty registry, in memory only, with every predefined root present.
  Registry();
  ~Registry();
  Registry(const Registry &) = delete;
  Registry &operator=(const Registry &) = delete;

  // Replaces the whole content by REGEDIT4 text; `name` is used in errors.
  // On failure returns false, sets *error to "NAME:LINE: reason" and keeps
  // the content as it was.
  bool LoadText(std::string_view text, const std::string &name, std::string *error);
  // The content as REGEDIT4 text. Keys and values that came from LoadText
  // keep their original bytes.
  std::string SaveText() const;

  // Loads what Open would (registry.reg with a journal's records replayed)
  // without binding: reads only, and needs no machine lock.
  bool LoadMachine(int machineDirFd, std::string *error);
  // Binds to MACHINE/registry.reg below the directory fd (never following a
  // link), replaying a journal left by an interrupted run. From then on
  // every successful change is durable before its call returns, and a change
  // that cannot be made durable fails and leaves the content as it was.
  // Only under the machine lock: it removes the temporary files of folds
  // that were interrupted, and the fold relies on no other run writing.
  bool Open(int machineDirFd, std::string *error);
  // Applies the journal's changes to registry.reg as it is now (so that what
  // another program changed in it meanwhile stays), and unbinds. A run
  // whose journal holds no change leaves the file's bytes untouched. When
  // registry.reg cannot be written, or no longer loads, returns false with a
  // reason saying that the changes are kept in the journal for the next
  // run, and stays bound.
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
  std::size_t OpenHandleCount() const;
  // Full path with root name, case-insensitive.
  bool KeyExists(std::string_view fullPath) const;

  // --- additions for tests and the platform glue
  // True between a successful Open and Close.
  bool IsOpen() const;
  // A normalised rendering of the content (every live key in enumeration
  // order with each value's final type and bytes): two registries hold the
  // same keys and values exactly when their Canonical() texts are equal.
  std::string Canonical() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hosted
