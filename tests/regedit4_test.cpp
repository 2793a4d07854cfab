// REGEDIT4 reading and writing (every value form, escape, continuation and
// root round trips; unchanged files save byte-identically; malformed files
// are refused with NAME:LINE: reason) and the content it saves after deletions.
#include "hosted/regedit4.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hosted/registry.h"
#include "support/registry_content.h"
#include "support/scratch_machine.h"

namespace {

using namespace platform;
using namespace std::string_literals;
using hosted::Key;
using scratch::Canonical;
using scratch::Loaded;
using scratch::KeyTree;
using scratch::SavedText;

// Value types the removal logic never reads, so platform.h leaves them out.
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_MULTI_SZ = 7;

// A file with one section holding `line`.
std::string In(const std::string &section, const std::string &line) {
  return "REGEDIT4\r\n[" + section + "]\r\n" + line + "\r\n";
}
std::string InA(const std::string &line) { return In("HKEY_LOCAL_MACHINE\\A", line); }

// The tree of a text that loads.
std::unique_ptr<Loaded> Parsed(const std::string &text) {
  std::string error;
  auto doc = scratch::Load(text, "case.reg", &error);
  EXPECT_TRUE(doc) << error;
  return doc;
}

// load(save(x)) holds what x holds.
void ExpectRoundTrip(const Loaded &doc) {
  auto again = Parsed(SavedText(doc));
  ASSERT_TRUE(again);
  EXPECT_EQ(Canonical(again->tree), Canonical(doc.tree));
}

// Removes the key at a full path, as a deletion does.
void Remove(Loaded &doc, std::string_view fullPath) {
  Key *key = doc.tree.FindPath(fullPath);
  ASSERT_NE(key, nullptr) << fullPath;
  doc.tree.Remove(key);
}

struct RoundTrip {
  std::string text;
  const char *value;  // null: the default value
  DWORD type;
  std::string bytes;  // as RegQueryValueEx returns them
  HKEY root = HKEY_LOCAL_MACHINE;
  const char *key = "A";  // below the root; null for the root itself
};

void PrintTo(const RoundTrip &c, std::ostream *os) { *os << ::testing::PrintToString(c.text); }

class Regedit4RoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Regedit4RoundTrip, LoadsQueriesAndSavesTheSameBytes) {
  const RoundTrip &c = GetParam();
  scratch::Machine machine(c.text);
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(machine.OpenRegistry(reg, &error)) << error;
  HKEY key = nullptr;
  ASSERT_EQ(reg.OpenKey(c.root, c.key, &key), ERROR_SUCCESS);
  std::string data(c.bytes.size() + 8, '#');
  DWORD type = 0, bytes = static_cast<DWORD>(data.size());
  ASSERT_EQ(reg.QueryValue(key, c.value, &type, reinterpret_cast<BYTE *>(data.data()), &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(type, c.type);
  EXPECT_EQ(data.substr(0, bytes), c.bytes);
  auto doc = Parsed(c.text);
  ASSERT_TRUE(doc);
  EXPECT_EQ(SavedText(*doc), c.text);
  ExpectRoundTrip(*doc);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, Regedit4RoundTrip, ::testing::Values(
    RoundTrip{InA(R"("s"="C:\\WIN \"x\"")"), "s", REG_SZ, "C:\\WIN \"x\"\0"s},
    RoundTrip{InA(R"("a\\b \"q\""="v")"), "a\\b \"q\"", REG_SZ, "v\0"s},
    RoundTrip{InA(R"("s"="")"), "s", REG_SZ, "\0"s},
    RoundTrip{InA(R"(@="dflt")"), nullptr, REG_SZ, "dflt\0"s},
    RoundTrip{InA(R"(""="dflt")"), "", REG_SZ, "dflt\0"s},
    RoundTrip{InA(R"("d"=dword:Fe1)"), "d", REG_DWORD, "\xe1\x0f\0\0"s},
    RoundTrip{InA(R"("b"=hex:00,7f,80,FF)"), "b", REG_BINARY, "\0\x7f\x80\xff"s},
    RoundTrip{InA(R"("b"=hex:)"), "b", REG_BINARY, ""},
    RoundTrip{InA("\"b\"=hex:01,02,\\\r\n  03,\\\r\n  04\r\n\"after\"=\"x\""), "b", REG_BINARY, "\1\2\3\4"},
    RoundTrip{"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\r\n\"b\"=hex:01,\\\n\t02\n", "b", REG_BINARY, "\1\2"},
    RoundTrip{InA(R"("e"=hex(2):25,41,25,00)"), "e", REG_EXPAND_SZ, "%A%\0"s},
    RoundTrip{InA(R"("e"=hex(2):41)"), "e", REG_EXPAND_SZ, "A"},  // as stored: no terminator
    RoundTrip{InA(R"("m"=hex(7):61,00,00)"), "m", REG_MULTI_SZ, "a\0\0"s},
    RoundTrip{InA(R"("n"=hex(a0):aa)"), "n", 0xa0, "\xaa"},
    RoundTrip{In("HKEY_LOCAL_MACHINE\\Caf\xe9", "\"N\xe9\"=\"\xe9t\xe9 \x80\""), "n\xc9", REG_SZ, "\xe9t\xe9 \x80\0"s, HKEY_LOCAL_MACHINE, "CAF\xc9"},
    RoundTrip{"REGEDIT4 \r\n; note\r\n[HKEY_LOCAL_MACHINE\\A]  \r\n  \"s\" = \"x\"  \r\n\t\r\n", "s", REG_SZ, "x\0"s},
    RoundTrip{In("HKEY_LOCAL_MACHINE\\A]B", R"("s"="x")"), "s", REG_SZ, "x\0"s, HKEY_LOCAL_MACHINE, "A]B"},
    RoundTrip{InA("\"s\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\a]\r\n\"S\"=\"two\""), "s", REG_SZ, "two\0"s},  // the last wins
    RoundTrip{In("HKEY_CLASSES_ROOT\\.txt", R"(@="t")"), nullptr, REG_SZ, "t\0"s, HKEY_CLASSES_ROOT, ".txt"},
    RoundTrip{"REGEDIT4\r\n[HKEY_CURRENT_USER\\S]\r\n\"u\"=dword:2", "u", REG_DWORD, "\2\0\0\0"s, HKEY_CURRENT_USER, "S"},
    RoundTrip{"REGEDIT4\n[HKEY_USERS\\.Default]\n\"u\"=\"d\"\n", "u", REG_SZ, "d\0"s, HKEY_USERS, ".Default"},
    RoundTrip{In("HKEY_CURRENT_CONFIG\\D", R"("c"=hex:01)"), "c", REG_BINARY, "\1", HKEY_CURRENT_CONFIG, "D"},
    RoundTrip{In("hkey_dyn_data\\P", R"("p"="q")"), "p", REG_SZ, "q\0"s, HKEY_DYN_DATA, "P"},
    RoundTrip{In("HKEY_LOCAL_MACHINE", R"("r"="root")"), "r", REG_SZ, "root\0"s, HKEY_LOCAL_MACHINE, nullptr}));
// clang-format on

// Sections out of order; Software and CLSID exist only implicitly.
const std::string kSample =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Zeta\\Deep\\Deeper]\r\n\"z\"=\"1\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Alpha]\r\n\"a\"=hex:01,02,\\\r\n  03\r\n@=\"x\"\r\n\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{0001}\\InprocServer32]\r\n@=\"C:\\\\A.DLL\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Zeta]\r\n\"zz\"=dword:00000002\r\n\r\n";

TEST(Regedit4, SavingAfterDeletionsKeepsImplicitAncestors) {
  EXPECT_EQ(SavedText(Loaded()), "REGEDIT4\r\n\r\n");  // empty: every root, nothing else
  auto doc = Parsed(kSample);
  ASSERT_TRUE(doc);
  EXPECT_EQ(SavedText(*doc), kSample);
  Remove(*doc, "HKEY_LOCAL_MACHINE\\Software\\Zeta");
  EXPECT_EQ(SavedText(*doc),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Alpha]\r\n\"a\"=hex:01,02,\\\r\n  03\r\n@=\"x\"\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{0001}\\InprocServer32]\r\n@=\"C:\\\\A.DLL\"\r\n\r\n");
  ExpectRoundTrip(*doc);
  // Software outlives the sections that made it: it gets one of its own.
  Remove(*doc, "HKEY_LOCAL_MACHINE\\Software\\Alpha");
  EXPECT_NE(doc->tree.FindPath("HKEY_LOCAL_MACHINE\\Software"), nullptr);
  const std::string saved = SavedText(*doc);
  EXPECT_EQ(saved.substr(saved.size() - 35), "\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n");
  ExpectRoundTrip(*doc);
  Remove(*doc, "HKEY_CLASSES_ROOT\\CLSID");
  EXPECT_EQ(SavedText(*doc).find("CLSID"), std::string::npos);

  // LF line ends, no final line end, a deeper implicit chain.
  doc = Parsed("REGEDIT4\n[HKEY_USERS\\A\\B\\C]\n[HKEY_USERS\\Z]\n\"z\"=\"1\"");
  ASSERT_TRUE(doc);
  Remove(*doc, "HKEY_USERS\\A\\B\\C");
  EXPECT_EQ(SavedText(*doc), "REGEDIT4\n[HKEY_USERS\\Z]\n\"z\"=\"1\"\n[HKEY_USERS\\A\\B]\n\n");
  ExpectRoundTrip(*doc);
  Remove(*doc, "HKEY_USERS\\A");  // needs no section now
  EXPECT_EQ(SavedText(*doc), "REGEDIT4\n[HKEY_USERS\\Z]\n\"z\"=\"1\"");
}

struct Malformed {
  std::string text;
  int line;
  const char *reason;  // a fragment of the reason
};

void PrintTo(const Malformed &c, std::ostream *os) { *os << ::testing::PrintToString(c.text); }

class Regedit4Malformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(Regedit4Malformed, IsRefusedWithNameLineAndReason) {
  const Malformed &c = GetParam();
  // A registry that holds keys already: the refused load must not replace them.
  scratch::Machine loaded(kSample);
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(loaded.OpenRegistry(reg, &error)) << error;
  const std::string before = KeyTree(reg);
  ASSERT_NE(before.find("Software\\Alpha"), std::string::npos);
  scratch::Machine machine(c.text);
  EXPECT_FALSE(machine.OpenRegistry(reg, &error));
  EXPECT_EQ(error.rfind("registry.reg:" + std::to_string(c.line) + ": ", 0), 0u) << error;
  EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  EXPECT_EQ(KeyTree(reg), before);  // the content is as it was
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, Regedit4Malformed, ::testing::Values(
    Malformed{"", 1, "missing REGEDIT4 header"},
    Malformed{"Windows Registry Editor Version 5.00\r\n", 1, "missing REGEDIT4 header"},
    Malformed{"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\r\n", 3, "unterminated section"},
    Malformed{"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A] x\r\n", 2, "unexpected text after"},
    Malformed{"REGEDIT4\r\n[]\r\n", 2, "empty section name"},
    Malformed{"REGEDIT4\r\n[HKLM\\A]\r\n", 2, "unknown root key \"HKLM\""},
    Malformed{"REGEDIT4\r\n[HKLM\x1b[2J\\A]\r\n", 2, "unknown root key \"HKLM\\x1b[2J\""},
    Malformed{"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\\\A]\r\n", 2, "empty key name"},
    // Deletion lines: never in a registry exported by Windows 95/98.
    Malformed{"REGEDIT4\r\n[-HKEY_LOCAL_MACHINE]\r\n", 2, "deletion line"},
    Malformed{"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\\X]\r\n\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n", 4, "deletion line"},
    Malformed{"REGEDIT4\r\n  [-HKEY_USERS\\Never\\There]  \r\n", 2, "deletion line"},
    Malformed{"REGEDIT4\r\n\r\n@=\"b\"\r\n", 3, "value before any section"},
    Malformed{"REGEDIT4\r\nhello\r\n", 2, "text before any section"},
    Malformed{InA("name=\"b\""), 3, "bad value line"},
    Malformed{InA("\"a\" \"b\""), 3, "expected '='"},
    Malformed{InA("\"a\"="), 3, "no data"},
    Malformed{InA("\"a\"=\"b\\"), 3, "unterminated string"},
    Malformed{InA("\"a\"=\"b\\n\""), 3, "bad escape"},
    Malformed{InA("\"a\"=\"b\" c"), 3, "unexpected text after the value"},
    Malformed{InA("\"a\"=-"), 3, "bad value data"},  // REGEDIT5 value deletion
    Malformed{InA("\"a\"=dword:123456789"), 3, "bad dword"},
    Malformed{InA("\"a\"=hex:1,02"), 3, "bad hex data"},
    Malformed{InA("\"a\"=hex:01,"), 3, "bad hex data"},
    Malformed{InA("\"a\"=hex(z):01"), 3, "bad hex type"},
    Malformed{InA("\"a\"=hex:01,\\\r\n  zz"), 4, "bad hex data"},
    Malformed{"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex:01,\\", 3, "continuation line missing"},
    Malformed{InA("\"a\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\B]\n\"b\"=dword:"), 6, "bad dword"},
    Malformed{"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\0B]\r\n"s, 2, "NUL byte"}));
// clang-format on

// Mutated exports (damaged bytes, cut lines, stray brackets and escapes):
// each is either refused with a line and reason, or loads into content that
// saves to the same bytes and reloads unchanged, also after deleting keys.
TEST(Regedit4, MutatedTextIsRefusedOrRoundTrips) {
  const std::string seed =
      kSample + "[HKEY_USERS\\.Default\\X]\r\n\"v\"=hex(7):61,00,\\\r\n  00\r\n";
  const std::string pool = "\\\"[]-@=,:\r\n (x0";
  std::uint64_t state = 0x9e3779b97f4a7c15ull;
  auto next = [&state](std::size_t n) {  // xorshift64
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    return static_cast<std::size_t>(state % n);
  };
  int loaded = 0;
  for (int round = 0; round < 3000 && !HasFailure(); ++round) {
    std::string text = seed;
    for (std::size_t edits = 1 + next(3); edits > 0 && !text.empty(); --edits) {
      const std::size_t at = next(text.size()), kind = next(4);
      const char c = pool[next(pool.size())];
      if (kind == 0) text[at] = c;
      if (kind == 1) text.erase(at, 1 + next(8));
      if (kind == 2) text.insert(at, 1, c);
      if (kind == 3) text.resize(at);
    }
    std::string error;
    auto doc = scratch::Load(text, "m.reg", &error);
    if (!doc) {
      EXPECT_EQ(error.rfind("m.reg:", 0), 0u) << error;
      continue;
    }
    ++loaded;
    EXPECT_EQ(SavedText(*doc), text);
    for (const char *path : {"HKEY_LOCAL_MACHINE\\Software\\Zeta", "HKEY_USERS\\.Default"})
      if (Key *key = doc->tree.FindPath(path)) doc->tree.Remove(key);
    ExpectRoundTrip(*doc);
    if (HasFailure()) ADD_FAILURE() << "mutated text:\n" << text;
  }
  EXPECT_GT(loaded, 100);  // the mutations also exercise the accepting paths
}

}  // namespace
