// SYSTEM.DAT, the binary registry file of Windows 95, 98 and Me ("CREG"):
// the whole file checked at once, its key tree, and the in-place writes
// that delete a key with its subtree as Windows itself frees them.
//
// Layout (little-endian; RGKN offsets count from the RGKN header at 0x20,
// data block offsets from the block's start):
//   file header   "CREG", u16 0, u16 1, @8 first data block, @16 u16 block
//                 count; the other words are kept as they are
//   RGKN header   "RGKN", @4 area size, @8 root entry, @12 head of the free
//                 entries; @16 and @20 kept
//   key entry     28 bytes on a grid (291 in the first 8 KiB, then 146 per
//                 4 KiB page): @4 hash, @8 kept, @12 parent, @16 first
//                 subkey, @20 next sibling (-1 for none), @24 u16 record id,
//                 @26 u16 block number
//   free entry    0x80000000, run length in bytes, next free run
//   data block    "RGDB", @4 size, @8 bytes in listed free records, @14 u16
//                 number, @16 first free record, @20 u16 highest id, @22
//                 u16 lowest unused id; records tile it from 0x20
//   key record    size, u16 id, u16 block, used size, u16 name length, u16
//                 value count, 0, name, values (type, kept word, u16 name
//                 length, u16 data length, name, data)
//   free record   size, id 0xffff, block 0xffff, next free record
//
// Space that is neither in use nor on a free list (an entry or record that a
// deletion unlinked and had not yet freed when it was cut short) is leaked,
// not malformed: the file reads without it. Hive::FinishDelete frees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hosted::creg {

struct Value {
  std::uint32_t type = 0;
  std::string name;  // "" for the default value
  std::string data;  // as stored: REG_SZ without a terminator, as Windows writes it
};

struct Key {
  std::uint32_t id = 0;      // its entry's RGKN offset: fixed for the file's life
  std::size_t record = 0;    // its record's file offset; 0 for the root
  std::string name;      // "" for the root
  std::vector<Value> values;
  std::vector<std::size_t> children;  // indexes into Hive::Keys(), in chain order
};

// One in-place change of the file: bytes to write at a file offset.
struct Write {
  std::size_t offset = 0;
  std::string bytes;
  bool operator==(const Write &) const = default;
};

constexpr std::uint32_t kNone = 0xFFFFFFFFu;  // no link
constexpr std::uint32_t kFreeMark = 0x80000000u;
constexpr std::uint16_t kNoRecord = 0xFFFFu;  // a free record's id and block; the root's
constexpr std::size_t kFileHeader = 0x20;     // also where the RGKN area starts
constexpr std::uint32_t kRgknHeader = 0x20;
constexpr std::uint32_t kEntrySize = 28;
constexpr std::uint32_t kFirstRegion = 0x2000;  // 291 entries after the RGKN header
constexpr std::uint32_t kPage = 0x1000;         // 146 entries each
constexpr std::uint32_t kBlockHeader = 0x20;
constexpr std::uint32_t kRecordHeader = 20;
constexpr std::uint32_t kValueHeader = 12;

// A word as the file stores it (little-endian), and read back from bytes
// that hold it whole.
std::string Le32(std::uint32_t v);
std::string Le16(std::uint16_t v);
std::uint32_t U32At(std::string_view bytes, std::size_t offset);
std::uint16_t U16At(std::string_view bytes, std::size_t offset);
// Names as the file's hashes see them: ASCII letters without case.
char Upper(char c);
bool SameName(std::string_view a, std::string_view b);

// The hash an entry keeps of its key's name: the sum of its bytes below 0x80,
// upper-cased.
std::uint32_t NameHash(std::string_view name);
// The entry grid: whether an RGKN offset is an entry's place in an area of
// areaSize bytes, and the next place after one (areaSize when none is left).
bool IsEntrySlot(std::uint32_t offset, std::uint32_t areaSize);
std::uint32_t NextEntrySlot(std::uint32_t offset, std::uint32_t areaSize);

class Hive {
 public:
  // Checks the whole file before anything follows a link of it; nothing on
  // failure, with *error "NAME: offset 0xNNNN: reason" (a file offset).
  // A file holding HKEY_USERS (USER.DAT: a root with ".DEFAULT") is refused.
  static std::optional<Hive> Parse(std::string bytes, std::string_view name, std::string *error);

  // The live keys as parsed, the root first and each parent before its
  // subkeys. Deletions do not change this list.
  const std::vector<Key> &Keys() const { return keys_; }
  // The file as it stands, every write so far applied.
  const std::string &Bytes() const { return bytes_; }

  // Deletes a live key (not the root) with its subtree: appends to *writes,
  // in the order they must reach the disk, an aligned 4-byte unlink from its
  // parent's chain, then for each key of the subtree, parents first, the
  // freeing of its record and of its entry; applies them here. Every state
  // between two writes reads, the deleted keys leaked until freed. False,
  // and no write, for the root or a key that is not live.
  bool Delete(std::uint32_t id, std::vector<Write> *writes);
  // Finishes the deletion of parent's subkey `name` that a run cut short
  // after its unlink (the run's journal names it): appends the writes that
  // remain, the same as the whole deletion would have made from there, and
  // applies them. Nothing to append when it was finished or never begun.
  // False when parent is not live, or more than one unlinked subtree below
  // it could be that key.
  bool FinishDelete(std::uint32_t parentId, std::string_view name, std::vector<Write> *writes);

 private:
  struct Block {
    std::uint32_t offset = 0;  // file offset
    std::uint32_t size = 0;
  };
  Hive() = default;
  bool Load(std::string_view name, std::string *error);
  std::uint32_t U32(std::size_t offset) const;
  std::uint16_t U16(std::size_t offset) const;
  void Put(std::vector<Write> *writes, std::size_t offset, std::string bytes);
  const Block *BlockNumbered(std::uint16_t number) const;
  std::vector<std::uint32_t> Subtree(std::uint32_t top) const;
  bool EntryListed(std::uint32_t entry) const;
  bool RecordListed(const Block &block, std::uint32_t record) const;
  std::optional<std::uint32_t> RecordToFree(std::uint32_t entry) const;
  void FreeKey(std::uint32_t entry, std::vector<Write> *writes);

  std::string bytes_;
  std::vector<Key> keys_;
  std::vector<std::uint32_t> parents_;  // each key's parent's id, by index
  std::vector<bool> live_;              // by entry slot
  std::vector<Block> blocks_;           // by block number
};

}  // namespace hosted::creg
