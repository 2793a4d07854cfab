#include "support/creg_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <unistd.h>

namespace scratch {

namespace {

using hosted::creg::kBlockHeader;
using hosted::creg::kEntrySize;
using hosted::creg::kFileHeader;
using hosted::creg::kFreeMark;
using hosted::creg::kNone;
using hosted::creg::kNoRecord;
using hosted::creg::kPage;
using hosted::creg::Le16;
using hosted::creg::Le32;
constexpr std::uint16_t kIdsPerBlock = 255;  // no genuine block holds more
constexpr std::uint32_t kSmallestFree = 32;  // a smaller remainder stays in the record

}  // namespace

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char &c : upper) c = hosted::creg::Upper(c);
  return upper;
}

std::string GenuineSystemDat() {
  std::ifstream in(TQ72_CREG_DATA "/SYSTEM.DAT", std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (bytes.empty()) throw std::runtime_error("cannot read " TQ72_CREG_DATA "/SYSTEM.DAT");
  return bytes;
}

std::string SmallSystemDat(std::size_t keys, std::uint32_t pages) {
  const std::string genuine = GenuineSystemDat();
  const std::uint32_t area = pages * kPage, firstRegion = hosted::creg::kFirstRegion, root = hosted::creg::kRgknHeader;
  std::string bytes = genuine.substr(0, kFileHeader + root + kEntrySize);
  bytes.resize(kFileHeader + area, '\0');
  auto set32 = [&bytes](std::size_t at, std::uint32_t v) { bytes.replace(at, 4, Le32(v)); };
  set32(8, kFileHeader + area);  // no data block yet: the writer makes them
  bytes.replace(16, 2, Le16(0));
  set32(kFileHeader + 4, area);
  set32(kFileHeader + 8, root);
  set32(kFileHeader + root + 16, kNone);
  const std::uint32_t first = root + kEntrySize;
  set32(kFileHeader + first, kFreeMark);
  set32(kFileHeader + first + 4, firstRegion - first);
  set32(kFileHeader + first + 8, kNone);
  set32(kFileHeader + 12, first);
  if (area > firstRegion) {
    set32(kFileHeader + firstRegion, kFreeMark);
    set32(kFileHeader + firstRegion + 4, area - firstRegion);
    set32(kFileHeader + firstRegion + 8, first);
    set32(kFileHeader + 12, firstRegion);
  }
  const hosted::creg::Hive hive = CregParsed(genuine);
  const std::vector<hosted::creg::Key> &all = hive.Keys();
  std::vector<std::string> paths(all.size());
  CregWriter writer(std::move(bytes));
  for (std::size_t k = 0; k < all.size() && k <= keys; ++k) {
    if (k != 0) writer.AddKey(paths[k], all[k].values);
    for (std::size_t child : all[k].children) paths[child] = (k == 0 ? "" : paths[k] + "\\") + all[child].name;
  }
  return writer.Bytes();
}

CregWriter::CregWriter(std::string bytes) : bytes_(std::move(bytes)) {
  std::string error;
  std::optional<hosted::creg::Hive> hive = hosted::creg::Hive::Parse(bytes_, "SYSTEM.DAT", &error);
  if (!hive) throw std::runtime_error("CregWriter: " + error);
  const std::vector<hosted::creg::Key> &keys = hive->Keys();
  std::vector<std::string> paths(keys.size());
  for (std::size_t k = 0; k < keys.size(); ++k) {
    ids_[paths[k]] = keys[k].id;
    for (std::size_t child : keys[k].children)
      paths[child] = (k == 0 ? "" : paths[k] + "\\") + UpperCase(keys[child].name);
  }
}

std::uint32_t CregWriter::U32(std::size_t offset) const { return hosted::creg::U32At(bytes_, offset); }
std::uint16_t CregWriter::U16(std::size_t offset) const { return hosted::creg::U16At(bytes_, offset); }
void CregWriter::Set32(std::size_t offset, std::uint32_t value) { bytes_.replace(offset, 4, Le32(value)); }
void CregWriter::Set16(std::size_t offset, std::uint16_t value) { bytes_.replace(offset, 2, Le16(value)); }

// A page of entries at the end of the RGKN area, listed as one free run:
// the data blocks move up a page, and nothing points into them by offset.
void CregWriter::AddPage() {
  const std::uint32_t area = U32(kFileHeader + 4);
  bytes_.insert(kFileHeader + area, std::string(kPage, '\0'));
  Set32(kFileHeader + 4, area + kPage);
  Set32(8, U32(8) + kPage);
  Set32(kFileHeader + area, kFreeMark);
  Set32(kFileHeader + area + 4, kPage);
  Set32(kFileHeader + area + 8, U32(kFileHeader + 12));
  Set32(kFileHeader + 12, area);
}

// The head of the free entries; a longer run gives up its first entry.
std::uint32_t CregWriter::NewEntry() {
  if (U32(kFileHeader + 12) == kNone) AddPage();
  const std::uint32_t area = U32(kFileHeader + 4);
  const std::uint32_t entry = U32(kFileHeader + 12);
  const std::uint32_t end = entry + U32(kFileHeader + entry + 4), next = U32(kFileHeader + entry + 8);
  const std::uint32_t rest = hosted::creg::NextEntrySlot(entry, area);
  if (rest < end) {
    Set32(kFileHeader + rest, kFreeMark);
    Set32(kFileHeader + rest + 4, end - rest);
    Set32(kFileHeader + rest + 8, next);
    Set32(kFileHeader + 12, rest);
  } else {
    Set32(kFileHeader + 12, next);
  }
  return entry;
}

std::size_t CregWriter::NewBlock(std::uint32_t size) {
  const std::size_t at = bytes_.size();
  const std::uint16_t number = U16(16);
  const std::uint32_t blockSize = (kBlockHeader + size + kSmallestFree + kPage - 1) / kPage * kPage;
  std::string block = "RGDB" + Le32(blockSize) + Le32(blockSize - kBlockHeader) + Le16(8) + Le16(number) +
                      Le32(kBlockHeader) + Le16(0) + Le16(0) + std::string(8, '\0');
  block += Le32(blockSize - kBlockHeader) + Le16(kNoRecord) + Le16(kNoRecord) + Le32(kNone);
  block.resize(blockSize, '\0');
  bytes_ += block;
  Set16(16, number + 1);
  return at;
}

// First fit over the blocks' free lists, splitting off what is left over.
std::pair<std::uint16_t, std::uint16_t> CregWriter::NewRecord(const std::string &record) {
  const std::uint32_t size = static_cast<std::uint32_t>(record.size());
  std::size_t block = U32(8);
  std::size_t link = 0;
  for (std::uint16_t b = 0; b < U16(16); ++b, block += U32(block + 4)) {
    if (U16(block + 22) >= kIdsPerBlock) continue;
    for (link = block + 16; U32(link) != kNone && U32(block + U32(link)) < size; link = block + U32(link) + 8) {
    }
    if (U32(link) != kNone) break;
  }
  if (block == bytes_.size()) {
    block = NewBlock(size);
    link = block + 16;
  }
  const std::uint32_t r = U32(link), have = U32(block + r), next = U32(block + r + 8);
  std::uint32_t taken = have;
  if (have - size >= kSmallestFree) {
    taken = size;
    const std::size_t rest = block + r + size;
    bytes_.replace(rest, 16, Le32(have - size) + Le16(kNoRecord) + Le16(kNoRecord) + Le32(next) + Le32(0));
    Set32(link, r + size);
  } else {
    Set32(link, next);
  }
  Set32(block + 8, U32(block + 8) - taken);
  const std::uint16_t number = U16(block + 14), id = U16(block + 22);
  bytes_.replace(block + r, size, record);
  Set32(block + r, taken);
  Set16(block + r + 4, id);
  Set16(block + r + 6, number);
  // The lowest id left: ids above the highest in use are all free.
  std::vector<bool> used(std::max<std::uint32_t>(U16(block + 20), id) + 2u);
  for (std::uint32_t at = kBlockHeader; at < U32(block + 4); at += U32(block + at))
    if (U16(block + at + 4) != kNoRecord) used[U16(block + at + 4)] = true;
  std::uint16_t lowest = 0;
  while (used[lowest]) ++lowest;
  Set16(block + 20, std::max(U16(block + 20), id));
  Set16(block + 22, lowest);
  return {number, id};
}

std::uint32_t CregWriter::AddKey(std::string_view path, const std::vector<hosted::creg::Value> &values) {
  std::uint32_t parent = ids_.at("");
  std::string upperPath;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view name = path.substr(start, end - start);
    if (!upperPath.empty()) upperPath += '\\';
    upperPath += UpperCase(name);
    start = end + 1;
    if (auto found = ids_.find(upperPath); found != ids_.end()) {
      parent = found->second;
      continue;
    }
    const bool last = start > path.size();
    std::string record = Le32(0) + Le32(0) + Le32(0) + Le16(static_cast<std::uint16_t>(name.size())) +
                         Le16(last ? static_cast<std::uint16_t>(values.size()) : 0) + Le32(0) + std::string(name);
    for (const hosted::creg::Value &value : last ? values : std::vector<hosted::creg::Value>{})
      record += Le32(value.type) + Le32(0) + Le16(static_cast<std::uint16_t>(value.name.size())) +
                Le16(static_cast<std::uint16_t>(value.data.size())) + value.name + value.data;
    record.replace(8, 4, Le32(static_cast<std::uint32_t>(record.size())));
    const auto [number, id] = NewRecord(record);
    const std::uint32_t entry = NewEntry();
    bytes_.replace(kFileHeader + entry, kEntrySize,
                   Le32(0) + Le32(hosted::creg::NameHash(name)) + Le32(0) + Le32(parent) + Le32(kNone) +
                       Le32(kNone) + Le16(id) + Le16(number));
    std::size_t link = kFileHeader + parent + 16;
    while (U32(link) != kNone) link = kFileHeader + U32(link) + 20;
    Set32(link, entry);
    ids_[upperPath] = entry;
    parent = entry;
  }
  return parent;
}

hosted::creg::Hive CregParsed(const std::string &bytes) {
  std::string error;
  std::optional<hosted::creg::Hive> hive = hosted::creg::Hive::Parse(bytes, "SYSTEM.DAT", &error);
  if (!hive) throw std::runtime_error(error);
  return std::move(*hive);
}

std::optional<std::uint32_t> CregFind(const hosted::creg::Hive &hive, std::string_view path) {
  std::size_t k = 0;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    const std::string_view name = path.substr(start, end - start);
    start = end + 1;
    const std::vector<std::size_t> &children = hive.Keys()[k].children;
    auto child = std::find_if(children.begin(), children.end(),
                              [&](std::size_t c) { return hosted::creg::SameName(hive.Keys()[c].name, name); });
    if (child == children.end()) return std::nullopt;
    k = *child;
  }
  return hive.Keys()[k].id;
}

std::string CregListing(const hosted::creg::Hive &hive) {
  const std::vector<hosted::creg::Key> &keys = hive.Keys();
  std::string out;
  std::vector<std::pair<std::size_t, std::string>> stack{{0, ""}};
  while (!stack.empty()) {
    auto [k, path] = stack.back();
    stack.pop_back();
    out += "K " + path + "\n";
    for (const hosted::creg::Value &value : keys[k].values) {
      out += "V " + value.name + " " + std::to_string(value.type) + " ";
      for (unsigned char c : value.data) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", c);
        out += hex;
      }
      out += "\n";
    }
    for (auto child = keys[k].children.rbegin(); child != keys[k].children.rend(); ++child)
      stack.push_back({*child, (k == 0 ? "" : path + "\\") + keys[*child].name});
  }
  return out;
}

std::optional<std::string> LibcregListing(const std::string &bytes) {
  char path[] = "/tmp/tq72-creg-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return std::nullopt;
  const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(fd);
  std::optional<std::string> listing;
  if (FILE *pipe = written ? popen(("/usr/bin/python3 " TQ72_LIBCREG_LIST " " + std::string(path)).c_str(), "r")
                           : nullptr) {
    std::string out;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    if (pclose(pipe) == 0) listing = std::move(out);
  }
  unlink(path);
  return listing;
}

}  // namespace scratch
