// The SYSTEM.DAT store: HKEY_LOCAL_MACHINE of a Windows 95/98/Me drive, read
// whole and checked (creg.h), its removals written in place as Windows
// writes them. In place, because a rename would lose the hidden, system and
// read-only attributes the file carries on FAT. Before the first write, the
// file as it was is copied beside it to the first free SYSTEM.Q00 ...
// SYSTEM.Q99, a name no Windows program uses, never over an existing file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hosted/creg.h"
#include "hosted/store.h"

namespace hosted {

class CregStore final : public Store {
 public:
  // The file at the Windows path systemDat ("C:\WIN98\SYSTEM.DAT").
  explicit CregStore(std::string systemDat) : path_(std::move(systemDat)) {}

  const char *FileName() const override { return path_.c_str(); }
  // Only HKEY_LOCAL_MACHINE is filled; "PATH: offset 0xNNNN: reason".
  bool Load(int dirFd, std::unique_ptr<Tree> *tree, std::string *error) override;
  void RemovedBefore(const Key *parent, std::string_view name) override;
  // Each write synced before the next, in the order creg::Hive gives them,
  // so that a kill leaves a file that reads and that the next run finishes.
  bool Save(int dirFd, const Tree &tree, std::string *error) override;

 private:
  std::string path_;
  std::string loaded_;  // the file as Load read it, for the backup
  std::optional<creg::Hive> hive_;
  std::vector<std::uint32_t> entryOf_;  // a tree key's entry, by Key::id
  std::vector<std::pair<std::uint32_t, std::string>> unfinished_;  // parent entry, name
};

}  // namespace hosted
