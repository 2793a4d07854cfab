// The registry of the hosted machine in memory: keys, values, lookup,
// removal and the path of a key. It knows no file format: a store (store.h)
// fills it from a file and writes its removals back. Names and data are
// views into memory the store that filled it keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace hosted {

// The predefined roots, in the order HKEY values and saving use.
enum class RootId : std::uint8_t {
  ClassesRoot,
  CurrentUser,
  LocalMachine,
  Users,
  CurrentConfig,
  DynData,
};
inline constexpr std::size_t kRootCount = 6;

inline constexpr std::uint32_t kNoValue = 0xFFFFFFFFu;

struct Value {
  std::string_view name;  // "" for the default value
  std::string_view data;  // the bytes stored
  std::uint32_t type = 0;
  bool terminated = false;        // text stored with a terminator that data leaves out
  std::uint32_t next = kNoValue;  // next value of the same key, in the file's order
};

struct Key {
  std::string_view name;        // the root's full name for a root
  Key *parent = nullptr;        // kept when the key is removed
  std::vector<Key *> children;  // the live ones, sorted by CompareNames once loaded
  std::uint32_t firstValue = kNoValue;
  std::uint32_t lastValue = kNoValue;
  std::uint32_t id = 0;  // its place in the tree, for a store's tables
  bool deleted = false;  // removed, with its subtree, by Remove()
};

class Tree {
 public:
  // Every root present, nothing else.
  Tree();
  Tree(const Tree &) = delete;
  Tree &operator=(const Tree &) = delete;

  // Loading: a new child at the end of its parent's children, a value at the
  // end of its key's, and the children put in enumeration order once.
  Key *AddKey(Key *parent, std::string_view name);
  void AddValue(Key *key, const Value &value);
  // Room for that many values before the table grows.
  void ReserveValues(std::size_t count) { values_.reserve(count); }
  void SortChildren();

  Key *Root(RootId root) const { return roots_[static_cast<std::size_t>(root)]; }
  std::size_t KeyCount() const { return keys_.size(); }
  // The live key at `relative` ("A\B\C") below `from`; null when missing or
  // malformed.
  Key *Resolve(Key *from, std::string_view relative) const;
  // The same for a full path with its root name.
  Key *FindPath(std::string_view fullPath) const;
  // The value named `name` ("" for the default), the last of that name.
  const Value *FindValue(const Key *key, std::string_view name) const;
  // The values of a key in the file's order, repeated names included.
  const Value *FirstValue(const Key *key) const { return ValueAt(key->firstValue); }
  const Value *NextValue(const Value *value) const { return ValueAt(value->next); }

  // "HKEY_LOCAL_MACHINE\A\B", with the names as stored.
  static std::string PathOf(const Key *key);
  // True when the key or one of its ancestors has been removed.
  static bool IsDeleted(const Key *key);

  // Removes a live, non-root key with its whole subtree.
  void Remove(Key *key);
  // The keys Remove took, in order: what a store writes back.
  const std::vector<const Key *> &Removed() const { return removed_; }

 private:
  const Value *ValueAt(std::uint32_t index) const {
    return index == kNoValue ? nullptr : &values_[index];
  }

  std::deque<Key> keys_;
  std::vector<Value> values_;
  Key *roots_[kRootCount] = {};
  std::vector<const Key *> removed_;
};

}  // namespace hosted
