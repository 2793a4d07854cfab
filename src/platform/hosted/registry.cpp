// The hosted registry: a regedit4::Document for the content, a handle table
// for the Win32 semantics, and, once bound to a machine folder, a journal
// that makes every change durable before its call returns.
#include "platform/hosted/registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/hosted/open_regular.h"
#include "platform/hosted/regedit4.h"
#include "platform/hosted/registry_journal.h"
#include "platform/key_path.h"

namespace hosted {

using namespace platform;
using regedit4::Document;
using regedit4::Key;
using regedit4::RootId;

namespace {

constexpr std::uint32_t kRootValues[regedit4::kRootCount] = {
    0x80000000u, 0x80000001u, 0x80000002u, 0x80000003u, 0x80000005u, 0x80000006u,
};

// The root a predefined handle names; false for any other handle.
bool PredefinedRoot(HKEY key, RootId *root) {
  for (std::size_t i = 0; i < regedit4::kRootCount; ++i) {
    if (key == PredefinedKey(kRootValues[i])) {
      *root = static_cast<RootId>(i);
      return true;
    }
  }
  return false;
}

}  // namespace

struct Registry::Impl {
  struct Handle {
    Key *key = nullptr;     // null once the content it belonged to was replaced
    std::string stalePath;  // the path it had then
  };

  std::unique_ptr<Document> doc = std::make_unique<Document>();
  std::unordered_map<std::uintptr_t, Handle> handles;
  std::uintptr_t nextHandle = 0x1000;  // never reused

  // Binding to a machine folder.
  int dirFd = -1;  // our own descriptor of the folder
  std::unique_ptr<journal::Journal> journal;
  int tempFd = -1;  // the fold's temporary file, made at Open
  std::string tempName;
  // Changes that failed because the journal could not take them.
  std::size_t unsaved = 0;
  std::string unsavedReason;

  // The key of a handle: ERROR_INVALID_HANDLE for an unknown one,
  // ERROR_KEY_DELETED when its key (or an ancestor) was deleted.
  LONG Lookup(HKEY hkey, Key **key) const {
    RootId root;
    if (PredefinedRoot(hkey, &root)) {
      *key = doc->Root(root);
      return ERROR_SUCCESS;
    }
    auto it = handles.find(reinterpret_cast<std::uintptr_t>(hkey));
    if (it == handles.end()) return ERROR_INVALID_HANDLE;
    if (it->second.key == nullptr || Document::IsDeleted(it->second.key)) return ERROR_KEY_DELETED;
    *key = it->second.key;
    return ERROR_SUCCESS;
  }

  // Installs new content; handles open on the old one behave as deleted.
  void Replace(std::unique_ptr<Document> next) {
    for (auto &[value, handle] : handles) {
      if (handle.key != nullptr) {
        handle.stalePath = Document::PathOf(handle.key);
        handle.key = nullptr;
      }
    }
    doc = std::move(next);
  }

  void Unbind() {
    journal.reset();
    if (tempFd >= 0) ::close(tempFd);
    tempFd = -1;
    if (dirFd >= 0) ::close(dirFd);
    dirFd = -1;
  }

  bool Fold(std::string *error);
};

namespace {

// Replays journal records: a record whose key is missing was folded already
// (a crash between the rename and the journal's removal), or its key went
// some other way meanwhile: nothing to do.
void ApplyRecords(Document &doc, const std::vector<std::string> &paths) {
  for (const std::string &path : paths) {
    Key *key = doc.FindPath(path);
    if (key != nullptr && key->parent != nullptr) doc.Remove(key);
  }
}

}  // namespace

// The journal's records applied to registry.reg as it is now, under the
// machine lock: a change another program made to it during the run stays.
bool Registry::Impl::Fold(std::string *error) {
  const std::size_t count = journal->Records().size();
  const std::string kept = "; the " + std::to_string(count) + " registry change" +
                           (count == 1 ? " is" : "s are") + " kept in " + journal::kJournalName +
                           ", and the next run applies " + (count == 1 ? "it" : "them");
  std::string text;
  mode_t mode = 0644;
  std::string reason;
  if (journal::ReadFileAt(dirFd, journal::kRegistryName, &text, &mode, &reason) != 0) {
    *error = reason + kept;
    return false;
  }
  // Unchanged since it was read: the content in memory is the replay already.
  std::unique_ptr<Document> fresh;
  if (text != doc->Text()) {
    fresh = Document::Parse(std::move(text), journal::kRegistryName, &reason);
    if (!fresh) {
      *error =
          "registry.reg was changed during the run and no longer loads (" + reason + ")" + kept;
      return false;
    }
    ApplyRecords(*fresh, journal->Records());
  }
  const Document &result = fresh ? *fresh : *doc;
  std::vector<std::string_view> pieces;
  std::string extra;
  result.Save(&pieces, &extra);
  // A temp file consumed by an earlier attempt whose folder sync failed.
  if (tempFd < 0) {
    tempFd = OpenRegularAt(dirFd, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600, Links::One);
    if (tempFd < 0) {
      *error = "cannot create " + tempName + ": " + std::strerror(errno) + kept;
      return false;
    }
  }
  if (!journal::ReplaceFileAt(dirFd, &tempFd, tempName, journal::kRegistryName, mode, pieces,
                              &reason)) {
    *error = reason + kept;
    return false;
  }
  if (fresh) Replace(std::move(fresh));
  return true;
}

Registry::Registry() : impl_(std::make_unique<Impl>()) {}

Registry::~Registry() {
  // Without Close the journal stays, as after a crash: the next Open folds it.
  impl_->Unbind();
}

bool Registry::LoadText(std::string_view text, const std::string &name, std::string *error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (impl_->dirFd >= 0) {
    *error = name + ":1: the registry is bound to a machine folder; Close it first";
    return false;
  }
  auto doc = Document::Parse(std::string(text), name, error);
  if (!doc) return false;
  impl_->Replace(std::move(doc));
  return true;
}

std::string Registry::SaveText() const { return impl_->doc->SaveText(); }

bool Registry::LoadMachine(int machineDirFd, std::string *error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (impl_->dirFd >= 0) {
    *error = "the registry is bound to a machine folder; Close it first";
    return false;
  }
  std::string text, bytes;
  if (journal::ReadFileAt(machineDirFd, journal::kRegistryName, &text, nullptr, error) != 0)
    return false;
  auto doc = Document::Parse(std::move(text), journal::kRegistryName, error);
  if (!doc) return false;
  const int status =
      journal::ReadFileAt(machineDirFd, journal::kJournalName, &bytes, nullptr, error);
  if (status != 0 && status != ENOENT) return false;
  std::size_t validBytes = 0;
  ApplyRecords(*doc, journal::ReadRecords(bytes, &validBytes));
  impl_->Replace(std::move(doc));
  return true;
}

bool Registry::Open(int machineDirFd, std::string *error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (impl_->dirFd >= 0) {
    *error = "the registry is already bound to a machine folder";
    return false;
  }
  // Our own descriptor of the folder, usable for fsync whatever the caller's is.
  const int dirFd = ::openat(machineDirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    *error = std::string("cannot open the machine folder: ") + std::strerror(errno);
    return false;
  }
  int tempFd = -1;
  auto fail = [&](std::string reason) {
    if (tempFd >= 0) ::close(tempFd);
    ::close(dirFd);
    *error = std::move(reason);
    return false;
  };
  std::string text;
  std::string reason;
  if (journal::ReadFileAt(dirFd, journal::kRegistryName, &text, nullptr, &reason) != 0)
    return fail(reason);
  auto doc = Document::Parse(std::move(text), journal::kRegistryName, &reason);
  if (!doc) return fail(reason);

  auto journal = std::make_unique<journal::Journal>(dirFd);
  if (!journal->Load(&reason)) return fail(reason);
  ApplyRecords(*doc, journal->Records());
  // The fold's temporary file now, before any change: a name that cannot be
  // had must stop the run before it starts, not after its last step.
  journal::RemoveAbandonedTemps(dirFd);
  std::string tempName = journal::TempName();
  tempFd = OpenRegularAt(dirFd, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600, Links::One);
  if (tempFd < 0) return fail("cannot create " + tempName + ": " + std::strerror(errno));

  impl_->Replace(std::move(doc));
  impl_->dirFd = dirFd;
  impl_->journal = std::move(journal);
  impl_->tempFd = tempFd;
  impl_->tempName = std::move(tempName);
  impl_->unsaved = 0;
  impl_->unsavedReason.clear();
  return true;
}

bool Registry::Close(std::string *error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (impl_->dirFd < 0) return true;
  // A run that changed nothing (a declined one) never writes registry.reg;
  // records left by a crashed run are folded by whichever run comes next.
  if (!impl_->journal->Records().empty() && !impl_->Fold(error))
    return false;  // still bound: the journal keeps every change
  if (impl_->journal->Exists() && !impl_->journal->Remove(error)) return false;
  if (impl_->tempFd >= 0) ::unlinkat(impl_->dirFd, impl_->tempName.c_str(), 0);
  impl_->Unbind();
  return true;
}

LONG Registry::OpenKey(HKEY key, const char *subKey, PHKEY result) {
  if (!IsWellFormedKeyPath(subKey) || result == nullptr) return ERROR_INVALID_PARAMETER;
  Key *from;
  if (LONG status = impl_->Lookup(key, &from); status != ERROR_SUCCESS) return status;
  Key *target = (subKey == nullptr || *subKey == '\0') ? from : impl_->doc->Resolve(from, subKey);
  if (target == nullptr) return ERROR_FILE_NOT_FOUND;
  const std::uintptr_t value = impl_->nextHandle;
  impl_->nextHandle += 8;
  impl_->handles[value].key = target;
  *result = reinterpret_cast<HKEY>(value);
  return ERROR_SUCCESS;
}

LONG Registry::EnumKey(HKEY key, DWORD index, char *name, DWORD *nameChars) {
  Key *parent;
  if (LONG status = impl_->Lookup(key, &parent); status != ERROR_SUCCESS) return status;
  if (name == nullptr || nameChars == nullptr) return ERROR_INVALID_PARAMETER;
  const auto &children = impl_->doc->Children(parent);
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
  const regedit4::Value *value =
      impl_->doc->FindValue(owner, valueName == nullptr ? std::string_view() : valueName);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  // Data comes back as stored, as on Windows 98: a text value stored without
  // its terminator comes without one.
  const bool supplyTerminator = value->quoted;
  const std::size_t needed = value->data.size() + (supplyTerminator ? 1 : 0);
  if (type != nullptr) *type = value->type;
  if (data == nullptr) {
    if (dataBytes != nullptr) *dataBytes = static_cast<DWORD>(needed);
    return ERROR_SUCCESS;
  }
  if (needed > *dataBytes) {
    *dataBytes = static_cast<DWORD>(needed);
    return ERROR_MORE_DATA;
  }
  if (!value->data.empty()) std::memcpy(data, value->data.data(), value->data.size());
  if (supplyTerminator) data[value->data.size()] = '\0';
  *dataBytes = static_cast<DWORD>(needed);
  return ERROR_SUCCESS;
}

LONG Registry::DeleteKey(HKEY key, const char *subKey) {
  // Never delete through an empty path: that would be the key itself.
  if (subKey == nullptr || *subKey == '\0' || !IsWellFormedKeyPath(subKey))
    return ERROR_INVALID_PARAMETER;
  Key *from;
  if (LONG status = impl_->Lookup(key, &from); status != ERROR_SUCCESS) return status;
  Key *target = impl_->doc->Resolve(from, subKey);
  if (target == nullptr) return ERROR_FILE_NOT_FOUND;
  if (target->parent == nullptr) return ERROR_ACCESS_DENIED;  // a root: cannot happen
  if (impl_->journal) {
    std::string reason;
    if (!impl_->journal->Append(Document::PathOf(target), &reason)) {
      ++impl_->unsaved;
      impl_->unsavedReason = std::move(reason);
      return ERROR_WRITE_FAULT;
    }
  }
  impl_->doc->Remove(target);
  return ERROR_SUCCESS;
}

LONG Registry::CloseKey(HKEY key) {
  RootId root;
  if (PredefinedRoot(key, &root)) return ERROR_SUCCESS;
  return impl_->handles.erase(reinterpret_cast<std::uintptr_t>(key)) != 0 ? ERROR_SUCCESS
                                                                          : ERROR_INVALID_HANDLE;
}

std::string Registry::PathOf(HKEY key) const {
  RootId root;
  if (PredefinedRoot(key, &root)) return std::string(regedit4::RootName(root));
  auto it = impl_->handles.find(reinterpret_cast<std::uintptr_t>(key));
  if (it == impl_->handles.end()) return {};
  if (it->second.key == nullptr) return it->second.stalePath;
  return Document::PathOf(it->second.key);
}

std::size_t Registry::OpenHandleCount() const { return impl_->handles.size(); }

bool Registry::KeyExists(std::string_view fullPath) const {
  return impl_->doc->FindPath(fullPath) != nullptr;
}

bool Registry::IsOpen() const { return impl_->dirFd >= 0; }

std::string Registry::Canonical() const { return impl_->doc->Canonical(); }

std::string Registry::UnsavedNotice() const {
  if (impl_->unsaved == 0) return {};
  return std::to_string(impl_->unsaved) + " registry change" + (impl_->unsaved == 1 ? "" : "s") +
         " could not be saved (" + impl_->unsavedReason + ")";
}

}  // namespace hosted
