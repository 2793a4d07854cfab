#include "hosted/tree.h"

#include <algorithm>

#include "hosted/text_helpers.h"

namespace hosted {

namespace {

constexpr std::string_view kRootNames[kRootCount] = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
    "HKEY_USERS",        "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};

}  // namespace

Tree::Tree() {
  for (std::size_t i = 0; i < kRootCount; ++i) roots_[i] = AddKey(nullptr, kRootNames[i]);
}

Key *Tree::AddKey(Key *parent, std::string_view name) {
  Key &key = keys_.emplace_back();
  key.name = name;
  key.parent = parent;
  key.id = static_cast<std::uint32_t>(keys_.size() - 1);
  if (parent != nullptr) parent->children.push_back(&key);
  return &key;
}

void Tree::AddValue(Key *key, const Value &value) {
  const auto index = static_cast<std::uint32_t>(values_.size());
  values_.push_back(value);
  values_.back().next = kNoValue;
  if (key->lastValue == kNoValue) {
    key->firstValue = index;
  } else {
    values_[key->lastValue].next = index;
  }
  key->lastValue = index;
}

void Tree::SortChildren() {
  auto byName = [](const Key *a, const Key *b) { return CompareNames(a->name, b->name) < 0; };
  for (Key &key : keys_)
    if (!std::is_sorted(key.children.begin(), key.children.end(), byName))
      std::sort(key.children.begin(), key.children.end(), byName);
}

Key *Tree::Resolve(Key *from, std::string_view relative) const {
  std::vector<std::string_view> names;
  if (!SplitNames(relative, &names)) return nullptr;
  auto before = [](const Key *key, std::string_view name) {
    return CompareNames(key->name, name) < 0;
  };
  for (std::string_view name : names) {
    const auto &children = from->children;
    auto it = std::lower_bound(children.begin(), children.end(), name, before);
    if (it == children.end() || CompareNames((*it)->name, name) != 0) return nullptr;
    from = *it;
  }
  return from;
}

Key *Tree::FindPath(std::string_view fullPath) const {
  const std::size_t slash = fullPath.find('\\');
  for (Key *root : roots_)
    if (NamesEqual(fullPath.substr(0, slash), root->name))
      return slash == std::string_view::npos ? root : Resolve(root, fullPath.substr(slash + 1));
  return nullptr;
}

const Value *Tree::FindValue(const Key *key, std::string_view name) const {
  const Value *found = nullptr;
  for (const Value *value = FirstValue(key); value != nullptr; value = NextValue(value))
    if (NamesEqual(value->name, name)) found = value;
  return found;
}

std::string Tree::PathOf(const Key *key) {
  std::string path(key->name);
  for (const Key *k = key->parent; k != nullptr; k = k->parent)
    path = std::string(k->name) + '\\' + path;
  return path;
}

bool Tree::IsDeleted(const Key *key) {
  for (const Key *k = key; k != nullptr; k = k->parent)
    if (k->deleted) return true;
  return false;
}

void Tree::Remove(Key *key) {
  if (key->parent == nullptr || IsDeleted(key)) return;
  key->deleted = true;
  auto &siblings = key->parent->children;
  siblings.erase(std::find(siblings.begin(), siblings.end(), key));
  removed_.push_back(key);
}

}  // namespace hosted
