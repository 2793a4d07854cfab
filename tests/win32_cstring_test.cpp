// The Windows program's own memory and string functions against the host's C
// library: the program has no other, so a fault here would show only on
// Windows, as a wrong path or a corrupt system.ini.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "windows_program/cstring.h"

namespace {

using Bytes = std::array<unsigned char, 16>;

Bytes Pattern() {
  Bytes bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(0xF0 + i);
  return bytes;
}

int Sign(int value) { return (value > 0) - (value < 0); }

// Every source, destination and length within one buffer: overlapping in both
// directions, adjacent, and empty.
TEST(Win32CString, MoveCopyAndFillMatchTheCLibrary) {
  const Bytes start = Pattern();
  for (std::size_t from = 0; from < start.size(); ++from) {
    for (std::size_t to = 0; to < start.size(); ++to) {
      for (std::size_t n = 0; n <= start.size() - std::max(from, to); ++n) {
        Bytes ours = start, theirs = start;
        EXPECT_EQ(nocrt::memmove(ours.data() + to, ours.data() + from, n), ours.data() + to);
        std::memmove(theirs.data() + to, theirs.data() + from, n);
        EXPECT_EQ(ours, theirs) << "memmove from " << from << " to " << to << ", " << n;
        if (from + n > to && to + n > from) continue;
        ours = theirs = start;
        EXPECT_EQ(nocrt::memcpy(ours.data() + to, ours.data() + from, n), ours.data() + to);
        std::memcpy(theirs.data() + to, theirs.data() + from, n);
        EXPECT_EQ(ours, theirs) << "memcpy from " << from << " to " << to << ", " << n;
      }
    }
  }
  for (int value : {0, 0x7F, 0xE9, -1, 0x1AB}) {
    Bytes ours = start, theirs = start;
    EXPECT_EQ(nocrt::memset(ours.data() + 3, value, 9), ours.data() + 3);
    std::memset(theirs.data() + 3, value, 9);
    EXPECT_EQ(ours, theirs) << "memset " << value;
  }
}

// Bytes above 127 (ANSI letters such as 0xE9) order after ASCII, as unsigned.
TEST(Win32CString, ComparisonsMatchTheCLibrary) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"", ""},
      {"a", ""},
      {"", "a"},
      {"abc", "abc"},
      {"abc", "abd"},
      {"abd", "abc"},
      {"ab", "abc"},
      {"abc", "ab"},
      {"\xE9", "e"},
      {"e", "\xE9"},
      {"\x80", "\x7F"},
      {"x\xFFy", "x\x01y"},
      {"QVNVCD", "qvnvcd"},
  };
  for (const auto &[a, b] : pairs) {
    SCOPED_TRACE(testing::PrintToString(a) + " vs " + testing::PrintToString(b));
    EXPECT_EQ(Sign(nocrt::strcmp(a.c_str(), b.c_str())), Sign(std::strcmp(a.c_str(), b.c_str())));
    const std::size_t n = std::min(a.size(), b.size()) + 1;  // with the terminator
    EXPECT_EQ(Sign(nocrt::memcmp(a.c_str(), b.c_str(), n)),
              Sign(std::memcmp(a.c_str(), b.c_str(), n)));
  }
  EXPECT_EQ(nocrt::memcmp("ab", "xy", 0), 0);
}

TEST(Win32CString, SearchLengthAndAppendMatchTheCLibrary) {
  const char text[] = "device=qvnvcd.vxd\xE9\0tail";
  const std::size_t size = sizeof text - 1;
  // The value is taken as unsigned char: -23 and 0x1E9 both find 0xE9.
  for (int value : {int{'d'}, int{'q'}, int{'.'}, 0xE9, -23, 0x1E9, 0, int{'t'}, int{'z'}}) {
    for (std::size_t n : {std::size_t{0}, std::size_t{5}, size}) {
      EXPECT_EQ(nocrt::memchr(text, value, n), std::memchr(text, value, n))
          << "memchr " << value << " in " << n;
    }
  }
  for (const char *s : {"", "a", "C:\\WINDOWS\\SYSTEM", "\xE9\xFF"}) {
    EXPECT_EQ(nocrt::strlen(s), std::strlen(s)) << s;
  }
  char ours[32] = "Enum\\PCI\\", theirs[32] = "Enum\\PCI\\";
  for (const char *tail : {"", "VEN_5A7C", "&DEV_0072"}) {
    EXPECT_EQ(nocrt::strcat(ours, tail), ours);
    std::strcat(theirs, tail);
    EXPECT_STREQ(ours, theirs);
  }
  EXPECT_EQ(std::memcmp(ours, theirs, sizeof ours), 0);  // nothing written past the end
}

}  // namespace
