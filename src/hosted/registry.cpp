#include "hosted/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hosted/creg_store.h"
#include "hosted/posix_files.h"
#include "hosted/regedit4.h"
#include "hosted/store.h"
#include "hosted/text_helpers.h"
#include "hosted/windows_files.h"
#include "platform/key_path.h"

namespace hosted {

namespace journal {

std::string Record(std::string_view fullPath) { return "[-" + std::string(fullPath) + "]\n"; }

std::vector<std::string> ReadRecords(std::string_view bytes, std::size_t *validBytes) {
  std::vector<std::string> paths;
  *validBytes = 0;
  if (!bytes.starts_with(kHeader)) return paths;
  *validBytes = kHeader.size();
  for (std::size_t end; (end = bytes.find('\n', *validBytes)) != std::string_view::npos;
       *validBytes = end + 1) {
    const std::string_view line = bytes.substr(*validBytes, end - *validBytes);
    if (line.size() < 4 || !line.starts_with("[-") || !line.ends_with(']')) break;
    paths.emplace_back(line.substr(2, line.size() - 3));
  }
  return paths;
}

}  // namespace journal

using namespace platform;
using journal::kJournalName;

HKEY RootKey(RootId root) {
  // In RootId order.
  constexpr PredefinedKeyConstant kRootKeys[kRootCount] = {
      HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE,
      HKEY_USERS,        HKEY_CURRENT_CONFIG, HKEY_DYN_DATA,
  };
  return kRootKeys[static_cast<std::size_t>(root)];
}

namespace {

// The root a predefined handle names; false for any other handle.
bool PredefinedRoot(HKEY key, RootId *root) {
  for (std::size_t i = 0; i < kRootCount; ++i) {
    if (key == RootKey(static_cast<RootId>(i))) {
      *root = static_cast<RootId>(i);
      return true;
    }
  }
  return false;
}

// A record whose key is missing was removed from the kept tree already, or
// folded already (a kill between the rename and the journal's removal, or
// during a store's writes in place), or its key went another way meanwhile:
// the store is told, to finish what it may have left half written.
void ApplyRecords(Tree &tree, Store &store, const std::vector<std::string> &paths) {
  for (const std::string &path : paths) {
    if (Key *key = tree.FindPath(path)) {
      tree.Remove(key);
    } else if (const std::size_t slash = path.rfind('\\'); slash != std::string::npos) {
      if (Key *parent = tree.FindPath(std::string_view(path).substr(0, slash)))
        store.RemovedBefore(parent, std::string_view(path).substr(slash + 1));
    }
  }
}

}  // namespace

struct Registry::Impl {
  std::unique_ptr<Store> store;  // the registry file's format, chosen by Open
  std::unique_ptr<Tree> tree = std::make_unique<Tree>();
  std::unordered_map<std::uintptr_t, Key *> handles;
  std::uintptr_t nextHandle = 0x1000;  // never reused
  Fd dir;                        // its own: the caller's may close first, and would share its lock
  Fd journal;                    // open while the journal file is there
  std::size_t journalBytes = 0;  // its header and complete records
  std::vector<std::string> records;  // the paths of those records, in order
  std::size_t unsaved = 0;           // changes the journal could not take
  std::string unsavedReason;

  // The key of a handle, ERROR_INVALID_HANDLE or ERROR_KEY_DELETED.
  LONG Lookup(HKEY hkey, Key **key) const {
    RootId root;
    if (PredefinedRoot(hkey, &root)) {
      *key = tree->Root(root);
      return ERROR_SUCCESS;
    }
    auto it = handles.find(reinterpret_cast<std::uintptr_t>(hkey));
    if (it == handles.end()) return ERROR_INVALID_HANDLE;
    if (Tree::IsDeleted(it->second)) return ERROR_KEY_DELETED;
    *key = it->second;
    return ERROR_SUCCESS;
  }

  // The tree brought up to the registry file as it is now, with the
  // journal's records applied (again, where the tree holds them already:
  // a removed key is not found). A tree replaced takes the handles with it.
  bool Load(const std::vector<std::string> &journalRecords, std::string *error) {
    const Tree *before = tree.get();
    if (!store->Load(dir.Get(), &tree, error)) return false;
    if (tree.get() != before) handles.clear();
    ApplyRecords(*tree, *store, journalRecords);
    return true;
  }
  bool Append(const std::string &fullPath, std::string *error);
};

// Written over whatever follows the complete records (a torn one, or part of
// a failed append), so that a failed change never comes back.
bool Registry::Impl::Append(const std::string &fullPath, std::string *error) {
  auto fail = [&](const char *what) {
    *error = ErrnoReason(std::string("cannot ") + what + " " + kJournalName, errno);
    if (journal.Valid()) (void)::ftruncate(journal.Get(), static_cast<off_t>(journalBytes));
    return false;
  };
  const bool created = !journal.Valid();
  if (created) journal = OpenRegularAt(dir.Get(), kJournalName, O_RDWR | O_CREAT | O_EXCL, 0644);
  if (!journal.Valid()) return fail("create");
  const std::string bytes =
      (journalBytes == 0 ? std::string(journal::kHeader) : "") + journal::Record(fullPath);
  if (::ftruncate(journal.Get(), static_cast<off_t>(journalBytes)) != 0 ||
      ::lseek(journal.Get(), 0, SEEK_END) < 0 || !WriteAll(journal.Get(), bytes))
    return fail("write");
  if (::fdatasync(journal.Get()) != 0 || (created && ::fsync(dir.Get()) != 0)) return fail("sync");
  journalBytes += bytes.size();
  records.push_back(fullPath);
  return true;
}

Registry::Registry() : impl_(std::make_unique<Impl>()) {}

Registry::~Registry() = default;

bool Registry::Open(int machineDirFd, std::string *error, const std::string &windowsDir) {
  Fd dir(::openat(machineDirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.Valid()) {
    *error = ErrnoReason("cannot open the machine folder", errno);
    return false;
  }
  // A journal a killed run left: its complete records are applied.
  Fd journal = OpenRegularAt(dir.Get(), kJournalName, O_RDWR, 0);
  if (!journal.Valid() && errno != ENOENT) {
    *error = OpenFailure(kJournalName, errno);
    return false;
  }
  std::string bytes;
  if (journal.Valid() && !ReadToEnd(journal.Get(), &bytes)) {
    *error = ErrnoReason(std::string("cannot read ") + kJournalName, errno);
    return false;
  }
  std::size_t journalBytes = 0;
  std::vector<std::string> records = journal::ReadRecords(bytes, &journalBytes);
  // registry.reg, as a machine folder we make has it; else the SYSTEM.DAT
  // of a drive. Never a guess between the two.
  const std::string systemDat = windowsDir + "\\SYSTEM.DAT";
  struct stat st;
  const bool regedit4 = ::fstatat(dir.Get(), kRegistryName, &st, AT_SYMLINK_NOFOLLOW) == 0;
  const std::optional<HostPath> creg = FindHostPath(dir.Get(), systemDat.c_str());
  if (regedit4 && creg && creg->exists) {
    *error = std::string("both ") + kRegistryName + " and " + Quoted(systemDat) +
             " are there: remove the one that is not this machine's registry";
    return false;
  }
  if (!regedit4 && !(creg && creg->exists)) {
    *error = std::string("no ") + kRegistryName + " and no " + Quoted(systemDat) +
             ": neither a machine folder nor a Windows drive's C:\\";
    return false;
  }
  // A new store and tree, so that a refused start leaves the ones in use.
  Impl fresh;
  if (!regedit4 && creg && creg->exists)
    fresh.store = std::make_unique<CregStore>(systemDat);
  else
    fresh.store = std::make_unique<Regedit4Store>();
  fresh.tree = nullptr;
  fresh.dir = std::move(dir);
  if (!fresh.Load(records, error)) return false;
  impl_->store = std::move(fresh.store);
  impl_->tree = std::move(fresh.tree);
  impl_->handles.clear();
  impl_->dir = std::move(fresh.dir);
  impl_->journal = std::move(journal);
  impl_->journalBytes = journalBytes;
  impl_->records = std::move(records);
  impl_->unsaved = 0;
  impl_->unsavedReason.clear();
  return true;
}

bool Registry::Fold(std::string *error) {
  // Even a run that changes nothing saves what a killed run left.
  if (!impl_->records.empty()) {
    const std::size_t count = impl_->records.size();
    std::string reason;
    const bool loaded = impl_->Load(impl_->records, &reason);
    if (!loaded)
      reason = std::string(impl_->store->FileName()) +
               " was changed during the run and no longer loads (" + reason + ")";
    if (!loaded || !impl_->store->Save(impl_->dir.Get(), *impl_->tree, &reason)) {
      *error = reason + "; the " + std::to_string(count) + " registry change" +
               (count == 1 ? " is" : "s are") + " kept in " + kJournalName +
               ", and the next run applies " + (count == 1 ? "it" : "them");
      return false;
    }
  }
  if (impl_->journal.Valid()) {
    if (::unlinkat(impl_->dir.Get(), kJournalName, 0) != 0 && errno != ENOENT) {
      *error = ErrnoReason(std::string("cannot remove ") + kJournalName, errno);
      return false;
    }
    impl_->journal.Reset();
    impl_->journalBytes = 0;
    impl_->records.clear();
    if (::fsync(impl_->dir.Get()) != 0) {
      *error = ErrnoReason("cannot sync the machine folder", errno);
      return false;
    }
  }
  impl_->handles.clear();
  impl_->dir.Reset();
  return true;
}

LONG Registry::OpenKey(HKEY key, const char *subKey, PHKEY result) {
  if (!IsWellFormedKeyPath(subKey) || result == nullptr) return ERROR_INVALID_PARAMETER;
  Key *from;
  if (LONG status = impl_->Lookup(key, &from); status != ERROR_SUCCESS) return status;
  Key *target = (subKey == nullptr || *subKey == '\0') ? from : impl_->tree->Resolve(from, subKey);
  if (target == nullptr) return ERROR_FILE_NOT_FOUND;
  const std::uintptr_t value = impl_->nextHandle;
  impl_->nextHandle += 8;
  impl_->handles[value] = target;
  *result = reinterpret_cast<HKEY>(value);
  return ERROR_SUCCESS;
}

LONG Registry::EnumKey(HKEY key, DWORD index, char *name, DWORD *nameChars) {
  Key *parent;
  if (LONG status = impl_->Lookup(key, &parent); status != ERROR_SUCCESS) return status;
  if (name == nullptr || nameChars == nullptr) return ERROR_INVALID_PARAMETER;
  const auto &children = parent->children;
  if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
  const std::string_view child = children[index]->name;
  if (child.size() + 1 > *nameChars) return ERROR_MORE_DATA;
  std::memcpy(name, child.data(), child.size());
  name[child.size()] = '\0';
  *nameChars = static_cast<DWORD>(child.size());
  return ERROR_SUCCESS;
}

LONG Registry::QueryValue(HKEY key, const char *valueName, DWORD *type, BYTE *data,
                          DWORD *dataBytes) {
  Key *owner;
  if (LONG status = impl_->Lookup(key, &owner); status != ERROR_SUCCESS) return status;
  if (data != nullptr && dataBytes == nullptr) return ERROR_INVALID_PARAMETER;
  const Value *value =
      impl_->tree->FindValue(owner, valueName == nullptr ? std::string_view() : valueName);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  // Data comes back as stored, as on Windows 98: a text value stored without
  // its terminator comes without one.
  const bool terminate = value->terminated;
  const std::size_t needed = value->data.size() + (terminate ? 1 : 0);
  const bool fits = data == nullptr || needed <= *dataBytes;
  if (data != nullptr && fits) {
    if (!value->data.empty()) std::memcpy(data, value->data.data(), value->data.size());
    if (terminate) data[value->data.size()] = '\0';
  }
  if (type != nullptr) *type = value->type;
  if (dataBytes != nullptr) *dataBytes = static_cast<DWORD>(needed);
  return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

LONG Registry::DeleteKey(HKEY key, const char *subKey) {
  // Never delete through an empty path: that would be the key itself.
  if (subKey == nullptr || *subKey == '\0' || !IsWellFormedKeyPath(subKey))
    return ERROR_INVALID_PARAMETER;
  Key *from;
  if (LONG status = impl_->Lookup(key, &from); status != ERROR_SUCCESS) return status;
  Key *target = impl_->tree->Resolve(from, subKey);
  if (target == nullptr) return ERROR_FILE_NOT_FOUND;
  std::string reason;
  if (!impl_->Append(Tree::PathOf(target), &reason)) {
    ++impl_->unsaved;
    impl_->unsavedReason = std::move(reason);
    return ERROR_WRITE_FAULT;
  }
  impl_->tree->Remove(target);
  return ERROR_SUCCESS;
}

LONG Registry::CloseKey(HKEY key) {
  RootId root;
  if (PredefinedRoot(key, &root)) return ERROR_SUCCESS;
  return impl_->handles.erase(reinterpret_cast<std::uintptr_t>(key)) != 0 ? ERROR_SUCCESS
                                                                          : ERROR_INVALID_HANDLE;
}

std::string Registry::UnsavedNotice() const {
  if (impl_->unsaved == 0) return {};
  return std::to_string(impl_->unsaved) + " registry change" + (impl_->unsaved == 1 ? "" : "s") +
         " could not be saved (" + impl_->unsavedReason + ")";
}

}  // namespace hosted
