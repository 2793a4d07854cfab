// SYSTEM.DAT: what our reader lists equals what libcreg lists, a malformed
// file is refused with its reason, and a deletion changes only the bytes it
// frees, through states that both readers read and that a next run finishes
// to the same end.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "hosted/creg.h"
#include "support/creg_file.h"
#include "support/drive.h"
#include "support/modem_fixture.h"

namespace {

using hosted::creg::Hive;
using scratch::CregParsed;
using hosted::creg::Write;

// A next run's replay of the journal's deletions, in order: a key still
// live is deleted, one that was unlinked is finished.
std::string Replayed(const std::string &bytes, const std::vector<std::string> &deleted) {
  Hive hive = CregParsed(bytes);
  std::vector<Write> writes;
  for (const std::string &path : deleted) {
    if (std::optional<std::uint32_t> id = scratch::CregFind(hive, path)) {
      EXPECT_TRUE(hive.Delete(*id, &writes)) << path;
      continue;
    }
    const std::size_t slash = path.rfind('\\');
    if (std::optional<std::uint32_t> parent = scratch::CregFind(hive, path.substr(0, slash))) {
      EXPECT_TRUE(hive.FinishDelete(*parent, path.substr(slash + 1), &writes)) << path;
    }
  }
  return hive.Bytes();
}

// A listing without the keys below (and at) the given paths.
std::string Without(const std::string &listing, const std::vector<std::string> &paths) {
  std::string out;
  bool dropping = false;
  for (std::size_t at = 0; at < listing.size();) {
    const std::size_t end = listing.find('\n', at) + 1;
    const std::string line = listing.substr(at, end - at);
    at = end;
    if (line.starts_with("K ")) {
      const std::string path = scratch::UpperCase(line.substr(2, line.size() - 3));
      dropping = std::any_of(paths.begin(), paths.end(), [&](const std::string &p) {
        return path == scratch::UpperCase(p) || path.starts_with(scratch::UpperCase(p) + "\\");
      });
    }
    if (!dropping) out += line;
  }
  return out;
}

std::vector<std::string> AddedPaths() {
  std::vector<std::string> added;
  const Hive genuine = CregParsed(scratch::GenuineSystemDat());
  for (const scratch::Key &key : scratch::ModemKeys())
    for (std::size_t slash = 0; slash != std::string::npos; slash = key.path.find('\\', slash + 1)) {
      const std::string path = key.path.substr(0, key.path.find('\\', slash + 1));
      if (!scratch::CregFind(genuine, path) && std::find(added.begin(), added.end(), path) == added.end()) added.push_back(path);
      if (slash == 0 && key.path.find('\\') == 0) break;
    }
  return added;
}

TEST(Creg, GenuineFileListsAsLibcregListsIt) {
  const std::string bytes = scratch::GenuineSystemDat();
  const Hive hive = CregParsed(bytes);
  EXPECT_EQ(hive.Keys().size(), 4999u);
  EXPECT_EQ(scratch::CregListing(hive), scratch::LibcregListing(bytes));
}

// The modem's keys are added and nothing else changes, as libcreg sees it.
TEST(Creg, FixtureAddsTheModemKeysAlone) {
  const std::string fixture = scratch::SystemDat();
  EXPECT_EQ(fixture.size(), scratch::GenuineSystemDat().size()) << "the fixture fits the genuine free space";
  const std::string listing = scratch::CregListing(CregParsed(fixture));
  EXPECT_EQ(listing, scratch::LibcregListing(fixture));
  EXPECT_EQ(Without(listing, AddedPaths()), scratch::CregListing(CregParsed(scratch::GenuineSystemDat())));
  for (const scratch::Key &key : scratch::ModemKeys()) EXPECT_TRUE(scratch::CregFind(CregParsed(fixture), key.path)) << key.path;
  EXPECT_NE(listing.find("V DriverDesc 1 51756f7276616e65205451373220504349204d6f64656d\n"), std::string::npos)
      << "text without its terminator, as Windows stores REG_SZ";
}

struct Malformed {
  const char *name;
  void (*change)(std::string &bytes);
  const char *error;
};

void Set32(std::string &bytes, std::size_t at, std::uint32_t value) { std::memcpy(&bytes[at], &value, 4); }

// Offsets of the genuine file: the root entry at 0x40, SOFTWARE's at 0x5c,
// the first data block at 0x23020, the last at 0x124020.
const Malformed kMalformed[] = {
    {"Version", [](std::string &b) { b[6] = 2; }, "offset 0x0004: version is not CREG 1.0"},
    {"CutInRgkn", [](std::string &b) { b.resize(0x1000); }, "offset 0x0024: cut short: RGKN area runs past the end"},
    {"CutInLastBlock", [](std::string &b) { b.resize(b.size() - 100); },
     "offset 0x124024: cut short: data block runs past the end"},
    {"LongerThanItsBlocks", [](std::string &b) { b += std::string(0x1000, '\0'); },
     "offset 0x12a020: file size disagrees with its data blocks"},
    {"KeyLinkOutOfRange", [](std::string &b) { Set32(b, 0x50, 0x23000); }, "offset 0x0050: key link out of range"},
    {"KeyLinkOffGrid", [](std::string &b) { Set32(b, 0x50, 0x3e); }, "offset 0x0050: key link out of range"},
    {"KeyCycle", [](std::string &b) { Set32(b, 0x70, 0x3c); }, "offset 0x0070: key links form a cycle"},
    {"ParentDisagrees", [](std::string &b) { Set32(b, 0x68, 0x3c); },
     "offset 0x0068: parent link disagrees with the key's chain"},
    {"WrongHash", [](std::string &b) { b[0x60] ^= 1; }, "offset 0x0060: hash disagrees with the key's name"},
    {"RecordMissing", [](std::string &b) { Set32(b, 0x74, 0x000c00fe); },
     "offset 0x0074: key's record missing from its data block"},
    {"FreeBytesDisagree", [](std::string &b) { b[0x23028] ^= 1; },
     "offset 0x23028: free bytes disagree with the block's free records"},
    {"UsedSizeOverItsRecord", [](std::string &b) { b[0x23048] += 12; }, "offset 0x23048: used size out of range"},
    {"FreeEntryCycle", [](std::string &b) { Set32(b, 0xea54, 0xea2c); }, "offset 0xea54: free entry list has a cycle"},
    {"FreeRunOverFreeRuns", [](std::string &b) { Set32(b, 0xea50, 0x1000); }, "free runs overlap"},
    {"KeyMarkedFree", [](std::string &b) { Set32(b, 0x5c, 0x80000000); }, "offset 0x0050: key link to a free entry"},
    {"ListedEntryInUse", [](std::string &b) { Set32(b, 0x2c, 0x3c); }, "offset 0x005c: listed free entry is not marked free"},
    {"FreeRecordLinkOutOfRange", [](std::string &b) { Set32(b, 0x23030, 0xb699); },
     "offset 0x23030: free record link out of range"},
};

class CregMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(CregMalformed, IsRefusedWithItsReason) {
  std::string bytes = scratch::GenuineSystemDat();
  GetParam().change(bytes);
  std::string error;
  EXPECT_FALSE(Hive::Parse(bytes, "SYSTEM.DAT", &error));
  EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
  EXPECT_TRUE(error.starts_with("SYSTEM.DAT: offset 0x")) << error;
}

INSTANTIATE_TEST_SUITE_P(Cases, CregMalformed, testing::ValuesIn(kMalformed),
                         [](const auto &info) { return std::string(info.param.name); });

// USER.DAT holds HKEY_USERS: a file with its .DEFAULT key is not taken as
// HKEY_LOCAL_MACHINE.
TEST(Creg, UsersFileIsRefused) {
  scratch::CregWriter writer(scratch::GenuineSystemDat());
  writer.AddKey(".DEFAULT\\Control Panel");
  std::string error;
  EXPECT_FALSE(Hive::Parse(writer.Bytes(), "USER.DAT", &error));
  EXPECT_NE(error.find("not HKEY_LOCAL_MACHINE"), std::string::npos) << error;
}

struct Removal {
  std::string before, after;
  std::vector<Write> writes;
};

// The modem's keys deleted from the fixture in one unbroken run.
const Removal &FixtureRemoval() {
  static const Removal removal = [] {
    Removal r{scratch::SystemDat(), {}, {}};
    Hive hive = CregParsed(r.before);
    for (const std::string &path : scratch::KeysRemoved) {
      std::optional<std::uint32_t> id = scratch::CregFind(hive, path);
      EXPECT_TRUE(id && hive.Delete(*id, &r.writes)) << path;
    }
    r.after = hive.Bytes();
    return r;
  }();
  return removal;
}

// Each changed byte lies in a freed entry or record, the header of a block
// or of the entries, or the 4-byte link that unlinked a key.
TEST(Creg, DeletionChangesOnlyWhatItFrees) {
  const Removal &r = FixtureRemoval();
  ASSERT_EQ(r.after.size(), r.before.size());
  const Hive before = CregParsed(r.before), after = CregParsed(r.after);
  const std::string listing = scratch::CregListing(after);
  EXPECT_EQ(listing, Without(scratch::CregListing(before), scratch::KeysRemoved));
  EXPECT_EQ(listing, scratch::LibcregListing(r.after));
  for (const std::string &path : scratch::KeysKept) EXPECT_TRUE(scratch::CregFind(after, path)) << path;

  std::vector<std::pair<std::size_t, std::size_t>> allowed{{0x2c, 4}};
  std::set<std::uint32_t> tops, removed;
  for (const std::string &path : scratch::KeysRemoved) tops.insert(*scratch::CregFind(before, path));
  for (const hosted::creg::Key &key : before.Keys()) {  // parents come before their subkeys
    const bool inside = removed.count(key.id) > 0;
    for (std::size_t child : key.children) {
      const std::uint32_t id = before.Keys()[child].id;
      if (inside || tops.count(id)) removed.insert(id);
      if (!inside && tops.count(id)) {  // its parent's first-subkey link, or a sibling's next
        allowed.push_back({0x20 + key.id + 16, 4});
        for (std::size_t sibling : key.children) allowed.push_back({0x20 + before.Keys()[sibling].id + 20, 4});
      }
    }
  }
  for (const hosted::creg::Key &key : before.Keys())
    if (removed.count(key.id)) {
      std::uint32_t size;
      std::memcpy(&size, &r.before[key.record], 4);
      allowed.push_back({0x20 + key.id, 28});
      allowed.push_back({key.record, size});
    }
  std::uint32_t block;
  std::memcpy(&block, &r.before[8], 4);
  for (std::uint32_t size; block < r.before.size(); block += size) {
    std::memcpy(&size, &r.before[block + 4], 4);
    allowed.push_back({block + 8, 16});
  }
  std::size_t changed = 0;
  for (std::size_t at = 0; at < r.before.size(); ++at) {
    if (r.before[at] == r.after[at]) continue;
    ++changed;
    EXPECT_TRUE(std::any_of(allowed.begin(), allowed.end(),
                            [at](auto range) { return at >= range.first && at - range.first < range.second; }))
        << "byte 0x" << std::hex << at << " changed";
  }
  EXPECT_GT(changed, 0u);
  EXPECT_EQ(r.writes.front().bytes.size(), 4u);
  EXPECT_EQ(r.writes.front().offset % 4, 0u) << "the unlink is one aligned word";
}

// A kill after any write leaves a file both readers read, and the next run
// replaying its journal ends where the unbroken run ended.
TEST(Creg, KillAfterEachWriteIsFinishedByTheNextRun) {
  const Removal &r = FixtureRemoval();
  std::string state = r.before;
  for (std::size_t k = 0; k <= r.writes.size(); ++k) {
    SCOPED_TRACE("killed after write " + std::to_string(k) + " of " + std::to_string(r.writes.size()));
    std::string error;
    std::optional<Hive> hive = Hive::Parse(state, "SYSTEM.DAT", &error);
    ASSERT_TRUE(hive) << error;
    // libcreg once per key's writes: the record's three and the entry's two.
    if (k % 5 == 1 || k == r.writes.size()) {
      EXPECT_EQ(scratch::CregListing(*hive), scratch::LibcregListing(state));
    }
    EXPECT_TRUE(Replayed(state, scratch::KeysRemoved) == r.after);
    if (k < r.writes.size()) state.replace(r.writes[k].offset, r.writes[k].bytes.size(), r.writes[k].bytes);
  }
}

TEST(Creg, RootAndDeletedKeysAreNotDeleted) {
  Hive hive = CregParsed(scratch::SystemDat());
  std::vector<Write> writes;
  EXPECT_FALSE(hive.Delete(hive.Keys().front().id, &writes));
  const std::uint32_t id = *scratch::CregFind(hive, scratch::KeysRemoved.front());
  EXPECT_TRUE(hive.Delete(id, &writes));
  const std::size_t count = writes.size();
  EXPECT_FALSE(hive.Delete(id, &writes));
  EXPECT_EQ(writes.size(), count);
}

}  // namespace
