// The SYSTEM.DAT reader on arbitrary bytes. A file that is refused gets
// "NAME: offset 0xNNNN: reason" with the offset inside the file. A file that
// is taken keeps doing so through any deletion: deleting any key leaves a
// file of the same size that reads as the same keys less exactly that
// subtree (the others at the same entries and records), every state between
// two of its writes reads as the end does, each write lies in what the
// deletion frees, and, for one key, a next run that finishes the deletion
// from any of those states ends at the unbroken run's bytes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "hosted/creg.h"

using hosted::creg::Hive;
using hosted::creg::Key;
using hosted::creg::Write;

namespace {

using hosted::creg::kFileHeader;
using hosted::creg::kNone;
using hosted::creg::kNoRecord;
using hosted::creg::U16At;
using hosted::creg::U32At;

constexpr std::size_t kMostDeletions = 64;  // keys deleted per input, spread over the file

// Whether a block holds a free record that its free list leaves out, as a
// deletion cut short leaves one: a finish cannot tell that one from its own.
bool LeaksRecords(const std::string &bytes) {
  for (std::size_t block = U32At(bytes, 8); block < bytes.size();
       block += U32At(bytes, block + 4)) {
    std::set<std::uint32_t> listed;
    for (std::uint32_t link = U32At(bytes, block + 16); link != kNone;
         link = U32At(bytes, block + link + 8))
      listed.insert(link);
    for (std::uint32_t r = hosted::creg::kBlockHeader; r < U32At(bytes, block + 4);
         r += U32At(bytes, block + r))
      if (U16At(bytes, block + r + 4) == kNoRecord && listed.count(r) == 0) return true;
  }
  return false;
}

void CheckRefusal(std::size_t size, const std::string &error) {
  constexpr std::string_view kPrefix = "f.dat: offset 0x";
  FUZZ_CHECK(error.starts_with(kPrefix), "%s", error.c_str());
  std::size_t at = kPrefix.size(), offset = 0;
  constexpr std::string_view kDigits = "0123456789abcdef";
  for (; at < error.size() && kDigits.find(error[at]) != kDigits.npos; ++at)
    offset = offset * 16 + kDigits.find(error[at]);
  FUZZ_CHECK(offset <= size, "offset 0x%zx of a %zu-byte file: %s", offset, size, error.c_str());
  FUZZ_CHECK(error.compare(at, 2, ": ") == 0 && error.size() > at + 2, "%s", error.c_str());
}

// Each key as it reads: its entry, record, name, values and subkeys' entries,
// in Keys() order, those marked in `skip` left out.
std::string Shape(const Hive &hive, const std::vector<bool> &skip = {}) {
  const std::vector<Key> &keys = hive.Keys();
  std::string out;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    if (!skip.empty() && skip[k]) continue;
    out += std::to_string(keys[k].id) + " " + std::to_string(keys[k].record) + " " + keys[k].name +
           "\n";
    for (const hosted::creg::Value &value : keys[k].values)
      out += " " + std::to_string(value.type) + " " + std::to_string(value.name.size()) +
             value.name + " " + value.data + "\n";
    for (std::size_t child : keys[k].children)
      if (skip.empty() || !skip[child]) out += " > " + std::to_string(keys[child].id) + "\n";
  }
  return out;
}

// Root first, each key once, each parent before its subkeys.
void CheckTree(const Hive &hive) {
  const std::vector<Key> &keys = hive.Keys();
  FUZZ_CHECK(!keys.empty() && keys[0].record == 0 && keys[0].name.empty(), "no root first");
  std::vector<int> parents(keys.size(), 0);
  for (std::size_t k = 0; k < keys.size(); ++k)
    for (std::size_t child : keys[k].children) {
      FUZZ_CHECK(child > k && child < keys.size(), "key %zu listed under key %zu", child, k);
      ++parents[child];
    }
  for (std::size_t k = 1; k < keys.size(); ++k)
    FUZZ_CHECK(parents[k] == 1, "key %zu has %d parents", k, parents[k]);
}

Hive Reads(const std::string &bytes, const char *state) {
  std::string error;
  std::optional<Hive> hive = Hive::Parse(bytes, "f.dat", &error);
  FUZZ_CHECK(hive, "%s no longer reads: %s", state, error.c_str());
  return std::move(*hive);
}

// What a deletion of `top` may write: the word that unlinks it (its
// parent's first-subkey link or the next link of the sibling before it),
// the head of the free entries, the subtree's entries and records, and the
// blocks' headers. Nothing else of the file.
std::vector<std::pair<std::size_t, std::size_t>> Writable(const Hive &hive,
                                                          const std::vector<bool> &subtree) {
  const std::string &bytes = hive.Bytes();
  std::vector<std::pair<std::size_t, std::size_t>> ranges{{kFileHeader + 12, 4}};
  for (std::size_t k = 0; k < hive.Keys().size(); ++k) {
    if (!subtree[k]) continue;
    ranges.push_back({kFileHeader + hive.Keys()[k].id, hosted::creg::kEntrySize});
    ranges.push_back({hive.Keys()[k].record, U32At(bytes, hive.Keys()[k].record)});
  }
  for (std::size_t block = U32At(bytes, 8); block < bytes.size(); block += U32At(bytes, block + 4))
    ranges.push_back({block + 8, 16});
  return ranges;
}

void CheckDeletion(const Hive &original, std::size_t top, bool everyState) {
  const std::vector<Key> &keys = original.Keys();
  std::vector<bool> subtree(keys.size(), false);
  subtree[top] = true;
  std::size_t parent = 0;
  for (std::size_t k = 0; k < keys.size(); ++k)
    for (std::size_t child : keys[k].children) {
      if (child == top) parent = k;
      if (subtree[k]) subtree[child] = true;  // parents come first
    }

  Hive hive = original;
  std::vector<Write> writes;
  FUZZ_CHECK(hive.Delete(keys[top].id, &writes), "key %zu not deleted", top);
  const std::string &end = hive.Bytes();
  FUZZ_CHECK(end.size() == original.Bytes().size(), "the file changed size");
  FUZZ_CHECK(!writes.empty() && writes[0].bytes.size() == 4 && writes[0].offset % 4 == 0,
             "the first write is not one aligned word");
  const std::size_t unlink = writes[0].offset;
  bool atLink = unlink == kFileHeader + keys[parent].id + 16;
  for (std::size_t sibling : keys[parent].children)
    atLink = atLink || unlink == kFileHeader + keys[sibling].id + 20;
  FUZZ_CHECK(atLink, "the first write, at 0x%zx, is no link to the key", unlink);

  const auto ranges = Writable(original, subtree);
  std::string state = original.Bytes();
  for (const Write &write : writes) {
    FUZZ_CHECK(write.offset <= state.size() && write.bytes.size() <= state.size() - write.offset,
               "a write past the end");
    bool inside = &write == &writes[0];
    for (auto [at, length] : ranges)
      inside = inside || (write.offset >= at && write.offset - at <= length &&
                          write.bytes.size() <= at + length - write.offset);
    FUZZ_CHECK(inside, "a write at 0x%zx of %zu bytes outside what the deletion frees",
               write.offset, write.bytes.size());
    state.replace(write.offset, write.bytes.size(), write.bytes);
  }
  FUZZ_CHECK(state == end, "the writes do not make the bytes the hive holds");
  const std::string expected = Shape(original, subtree);
  FUZZ_CHECK(Shape(Reads(end, "the end")) == expected,
             "the end reads as other keys than the subtree's removal");

  Hive again = Reads(end, "the end");
  std::vector<Write> none;
  FUZZ_CHECK(!again.Delete(keys[top].id, &none) && !again.Delete(keys[0].id, &none) && none.empty(),
             "a deleted key or the root was deleted");
  if (!everyState) return;

  // A file that already leaks a key below the same parent (a finish of the
  // untouched file frees it) or a record leaves a finish more than one
  // candidate: it may free the other, and the end differs from the unbroken run's.
  Hive untouched = original;
  FUZZ_CHECK(untouched.FinishDelete(keys[parent].id, keys[top].name, &none),
             "no finish on the untouched file");
  const bool finishable = none.empty() && !LeaksRecords(original.Bytes());
  state = original.Bytes();
  for (std::size_t w = 0; w < writes.size(); ++w) {
    state.replace(writes[w].offset, writes[w].bytes.size(), writes[w].bytes);
    Hive cut = Reads(state, "a state between two writes");
    FUZZ_CHECK(Shape(cut) == expected, "a state after write %zu of %zu reads as other keys", w + 1,
               writes.size());
    if (!finishable) continue;
    std::vector<Write> rest;
    FUZZ_CHECK(cut.FinishDelete(keys[parent].id, keys[top].name, &rest),
               "no finish after write %zu", w + 1);
    FUZZ_CHECK(cut.Bytes() == end, "the finish after write %zu of %zu ends elsewhere", w + 1,
               writes.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  std::string error;
  std::optional<Hive> hive = Hive::Parse(bytes, "f.dat", &error);
  if (!hive) {
    CheckRefusal(size, error);
    return 0;
  }
  CheckTree(*hive);
  FUZZ_CHECK(hive->Bytes() == bytes, "reading changed the bytes");
  const std::size_t keys = hive->Keys().size();
  if (keys < 2) return 0;
  const std::size_t step = (keys - 2) / kMostDeletions + 1;
  const std::size_t chosen = 1 + std::hash<std::string>{}(bytes) % (keys - 1);
  for (std::size_t k = 1; k < keys; k += step) CheckDeletion(*hive, k, false);
  CheckDeletion(*hive, chosen, true);
  return 0;
}
