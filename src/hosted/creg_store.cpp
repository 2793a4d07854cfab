#include "hosted/creg_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "hosted/posix_files.h"
#include "hosted/windows_files.h"

namespace hosted {

namespace {

constexpr std::uint32_t kNotOnDrive = 0xFFFFFFFFu;
constexpr std::uint32_t kRegSz = 1;

// The file as it was, in the first free SYSTEM.Q00 ... SYSTEM.Q99, synced
// with its folder; never over another file. A backup there already that
// holds these bytes is this file's (a run that finishes one cut short before
// its first write), and a second copy would only fill the drive.
bool BackUp(const HostPath &where, const std::string &bytes) {
  char name[] = "SYSTEM.Q00";
  for (int n = 0; n < 100; ++n) {
    name[8] = static_cast<char>('0' + n / 10);
    name[9] = static_cast<char>('0' + n % 10);
    Fd backup = OpenRegularAt(where.dir.Get(), name, O_WRONLY | O_CREAT | O_EXCL, 0444);
    if (backup.Valid())
      return WriteAll(backup.Get(), bytes) && ::fsync(backup.Get()) == 0 && ::fsync(where.dir.Get()) == 0;
    if (errno != EEXIST) return false;
    std::string held;
    Fd old = OpenRegularAt(where.dir.Get(), name, O_RDONLY, 0);
    if (old.Valid() && ReadToEnd(old.Get(), &held) && held == bytes) return true;
  }
  errno = EEXIST;
  return false;
}

}  // namespace

bool CregStore::Load(int dirFd, std::unique_ptr<Tree> *tree, std::string *error) {
  std::optional<HostPath> where = FindHostPath(dirFd, path_.c_str());
  // Opened for writing, and its folder checked, though a run may change
  // nothing: on a FAT drive Windows keeps the file read-only, and a run that
  // found out only at its end would have removed the files already.
  Fd fd = where ? where->Open(O_RDWR) : Fd();
  if (!fd.Valid() && where && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    *error = ErrnoReason("cannot write " + path_, errno) +
             ": the run would change it (on a FAT drive only root may: Windows keeps it read-only)";
    return false;
  }
  std::string bytes;
  if (!fd.Valid() || !ReadToEnd(fd.Get(), &bytes)) {
    *error = ErrnoReason("cannot read " + path_, where ? errno : ENOENT);
    return false;
  }
  if (::faccessat(where->dir.Get(), ".", W_OK, AT_EACCESS) != 0) {
    *error = ErrnoReason("cannot make a backup beside " + path_, errno);
    return false;
  }
  // The journal's records are applied again after every load: a key they
  // name that is gone now is told anew (RemovedBefore).
  unfinished_.clear();
  if (*tree != nullptr && hive_ && bytes == hive_->Bytes()) return true;
  std::string loaded = bytes;
  std::optional<creg::Hive> hive = creg::Hive::Parse(std::move(bytes), path_, error);
  if (!hive) return false;
  // The tree's names and data are views into the hive's keys, which stay.
  auto fresh = std::make_unique<Tree>();
  const std::vector<creg::Key> &keys = hive->Keys();
  std::vector<Key *> inTree(keys.size());
  inTree[0] = fresh->Root(RootId::LocalMachine);
  for (std::size_t k = 0; k < keys.size(); ++k) {
    for (const creg::Value &value : keys[k].values) {
      // Windows stores REG_SZ without its terminator and returns it with one.
      const bool bare = value.type == kRegSz && (value.data.empty() || value.data.back() != '\0');
      fresh->AddValue(inTree[k], Value{value.name, value.data, value.type, bare});
    }
    for (std::size_t child : keys[k].children) inTree[child] = fresh->AddKey(inTree[k], keys[child].name);
  }
  fresh->SortChildren();
  entryOf_.assign(fresh->KeyCount(), kNotOnDrive);
  for (std::size_t k = 0; k < keys.size(); ++k) entryOf_[inTree[k]->id] = keys[k].id;
  loaded_ = std::move(loaded);
  hive_ = std::move(hive);
  *tree = std::move(fresh);
  return true;
}

void CregStore::RemovedBefore(const Key *parent, std::string_view name) {
  if (parent->id < entryOf_.size() && entryOf_[parent->id] != kNotOnDrive)
    unfinished_.emplace_back(entryOf_[parent->id], name);
}

bool CregStore::Save(int dirFd, const Tree &tree, std::string *error) {
  // What a cut-short run began comes first: it came first in the journal.
  std::vector<creg::Write> writes;
  for (const auto &[parent, name] : unfinished_)
    if (!hive_->FinishDelete(parent, name, &writes)) {
      *error = path_ + ": more than one unfinished removal of " + name + " to finish";
      return false;
    }
  for (const Key *key : tree.Removed())
    if (entryOf_[key->id] != kNotOnDrive && !hive_->Delete(entryOf_[key->id], &writes)) {
      *error = path_ + ": cannot remove a key it does not hold";
      return false;
    }
  unfinished_.clear();
  if (writes.empty()) return true;

  std::optional<HostPath> where = FindHostPath(dirFd, path_.c_str());
  if (!where || !where->exists) {
    *error = path_ + " is gone";
    return false;
  }
  if (!BackUp(*where, loaded_)) {
    *error = ErrnoReason("cannot back " + path_ + " up beside it", errno);
    return false;
  }
  Fd file = where->Open(O_RDWR);
  if (!file.Valid()) {
    *error = OpenFailure(path_.c_str(), errno);
    return false;
  }
  for (const creg::Write &write : writes) {
    if (!WriteAllAt(file.Get(), write.bytes, static_cast<off_t>(write.offset)) || ::fdatasync(file.Get()) != 0) {
      *error = ErrnoReason("cannot write " + path_, errno);
      return false;
    }
  }
  return true;
}

}  // namespace hosted
