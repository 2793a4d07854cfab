#include "hosted/creg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hosted::creg {

namespace {

// The smallest record this reader takes: a free one's links and the name
// length and value count that freeing clears.
constexpr std::uint32_t kSmallestRecord = 16;

// Collects the first failure of a check, as "NAME: offset 0xNNNN: reason".
struct Failure {
  std::string_view file;
  std::string *error;
  bool Fail(std::size_t offset, const std::string &reason) const {
    char where[32];
    std::snprintf(where, sizeof where, ": offset 0x%04zx: ", offset);
    *error = std::string(file) + where + reason;
    return false;
  }
};

}  // namespace

std::string Le32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}
std::string Le16(std::uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

std::uint32_t NameHash(std::string_view name) {
  std::uint32_t hash = 0;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x80) hash += static_cast<unsigned char>(Upper(c));
  return hash;
}

bool IsEntrySlot(std::uint32_t offset, std::uint32_t areaSize) {
  if (offset < kRgknHeader || offset > areaSize || areaSize - offset < kEntrySize) return false;
  if (offset < kFirstRegion) return (offset - kRgknHeader) % kEntrySize == 0;
  std::uint32_t inPage = offset % kPage;
  return inPage % kEntrySize == 0 && inPage + kEntrySize <= kPage;
}

std::uint32_t NextEntrySlot(std::uint32_t offset, std::uint32_t areaSize) {
  std::uint32_t next = offset + kEntrySize;
  if (!IsEntrySlot(next, areaSize)) next = (offset < kFirstRegion ? kFirstRegion : offset / kPage * kPage + kPage);
  return IsEntrySlot(next, areaSize) ? next : areaSize;
}

std::uint32_t U32At(std::string_view bytes, std::size_t offset) {
  std::uint32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;  // little-endian hosts only, as the rest of the hosted build
}
std::uint16_t U16At(std::string_view bytes, std::size_t offset) {
  std::uint16_t v;
  std::memcpy(&v, bytes.data() + offset, 2);
  return v;
}

std::uint32_t Hive::U32(std::size_t offset) const { return U32At(bytes_, offset); }
std::uint16_t Hive::U16(std::size_t offset) const { return U16At(bytes_, offset); }

std::optional<Hive> Hive::Parse(std::string bytes, std::string_view name, std::string *error) {
  Hive hive;
  hive.bytes_ = std::move(bytes);
  if (!hive.Load(name, error)) return std::nullopt;
  return hive;
}

// Every offset and length is checked before it is followed; the reasons
// name what disagrees, at the file offset where it was found.
bool Hive::Load(std::string_view name, std::string *error) {
  const Failure bad{name, error};
  const std::size_t size = bytes_.size();
  if (size < kFileHeader + kRgknHeader) return bad.Fail(0, "cut short: no room for the headers");
  if (bytes_.compare(0, 4, "CREG") != 0) return bad.Fail(0, "not a CREG registry file");
  if (U16(4) != 0 || U16(6) != 1) return bad.Fail(4, "version is not CREG 1.0");
  if (bytes_.compare(kFileHeader, 4, "RGKN") != 0) return bad.Fail(kFileHeader, "no RGKN header");
  const std::uint32_t area = U32(kFileHeader + 4);
  if (area < kFirstRegion || area % kPage != 0)
    return bad.Fail(kFileHeader + 4, "RGKN size is not a whole number of pages");
  if (area > size - kFileHeader) return bad.Fail(kFileHeader + 4, "cut short: RGKN area runs past the end");
  if (U32(8) != kFileHeader + area) return bad.Fail(8, "first data block disagrees with the RGKN size");

  // Data blocks: they tile the rest of the file; records tile each block.
  const std::uint16_t count = U16(16);
  blocks_.assign(count, Block{});
  std::vector<std::vector<std::uint32_t>> records(count);  // used records' offsets by id
  std::size_t at = kFileHeader + area;
  for (std::uint16_t i = 0; i < count; ++i) {
    if (size - at < kBlockHeader) return bad.Fail(at, "cut short: data block missing");
    if (bytes_.compare(at, 4, "RGDB") != 0) return bad.Fail(at, "no RGDB header");
    const std::uint32_t blockSize = U32(at + 4);
    if (blockSize < kPage || blockSize % kPage != 0)
      return bad.Fail(at + 4, "data block size is not a whole number of pages");
    if (blockSize > size - at) return bad.Fail(at + 4, "cut short: data block runs past the end");
    const std::uint16_t number = U16(at + 14);
    if (number >= count || blocks_[number].size != 0)
      return bad.Fail(at + 14, "data block number out of range or repeated");
    blocks_[number] = {static_cast<std::uint32_t>(at), blockSize};
    std::vector<std::uint32_t> &byId = records[number];
    byId.assign(U16(at + 20) + 1u, kNone);
    std::vector<std::uint32_t> freeRecords;
    for (std::uint32_t r = kBlockHeader; r != blockSize;) {
      const std::size_t rec = at + r;
      if (blockSize - r < kSmallestRecord) return bad.Fail(rec, "record header runs past its block");
      const std::uint32_t recSize = U32(rec);
      if (recSize < kSmallestRecord || recSize > blockSize - r)
        return bad.Fail(rec, "record size out of range");
      const std::uint16_t id = U16(rec + 4);
      if (id == kNoRecord) {
        if (U16(rec + 6) != kNoRecord) return bad.Fail(rec + 6, "free record's block is not 0xffff");
        freeRecords.push_back(r);
      } else {
        if (U16(rec + 6) != number) return bad.Fail(rec + 6, "record's block number disagrees with its block");
        if (id >= byId.size()) return bad.Fail(rec + 4, "record id above the block's highest id");
        if (byId[id] != kNone) return bad.Fail(rec + 4, "record id repeated in its block");
        byId[id] = r;
        const std::uint32_t used = U32(rec + 8);
        if (used > recSize || used < kRecordHeader + U16(rec + 12))
          return bad.Fail(rec + 8, "used size out of range");
        std::uint32_t p = kRecordHeader + U16(rec + 12);
        for (std::uint16_t v = 0; v < U16(rec + 14); ++v) {
          if (used - p < kValueHeader) return bad.Fail(rec + p, "value runs past its record");
          const std::uint32_t length = kValueHeader + U16(rec + p + 8) + U16(rec + p + 10);
          if (used - p < length) return bad.Fail(rec + p, "value runs past its record");
          p += length;
        }
        if (p != used) return bad.Fail(rec + 8, "used size disagrees with the record's name and values");
      }
      r += recSize;
    }
    // The free list: listed records are free, each once; their sizes add up
    // to the header's count. A free record left off it is leaked space.
    std::uint32_t listed = 0;
    std::vector<bool> seen(freeRecords.size());
    for (std::uint32_t link = U32(at + 16), from = at + 16; link != kNone; link = U32(at + link + 8)) {
      auto it = std::lower_bound(freeRecords.begin(), freeRecords.end(), link);
      if (it == freeRecords.end() || *it != link) return bad.Fail(from, "free record link out of range");
      if (seen[it - freeRecords.begin()]) return bad.Fail(from, "free record list has a cycle");
      seen[it - freeRecords.begin()] = true;
      listed += U32(at + link);
      from = at + link + 8;
    }
    if (listed != U32(at + 8)) return bad.Fail(at + 8, "free bytes disagree with the block's free records");
    at += blockSize;
  }
  if (at != size) return bad.Fail(at, "file size disagrees with its data blocks");

  // Free entry runs: each on the grid and marked free, none over another.
  std::vector<std::uint8_t> state(area / 4, 0);  // by RGKN offset / 4
  enum : std::uint8_t { kFree = 1, kKey = 2, kListed = 3 };  // kListed: a run's first entry
  for (std::uint32_t link = U32(kFileHeader + 12), from = kFileHeader + 12; link != kNone;
       link = U32(kFileHeader + link + 8)) {
    if (!IsEntrySlot(link, area)) return bad.Fail(from, "free entry link out of range");
    const std::size_t entry = kFileHeader + link;
    if (state[link / 4] == kListed) return bad.Fail(from, "free entry list has a cycle");
    if (state[link / 4] == kFree) return bad.Fail(from, "free runs overlap");
    if (U32(entry) != kFreeMark) return bad.Fail(entry, "listed free entry is not marked free");
    const std::uint32_t length = U32(entry + 4);
    if (length < kEntrySize || length > area - link) return bad.Fail(entry + 4, "free run length out of range");
    for (std::uint32_t s = link; s < link + length; s = NextEntrySlot(s, area)) {
      if (state[s / 4] != 0) return bad.Fail(entry + 4, "free runs overlap");
      state[s / 4] = s == link ? kListed : kFree;
    }
    from = entry + 8;
  }

  // The key tree from the root, each parent before its subkeys.
  const std::uint32_t root = U32(kFileHeader + 8);
  if (!IsEntrySlot(root, area)) return bad.Fail(kFileHeader + 8, "root entry out of range");
  const std::size_t rootEntry = kFileHeader + root;
  if (state[root / 4] != 0 || U32(rootEntry) == kFreeMark) return bad.Fail(rootEntry, "root entry is free");
  if (U32(rootEntry + 12) != kNone || U16(rootEntry + 24) != kNoRecord || U16(rootEntry + 26) != kNoRecord ||
      U32(rootEntry + 4) != 0)
    return bad.Fail(rootEntry, "root entry has a parent, a record or a hash");
  state[root / 4] = kKey;
  keys_.push_back(Key{root, 0, {}, {}, {}});
  for (std::size_t k = 0; k < keys_.size(); ++k) {
    const std::uint32_t parent = keys_[k].id;
    for (std::uint32_t link = U32(kFileHeader + parent + 16), from = kFileHeader + parent + 16; link != kNone;
         link = U32(kFileHeader + link + 20)) {
      if (!IsEntrySlot(link, area)) return bad.Fail(from, "key link out of range");
      const std::size_t entry = kFileHeader + link;
      if (state[link / 4] == kKey) return bad.Fail(from, "key links form a cycle");
      if (state[link / 4] != 0 || U32(entry) == kFreeMark) return bad.Fail(from, "key link to a free entry");
      if (U32(entry + 12) != parent) return bad.Fail(entry + 12, "parent link disagrees with the key's chain");
      const std::uint16_t id = U16(entry + 24), number = U16(entry + 26);
      if (number >= count || id >= records[number].size() || records[number][id] == kNone)
        return bad.Fail(entry + 24, "key's record missing from its data block");
      const std::size_t rec = blocks_[number].offset + records[number][id];
      records[number][id] = kNone;  // a second key naming it finds it missing
      Key key{link, rec, bytes_.substr(rec + kRecordHeader, U16(rec + 12)), {}, {}};
      if (NameHash(key.name) != U32(entry + 4)) return bad.Fail(entry + 4, "hash disagrees with the key's name");
      std::size_t p = rec + kRecordHeader + key.name.size();
      for (std::uint16_t v = 0; v < U16(rec + 14); ++v) {
        const std::uint16_t nameLength = U16(p + 8), dataLength = U16(p + 10);
        key.values.push_back(
            {U32(p), bytes_.substr(p + kValueHeader, nameLength), bytes_.substr(p + kValueHeader + nameLength, dataLength)});
        p += kValueHeader + nameLength + dataLength;
      }
      if (k == 0 && SameName(key.name, ".DEFAULT"))
        return bad.Fail(entry, "holds HKEY_USERS (a .DEFAULT key), not HKEY_LOCAL_MACHINE");
      state[link / 4] = kKey;
      keys_[k].children.push_back(keys_.size());
      keys_.push_back(std::move(key));
      from = entry + 20;
    }
  }
  live_.assign(area / 4, false);
  for (const Key &key : keys_) live_[key.id / 4] = true;
  return true;
}

void Hive::Put(std::vector<Write> *writes, std::size_t offset, std::string bytes) {
  bytes_.replace(offset, bytes.size(), bytes);
  writes->push_back({offset, std::move(bytes)});
}

const Hive::Block *Hive::BlockNumbered(std::uint16_t number) const {
  return number < blocks_.size() ? &blocks_[number] : nullptr;
}

// The subtree below top, parents first, each chain in order, through the
// links a freed entry keeps (parent, first subkey, next): a link is followed
// only to an entry that names the one it came from as its parent and is live
// exactly when top is, so a walk of leaked keys never enters the live tree.
std::vector<std::uint32_t> Hive::Subtree(std::uint32_t top) const {
  const std::uint32_t area = U32(kFileHeader + 4);
  std::vector<bool> seen(area / 4, false);
  std::vector<std::uint32_t> order, stack{top};
  seen[top / 4] = true;
  while (!stack.empty()) {
    const std::uint32_t key = stack.back();
    stack.pop_back();
    order.push_back(key);
    std::vector<std::uint32_t> chain;
    for (std::uint32_t link = U32(kFileHeader + key + 16);
         IsEntrySlot(link, area) && !seen[link / 4] && live_[link / 4] == live_[top / 4] &&
         U32(kFileHeader + link + 12) == key;
         link = U32(kFileHeader + link + 20)) {
      seen[link / 4] = true;
      chain.push_back(link);
    }
    stack.insert(stack.end(), chain.rbegin(), chain.rend());
  }
  return order;
}

bool Hive::EntryListed(std::uint32_t entry) const {
  for (std::uint32_t link = U32(kFileHeader + 12); link != kNone; link = U32(kFileHeader + link + 8))
    if (entry >= link && entry - link < U32(kFileHeader + link + 4)) return true;
  return false;
}

bool Hive::RecordListed(const Block &block, std::uint32_t record) const {
  for (std::uint32_t link = U32(block.offset + 16); link != kNone; link = U32(block.offset + link + 8))
    if (link == record) return true;
  return false;
}

// The record a key in use still holds: its own, in use, or, when a cut-short
// run had marked it free but not yet listed it, the block's unlisted free one.
std::optional<std::uint32_t> Hive::RecordToFree(std::uint32_t entry) const {
  const Block *block = BlockNumbered(U16(kFileHeader + entry + 26));
  if (block == nullptr) return std::nullopt;
  std::optional<std::uint32_t> unlisted;
  for (std::uint32_t r = kBlockHeader; r < block->size; r += U32(block->offset + r)) {
    const std::uint16_t id = U16(block->offset + r + 4);
    if (id == U16(kFileHeader + entry + 24)) return r;
    if (id == kNoRecord && !unlisted && !RecordListed(*block, r)) unlisted = r;
  }
  return unlisted;
}

// Frees one key as Windows does: its record (marked free, linked as the
// block's newest free record, the header's counts updated in one write),
// then its entry (marked free, pushed on the free entries). Each step that a
// cut-short run already made is found done, or made again with the same
// bytes, so a finished deletion ends as an unbroken one.
void Hive::FreeKey(std::uint32_t entry, std::vector<Write> *writes) {
  if (EntryListed(entry)) return;
  const std::size_t at = kFileHeader + entry;
  if (U32(at) != kFreeMark) {
    const std::uint16_t id = U16(at + 24);
    const Block *block = BlockNumbered(U16(at + 26));
    if (std::optional<std::uint32_t> record = RecordToFree(entry)) {
      const std::size_t rec = block->offset + *record;
      Put(writes, rec + 4, Le16(kNoRecord) + Le16(kNoRecord));
      // libcreg reads a free record's link as its used size; cleared name
      // length and value count keep its export going.
      Put(writes, rec + 8, Le32(U32(block->offset + 16)) + Le16(0) + Le16(0));
      Put(writes, block->offset + 8,
          Le32(U32(block->offset + 8) + U32(rec)) + bytes_.substr(block->offset + 12, 4) + Le32(*record) +
              bytes_.substr(block->offset + 20, 2) + Le16(std::min(U16(block->offset + 22), id)));
    }
  }
  Put(writes, at, Le32(kFreeMark) + Le32(kEntrySize) + Le32(U32(kFileHeader + 12)));
  Put(writes, kFileHeader + 12, Le32(entry));
}

bool Hive::Delete(std::uint32_t id, std::vector<Write> *writes) {
  const std::uint32_t area = U32(kFileHeader + 4);
  if (!IsEntrySlot(id, area) || !live_[id / 4] || id == keys_.front().id) return false;
  const std::uint32_t parent = U32(kFileHeader + id + 12);
  std::size_t link = kFileHeader + parent + 16;
  while (U32(link) != id) link = kFileHeader + U32(link) + 20;
  const std::vector<std::uint32_t> subtree = Subtree(id);
  Put(writes, link, Le32(U32(kFileHeader + id + 20)));
  for (std::uint32_t key : subtree) live_[key / 4] = false;
  for (std::uint32_t key : subtree) FreeKey(key, writes);
  return true;
}

bool Hive::FinishDelete(std::uint32_t parentId, std::string_view name, std::vector<Write> *writes) {
  const std::uint32_t area = U32(kFileHeader + 4);
  if (!IsEntrySlot(parentId, area) || !live_[parentId / 4]) return false;
  std::optional<std::vector<std::uint32_t>> found;
  for (std::uint32_t slot = kRgknHeader; slot < area; slot = NextEntrySlot(slot, area)) {
    const std::size_t at = kFileHeader + slot;
    if (live_[slot / 4] || U32(at + 12) != parentId) continue;
    // An entry still in use keeps its name's hash, and its record the name.
    if (U32(at) != kFreeMark) {
      if (U32(at + 4) != NameHash(name)) continue;
      std::optional<std::uint32_t> record = RecordToFree(slot);
      const Block *block = BlockNumbered(U16(at + 26));
      if (record && U16(block->offset + *record + 4) != kNoRecord &&
          !SameName(std::string_view(bytes_).substr(block->offset + *record + kRecordHeader,
                                                    U16(block->offset + *record + 12)),
                    name))
        continue;
    }
    std::vector<std::uint32_t> subtree = Subtree(slot);
    if (std::all_of(subtree.begin(), subtree.end(), [this](std::uint32_t key) { return EntryListed(key); }))
      continue;
    if (found) return false;
    found = std::move(subtree);
  }
  if (found)
    for (std::uint32_t key : *found) FreeKey(key, writes);
  return true;
}

}  // namespace hosted::creg
