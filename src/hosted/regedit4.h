// REGEDIT4 documents: a registry tree parsed from REGEDIT4 text, kept with
// that text. Saving writes the header and each section line's segment in
// file order, leaving out the sections of removed keys (the only change):
// an unchanged document saves its bytes, and load(save(x)) == x. Deletion
// lines ("[-HKEY_...]") are refused: regedit of Windows 95/98 exports none.
// Loading n bytes costs O(n log n) at worst, whatever their shape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hosted/text_helpers.h"

namespace hosted::regedit4 {

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

// "HKEY_LOCAL_MACHINE" for RootId::LocalMachine.
std::string_view RootName(RootId root);

inline constexpr std::uint32_t kNoValue = 0xFFFFFFFFu;

struct Value {
  std::string_view name;  // "" for the default value
  std::string_view data;  // the bytes stored (text without a terminator for "..." values)
  std::uint32_t type = 0;
  bool quoted = false;            // "...": stored with a terminator that data leaves out
  std::uint32_t next = kNoValue;  // next value of the same key, in file order
};

struct Key {
  std::string_view name;        // the root's full name for a root
  Key *parent = nullptr;        // kept when the key is removed
  std::vector<Key *> children;  // the live ones, sorted by CompareNames
  std::uint32_t firstValue = kNoValue;
  std::uint32_t lastValue = kNoValue;
  bool deleted = false;              // removed, with its subtree, by Remove()
  mutable bool coveredMark = false;  // scratch mark of Document::Save
};

class Document {
 public:
  // An empty registry: every root present, text "REGEDIT4\r\n\r\n".
  Document();

  // Null on failure, with *error "NAME:LINE: reason".
  static std::unique_ptr<Document> Parse(std::string text, const std::string &name,
                                         std::string *error);

  Key *Root(RootId root) const { return roots_[static_cast<std::size_t>(root)]; }
  // The live children of a live key, in enumeration order.
  const std::vector<Key *> &Children(const Key *key) const { return key->children; }
  // The live key at `relative` ("A\B\C") below `from`; null when missing or
  // malformed.
  Key *Resolve(Key *from, std::string_view relative) const;
  // The same for a full path with its root name.
  Key *FindPath(std::string_view fullPath) const;
  // The value named `name` ("" for the default), the last of that name.
  const Value *FindValue(const Key *key, std::string_view name) const;
  // The values of a key in file order, repeated names included.
  const Value *FirstValue(const Key *key) const { return ValueAt(key->firstValue); }
  const Value *NextValue(const Value *value) const { return ValueAt(value->next); }

  // "HKEY_LOCAL_MACHINE\A\B", with the names as stored.
  static std::string PathOf(const Key *key);
  // True when the key or one of its ancestors has been removed.
  static bool IsDeleted(const Key *key);

  // Removes a live, non-root key with its whole subtree.
  void Remove(Key *key);

  // The document as REGEDIT4 text: pieces of the original text, then maybe
  // *extra (which must outlive them): section lines of the live keys that
  // only removed sections created implicitly.
  void Save(std::vector<std::string_view> *pieces, std::string *extra) const;

  std::string_view Text() const { return text_; }

 private:
  friend class Parser;
  struct Segment {
    std::size_t begin;
    std::size_t end;
    const Key *key;  // null for the header
  };
  const Value *ValueAt(std::uint32_t index) const {
    return index == kNoValue ? nullptr : &values_[index];
  }
  Key *NewKey(std::string_view name, Key *parent);

  std::string text_;
  std::unique_ptr<char[]> arena_;  // decoded names and data, never reallocated
  std::size_t arenaUsed_ = 0;
  std::deque<Key> keys_;
  std::vector<Value> values_;
  std::vector<Segment> segments_;
  Key *roots_[kRootCount] = {};
  std::vector<Key *> orphanCandidates_;  // parents of keys removed after loading
};

}  // namespace hosted::regedit4
