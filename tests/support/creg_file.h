// SYSTEM.DAT files for the suites, the fuzz target and the benchmark: keys
// added to a genuine file the way Windows adds them, and a listing of what a
// file holds in the form the independent reader's script prints
// (tests/creg/libcreg_list.py). The standard library and the reader only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosted/creg.h"

namespace scratch {

// A name or path as the file's hashes see it (hosted::creg::Upper).
std::string UpperCase(std::string_view text);

// The genuine Windows Me SYSTEM.DAT of the test data.
std::string GenuineSystemDat();
// A small file with the genuine one's headers and its first `keys` keys
// (parents first), values and all, added as CregWriter adds them to an
// entry area of `pages` pages (at least two); with more than two, the last
// pages are handed out first, so that entries lie past the first 8 KiB too.
std::string SmallSystemDat(std::size_t keys, std::uint32_t pages);

// Adds keys to a file that hosted::creg::Hive::Parse takes, as Windows adds
// them: an entry from the head of the free entries (a new page of entries
// when none is left, which moves every data block: Windows never needs to),
// a record from the first data block with a large enough free record and
// an id left, or from a new block at the end, and the key as its parent's
// last subkey, since genuine chains follow allocation order.
class CregWriter {
 public:
  explicit CregWriter(std::string bytes);
  // Makes each missing key of path (names joined by '\', matched without
  // case) as the last subkey of its parent, the last one with values; a key
  // that exists is left as it is. Returns its entry's id.
  std::uint32_t AddKey(std::string_view path, const std::vector<hosted::creg::Value> &values = {});
  const std::string &Bytes() const { return bytes_; }

 private:
  std::uint32_t U32(std::size_t offset) const;
  std::uint16_t U16(std::size_t offset) const;
  void Set32(std::size_t offset, std::uint32_t value);
  void Set16(std::size_t offset, std::uint16_t value);
  std::uint32_t NewEntry();
  void AddPage();
  // A record of `size` bytes; returns its block number and id.
  std::pair<std::uint16_t, std::uint16_t> NewRecord(const std::string &record);
  std::size_t NewBlock(std::uint32_t size);

  std::string bytes_;
  std::map<std::string, std::uint32_t> ids_;  // upper-cased path to entry id
};

// The hive of a file that must read; std::runtime_error with the reason
// when it does not.
hosted::creg::Hive CregParsed(const std::string &bytes);

// The live key at path ("A\B", names without case), as a store finds it.
std::optional<std::uint32_t> CregFind(const hosted::creg::Hive &hive, std::string_view path);

// One line per key ("K" and its path from the root) followed by one line
// per value ("V", its name, its type, its data in hex); keys in chain order,
// each before its subkeys. Names as bytes; the root's path is empty.
std::string CregListing(const hosted::creg::Hive &hive);
// The same listing as libcreg reads the file; nothing when it cannot.
std::optional<std::string> LibcregListing(const std::string &bytes);

}  // namespace scratch
