// REGEDIT4 reading and writing (every value form, escape, continuation and
// root round trips; unchanged files save byte-identically; malformed files
// are refused with NAME:LINE: reason) and the journal's crash recovery.
#include "platform/hosted/regedit4.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/hosted/registry.h"
#include "platform/hosted/registry_journal.h"
#include "support/temp_machine.h"

namespace {

using namespace platform;

std::string Crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// ------------------------------------------------------------- round trips

struct RoundTrip {
  const char *label;
  std::string text;
  const char *key;    // full path of the key to query
  const char *value;  // value name (null: default)
  DWORD type;
  std::string bytes;  // as RegQueryValueEx returns them
};

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out += static_cast<char>(b);
  return out;
}

const std::vector<RoundTrip> &RoundTrips() {
  static const std::vector<RoundTrip> cases = {
      {"string", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"s\"=\"text\"\r\n\r\n",
       "HKEY_LOCAL_MACHINE\\A", "s", REG_SZ, std::string("text", 5)},
      {"escapes", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"s\"=\"C:\\\\WIN \\\"x\\\"\"\r\n",
       "HKEY_LOCAL_MACHINE\\A", "s", REG_SZ, std::string("C:\\WIN \"x\"", 11)},
      {"escaped name", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\\\\b \\\"q\\\"\"=\"v\"\r\n",
       "HKEY_LOCAL_MACHINE\\A", "a\\b \"q\"", REG_SZ, std::string("v", 2)},
      {"empty string", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"s\"=\"\"\r\n",
       "HKEY_LOCAL_MACHINE\\A", "s", REG_SZ, std::string(1, '\0')},
      {"default", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n@=\"dflt\"\r\n", "HKEY_LOCAL_MACHINE\\A",
       nullptr, REG_SZ, std::string("dflt", 5)},
      {"empty name is the default", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"\"=\"dflt\"\r\n",
       "HKEY_LOCAL_MACHINE\\A", "", REG_SZ, std::string("dflt", 5)},
      {"dword", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"d\"=dword:0000ff01\r\n",
       "HKEY_LOCAL_MACHINE\\A", "d", REG_DWORD, Bytes({0x01, 0xff, 0, 0})},
      {"dword short", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"d\"=dword:1\r\n",
       "HKEY_LOCAL_MACHINE\\A", "d", REG_DWORD, Bytes({1, 0, 0, 0})},
      {"dword upper", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"d\"=dword:FFFFFFFF\r\n",
       "HKEY_LOCAL_MACHINE\\A", "d", REG_DWORD, Bytes({0xff, 0xff, 0xff, 0xff})},
      {"hex", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"b\"=hex:00,7f,80,FF\r\n",
       "HKEY_LOCAL_MACHINE\\A", "b", REG_BINARY, Bytes({0, 0x7f, 0x80, 0xff})},
      {"hex empty", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"b\"=hex:\r\n",
       "HKEY_LOCAL_MACHINE\\A", "b", REG_BINARY, std::string()},
      {"hex continuation",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"b\"=hex:01,02,\\\r\n  03,04,\\\r\n  05\r\n"
       "\"after\"=\"x\"\r\n",
       "HKEY_LOCAL_MACHINE\\A", "b", REG_BINARY, Bytes({1, 2, 3, 4, 5})},
      {"hex continuation LF", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"b\"=hex:01,\\\n\t02\n",
       "HKEY_LOCAL_MACHINE\\A", "b", REG_BINARY, Bytes({1, 2})},
      {"hex(2) expand", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"e\"=hex(2):25,41,25,00\r\n",
       "HKEY_LOCAL_MACHINE\\A", "e", REG_EXPAND_SZ, std::string("%A%", 4)},
      {"hex(2) unterminated", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"e\"=hex(2):41\r\n",
       "HKEY_LOCAL_MACHINE\\A", "e", REG_EXPAND_SZ, std::string("A", 2)},
      {"hex(1) empty", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"e\"=hex(1):\r\n",
       "HKEY_LOCAL_MACHINE\\A", "e", REG_SZ, std::string(1, '\0')},
      {"hex(7) multi", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"m\"=hex(7):61,00,00\r\n",
       "HKEY_LOCAL_MACHINE\\A", "m", REG_MULTI_SZ, std::string("a\0\0", 3)},
      {"hex(0) none", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"n\"=hex(0):09\r\n",
       "HKEY_LOCAL_MACHINE\\A", "n", REG_NONE, Bytes({9})},
      {"hex(4) dword", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"n\"=hex(4):01,00,00,00\r\n",
       "HKEY_LOCAL_MACHINE\\A", "n", REG_DWORD, Bytes({1, 0, 0, 0})},
      {"hex(a0) big type", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"n\"=hex(a0):aa\r\n",
       "HKEY_LOCAL_MACHINE\\A", "n", 0xa0, Bytes({0xaa})},
      {"ansi bytes",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Caf\xe9]\r\n\"N\xe9\"=\"\xe9t\xe9 \x80 \xff\"\r\n",
       "HKEY_LOCAL_MACHINE\\CAF\xc9", "n\xc9", REG_SZ, std::string("\xe9t\xe9 \x80 \xff", 8)},
      {"LF line ends", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"s\"=\"lf\"\n\n",
       "HKEY_LOCAL_MACHINE\\A", "s", REG_SZ, std::string("lf", 3)},
      {"mixed line ends", "REGEDIT4\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"s\"=\"m\"\n",
       "HKEY_LOCAL_MACHINE\\A", "s", REG_SZ, std::string("m", 2)},
      {"no final line end", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"s\"=\"end\"",
       "HKEY_LOCAL_MACHINE\\A", "s", REG_SZ, std::string("end", 4)},
      {"blanks and comments",
       "REGEDIT4 \r\n; a comment\r\n[HKEY_LOCAL_MACHINE\\A]  \r\n  \"s\" = \"x\"  \r\n"
       "\t\r\n; another\r\n",
       "HKEY_LOCAL_MACHINE\\A", "s", REG_SZ, std::string("x", 2)},
      {"bracket in name", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]B]\r\n\"s\"=\"x\"\r\n",
       "HKEY_LOCAL_MACHINE\\A]B", "s", REG_SZ, std::string("x", 2)},
      {"last duplicate wins",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"s\"=\"one\"\r\n\r\n[HKEY_LOCAL_MACHINE\\a]\r\n"
       "\"S\"=\"two\"\r\n",
       "HKEY_LOCAL_MACHINE\\A", "s", REG_SZ, std::string("two", 4)},
      {"classes root", "REGEDIT4\r\n[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"txtfile\"\r\n",
       "HKEY_CLASSES_ROOT\\.txt", nullptr, REG_SZ, std::string("txtfile", 8)},
      {"current user", "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software]\r\n\"u\"=dword:2\r\n",
       "HKEY_CURRENT_USER\\Software", "u", REG_DWORD, Bytes({2, 0, 0, 0})},
      {"users", "REGEDIT4\r\n[HKEY_USERS\\.Default]\r\n\"u\"=\"d\"\r\n", "HKEY_USERS\\.Default",
       "u", REG_SZ, std::string("d", 2)},
      {"current config", "REGEDIT4\r\n[HKEY_CURRENT_CONFIG\\Display]\r\n\"c\"=hex:01\r\n",
       "HKEY_CURRENT_CONFIG\\Display", "c", REG_BINARY, Bytes({1})},
      {"dyn data", "REGEDIT4\r\n[HKEY_DYN_DATA\\PerfStats]\r\n\"p\"=\"q\"\r\n",
       "HKEY_DYN_DATA\\PerfStats", "p", REG_SZ, std::string("q", 2)},
      {"value on a root", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE]\r\n\"r\"=\"root\"\r\n",
       "HKEY_LOCAL_MACHINE", "r", REG_SZ, std::string("root", 5)},
      {"root name case", "REGEDIT4\r\n[hkey_local_machine\\A]\r\n\"s\"=\"x\"\r\n",
       "HKEY_LOCAL_MACHINE\\A", "s", REG_SZ, std::string("x", 2)},
  };
  return cases;
}

class Regedit4RoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Regedit4RoundTrip, LoadsQueriesAndSavesTheSameBytes) {
  const RoundTrip &c = GetParam();
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.LoadText(c.text, "case.reg", &error)) << error;
  EXPECT_EQ(reg.SaveText(), c.text);
  ASSERT_TRUE(reg.KeyExists(c.key));

  // Open the key by its path below the root.
  const std::string full = c.key;
  const std::size_t slash = full.find('\\');
  HKEY root = full.rfind("HKEY_CLASSES_ROOT", 0) == 0     ? HKEY_CLASSES_ROOT
              : full.rfind("HKEY_CURRENT_USER", 0) == 0   ? HKEY_CURRENT_USER
              : full.rfind("HKEY_USERS", 0) == 0          ? HKEY_USERS
              : full.rfind("HKEY_CURRENT_CONFIG", 0) == 0 ? HKEY_CURRENT_CONFIG
              : full.rfind("HKEY_DYN_DATA", 0) == 0       ? HKEY_DYN_DATA
                                                          : HKEY_LOCAL_MACHINE;
  HKEY key = nullptr;
  ASSERT_EQ(
      reg.OpenKey(root, slash == std::string::npos ? nullptr : full.c_str() + slash + 1, &key),
      ERROR_SUCCESS);
  std::string data(c.bytes.size() + 8, '#');
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(data.size());
  ASSERT_EQ(reg.QueryValue(key, c.value, &type, reinterpret_cast<BYTE *>(data.data()), &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(type, c.type);
  EXPECT_EQ(data.substr(0, bytes), c.bytes);
  EXPECT_EQ(reg.CloseKey(key), ERROR_SUCCESS);

  // load(save(x)) == x.
  hosted::Registry again;
  ASSERT_TRUE(again.LoadText(reg.SaveText(), "again.reg", &error)) << error;
  EXPECT_EQ(again.Canonical(), reg.Canonical());
}

INSTANTIATE_TEST_SUITE_P(Cases, Regedit4RoundTrip, ::testing::ValuesIn(RoundTrips()),
                         [](const ::testing::TestParamInfo<RoundTrip> &info) {
                           std::string name;
                           for (const char *p = info.param.label; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

// ------------------------------------------------------- structure and save

const std::string kSample = Crlf(
    "REGEDIT4\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Zeta\\Deep\\Deeper]\n"
    "\"z\"=\"1\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Alpha]\n"
    "\"a\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
    "  17,18\n"
    "@=\"x\"\n"
    "\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}\\InprocServer32]\n"
    "@=\"C:\\\\WINDOWS\\\\SYSTEM\\\\A.DLL\"\n"
    "\"ThreadingModel\"=\"Apartment\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Zeta]\n"
    "\"zz\"=dword:00000002\n"
    "\n");

TEST(Regedit4, ImplicitKeysAndAnyOrder) {
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.LoadText(kSample, "sample.reg", &error)) << error;
  EXPECT_EQ(reg.SaveText(), kSample);
  EXPECT_TRUE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Software"));
  EXPECT_TRUE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Zeta\\Deep"));
  EXPECT_TRUE(reg.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
  HKEY software = nullptr;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, "Software", &software), ERROR_SUCCESS);
  char name[32];
  DWORD chars = sizeof name;
  ASSERT_EQ(reg.EnumKey(software, 0, name, &chars), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Alpha");
  // The later section of Zeta added its value to the key made implicitly.
  HKEY zeta = nullptr;
  ASSERT_EQ(reg.OpenKey(software, "Zeta", &zeta), ERROR_SUCCESS);
  DWORD type = 0, bytes = 0;
  EXPECT_EQ(reg.QueryValue(zeta, "zz", &type, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  reg.CloseKey(zeta);
  reg.CloseKey(software);
}

TEST(Regedit4, SavingAfterADeletionDropsOnlyTheSubtreesSections) {
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.LoadText(kSample, "sample.reg", &error)) << error;
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Zeta"), ERROR_SUCCESS);
  const std::string expected = Crlf(
      "REGEDIT4\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Alpha]\n"
      "\"a\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
      "  17,18\n"
      "@=\"x\"\n"
      "\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}\\InprocServer32]\n"
      "@=\"C:\\\\WINDOWS\\\\SYSTEM\\\\A.DLL\"\n"
      "\"ThreadingModel\"=\"Apartment\"\n"
      "\n");
  EXPECT_EQ(reg.SaveText(), expected);
  hosted::Registry again;
  ASSERT_TRUE(again.LoadText(reg.SaveText(), "again.reg", &error)) << error;
  EXPECT_EQ(again.Canonical(), reg.Canonical());
  // Deleting an implicit key drops every section below it.
  ASSERT_EQ(reg.DeleteKey(HKEY_CLASSES_ROOT, "CLSID"), ERROR_SUCCESS);
  EXPECT_EQ(reg.SaveText().find("CLSID"), std::string::npos);
}

TEST(Regedit4, AnImplicitKeyOutlivesTheSectionsThatMadeIt) {
  // HKLM\Software has no section: only its children's sections make it.
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.LoadText(kSample, "sample.reg", &error)) << error;
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Zeta"), ERROR_SUCCESS);
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Alpha"), ERROR_SUCCESS);
  EXPECT_TRUE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Software"));
  const std::string saved = reg.SaveText();
  EXPECT_EQ(saved.substr(saved.size() - 35), "\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n");
  hosted::Registry again;
  ASSERT_TRUE(again.LoadText(saved, "again.reg", &error)) << error;
  EXPECT_TRUE(again.KeyExists("HKEY_LOCAL_MACHINE\\Software"));
  EXPECT_EQ(again.Canonical(), reg.Canonical());
  EXPECT_EQ(again.SaveText(), saved);

  // A file without a final line end, LF line ends, a deeper implicit chain.
  const std::string text = "REGEDIT4\n[HKEY_USERS\\A\\B\\C]\n[HKEY_USERS\\Z]\n\"z\"=\"1\"";
  ASSERT_TRUE(reg.LoadText(text, "lf.reg", &error)) << error;
  ASSERT_EQ(reg.DeleteKey(HKEY_USERS, "A\\B\\C"), ERROR_SUCCESS);
  EXPECT_EQ(reg.SaveText(), "REGEDIT4\n[HKEY_USERS\\Z]\n\"z\"=\"1\"\n[HKEY_USERS\\A\\B]\n\n");
  ASSERT_TRUE(again.LoadText(reg.SaveText(), "again.reg", &error)) << error;
  EXPECT_EQ(again.Canonical(), reg.Canonical());
  // Deleting the whole chain afterwards needs no extra section.
  ASSERT_EQ(reg.DeleteKey(HKEY_USERS, "A"), ERROR_SUCCESS);
  EXPECT_EQ(reg.SaveText(), "REGEDIT4\n[HKEY_USERS\\Z]\n\"z\"=\"1\"");
}

TEST(Regedit4, DeletionLinesApplyInFileOrderAndSurviveASave) {
  const std::string text = Crlf(
      "REGEDIT4\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\A\\X]\n"
      "\"x\"=\"1\"\n"
      "\n"
      "[-HKEY_LOCAL_MACHINE\\A]\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\A\\Y]\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\B\\Gone]\n"
      "[-HKEY_LOCAL_MACHINE\\b\\GONE]\n"
      "[-HKEY_LOCAL_MACHINE\\Never\\There]\n"
      "\n");
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.LoadText(text, "del.reg", &error)) << error;
  EXPECT_EQ(reg.SaveText(), text);
  EXPECT_FALSE(reg.KeyExists("HKEY_LOCAL_MACHINE\\A\\X"));
  EXPECT_TRUE(reg.KeyExists("HKEY_LOCAL_MACHINE\\A\\Y"));
  EXPECT_TRUE(reg.KeyExists("HKEY_LOCAL_MACHINE\\B"));  // made implicitly, kept
  EXPECT_FALSE(reg.KeyExists("HKEY_LOCAL_MACHINE\\B\\Gone"));
  EXPECT_FALSE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Never"));

  // Deleting the recreated A: a reload of the save has no A at all, although
  // the section of the first A (deleted by the file itself) is still written.
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "A"), ERROR_SUCCESS);
  const std::string saved = reg.SaveText();
  EXPECT_EQ(saved.find("A\\Y"), std::string::npos);
  hosted::Registry again;
  ASSERT_TRUE(again.LoadText(saved, "again.reg", &error)) << error;
  EXPECT_FALSE(again.KeyExists("HKEY_LOCAL_MACHINE\\A"));
  EXPECT_EQ(again.Canonical(), reg.Canonical());
  // Deleting B, which only a section of a key deleted by the file made.
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "B"), ERROR_SUCCESS);
  hosted::Registry third;
  ASSERT_TRUE(third.LoadText(reg.SaveText(), "third.reg", &error)) << error;
  EXPECT_FALSE(third.KeyExists("HKEY_LOCAL_MACHINE\\B"));
  EXPECT_EQ(third.Canonical(), reg.Canonical());
}

TEST(Regedit4, AnEmptyRegistrySavesAsAnEmptyExport) {
  hosted::Registry reg;
  EXPECT_EQ(reg.SaveText(), "REGEDIT4\r\n\r\n");
  std::string error;
  ASSERT_TRUE(reg.LoadText("REGEDIT4", "bare.reg", &error)) << error;
  EXPECT_EQ(reg.SaveText(), "REGEDIT4");
  EXPECT_TRUE(reg.KeyExists("HKEY_DYN_DATA"));
}

// ------------------------------------------------------------ malformed text

struct Malformed {
  const char *label;
  std::string text;
  int line;
  const char *reason;  // a fragment of the reason
};

const std::vector<Malformed> &MalformedCases() {
  static const std::vector<Malformed> cases = {
      {"empty file", "", 1, "missing REGEDIT4 header"},
      {"no header", "[HKEY_LOCAL_MACHINE\\A]\r\n", 1, "missing REGEDIT4 header"},
      {"regedit5 header", "Windows Registry Editor Version 5.00\r\n", 1, "missing REGEDIT4 header"},
      {"header lower case", "regedit4\r\n", 1, "missing REGEDIT4 header"},
      {"unterminated section", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\r\n", 3,
       "unterminated section"},
      {"text after section", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A] x\r\n", 2,
       "unexpected text after the section"},
      {"empty section", "REGEDIT4\r\n[]\r\n", 2, "empty section name"},
      {"unknown root", "REGEDIT4\r\n[HKEY_LOCAL_MACHIN\\A]\r\n", 2, "unknown root key"},
      {"abbreviated root", "REGEDIT4\r\n[HKLM\\A]\r\n", 2, "unknown root key 'HKLM'"},
      {"doubled backslash", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\\\A]\r\n", 2, "empty key name"},
      {"trailing backslash", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\\]\r\n", 2, "empty key name"},
      {"leading backslash", "REGEDIT4\r\n[\\HKEY_LOCAL_MACHINE\\A]\r\n", 2, "empty key name"},
      {"delete a root", "REGEDIT4\r\n[-HKEY_LOCAL_MACHINE]\r\n", 2, "cannot delete a root key"},
      {"value before section", "REGEDIT4\r\n\r\n\"a\"=\"b\"\r\n", 3, "value before any section"},
      {"default before section", "REGEDIT4\r\n@=\"b\"\r\n", 2, "value before any section"},
      {"text before section", "REGEDIT4\r\nhello\r\n", 2, "text before any section"},
      {"value in deletion section", "REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=\"b\"\r\n", 3,
       "value in a deletion section"},
      {"bad value line", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\nname=\"b\"\r\n", 3,
       "bad value line"},
      {"missing equals", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\" \"b\"\r\n", 3,
       "expected '='"},
      {"missing data", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=\r\n", 3, "no data"},
      {"unterminated name", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a=\"b\r\n", 3,
       "expected '='"},
      {"unterminated string", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=\"b\r\n", 3,
       "unterminated string"},
      {"string ends in backslash", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=\"b\\\r\n", 3,
       "unterminated string"},
      {"bad escape", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=\"b\\n\"\r\n", 3, "bad escape"},
      {"text after string", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=\"b\" c\r\n", 3,
       "unexpected text after the value"},
      {"bad data", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=42\r\n", 3, "bad value data"},
      {"value deletion (REGEDIT5)", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=-\r\n", 3,
       "bad value data"},
      {"bad dword digits", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=dword:12x4\r\n", 3,
       "bad dword"},
      {"dword too long", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=dword:123456789\r\n", 3,
       "bad dword"},
      {"dword empty", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=dword:\r\n", 3, "bad dword"},
      {"bad hex digit", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex:0g\r\n", 3,
       "bad hex data"},
      {"single hex digit", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex:1,02\r\n", 3,
       "bad hex data"},
      {"hex missing comma", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex:01 02\r\n", 3,
       "bad hex data"},
      {"hex trailing comma", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex:01,\r\n", 3,
       "bad hex data"},
      {"bad hex type", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex(z):01\r\n", 3,
       "bad hex type"},
      {"hex without colon", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex 01\r\n", 3,
       "expected ':'"},
      {"bad continuation line",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex:01,\\\r\n  zz\r\n", 4, "bad hex data"},
      {"continuation into blank line",
       "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex:01,\\\r\n\r\n", 4, "bad hex data"},
      {"continuation at end of file", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=hex:01,\\", 3,
       "continuation line missing"},
      {"error on a later line",
       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\B]\n\"b\"=dword:"
       "\n",
       7, "bad dword"},
      {"NUL in key name", std::string("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\0B]\r\n", 36), 2,
       "NUL byte"},
  };
  return cases;
}

class Regedit4Malformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(Regedit4Malformed, IsRefusedWithNameLineAndReason) {
  const Malformed &c = GetParam();
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.LoadText(kSample, "good.reg", &error)) << error;
  const std::string before = reg.Canonical();
  EXPECT_FALSE(reg.LoadText(c.text, "bad.reg", &error));
  const std::string prefix = "bad.reg:" + std::to_string(c.line) + ": ";
  EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
  EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  // The content is as it was.
  EXPECT_EQ(reg.Canonical(), before);
  EXPECT_EQ(reg.SaveText(), kSample);
}

INSTANTIATE_TEST_SUITE_P(Cases, Regedit4Malformed, ::testing::ValuesIn(MalformedCases()),
                         [](const ::testing::TestParamInfo<Malformed> &info) {
                           std::string name;
                           for (const char *p = info.param.label; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

// Mutated exports (damaged bytes, cut lines, stray brackets and escapes):
// each is either refused with a line and reason, or loads into content that
// saves to the same bytes and reloads unchanged, also after deleting a key.
TEST(Regedit4, MutatedTextIsRefusedOrRoundTrips) {
  const std::string seed = kSample + "[-HKEY_LOCAL_MACHINE\\Software\\Alpha]\r\n" +
                           "[HKEY_USERS\\.Default\\X]\r\n\"v\"=hex(7):61,00,\\\r\n  00\r\n";
  const char interesting[] = "\\\"[]-@=,:\r\n (x0";
  std::uint64_t state = 0x9e3779b97f4a7c15ull;
  auto next = [&state](std::size_t n) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    return static_cast<std::size_t>(state % n);
  };
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = seed;
    for (std::size_t edits = 1 + next(3); edits > 0 && !text.empty(); --edits) {
      const std::size_t at = next(text.size());
      switch (next(4)) {
        case 0:
          text[at] = interesting[next(sizeof interesting - 1)];
          break;
        case 1:
          text.erase(at, 1 + next(8));
          break;
        case 2:
          text.insert(at, 1, interesting[next(sizeof interesting - 1)]);
          break;
        default:
          text.resize(at);
          break;
      }
    }
    hosted::Registry reg;
    std::string error;
    if (!reg.LoadText(text, "m.reg", &error)) {
      EXPECT_EQ(error.rfind("m.reg:", 0), 0u) << error;
      continue;
    }
    ++loaded;
    ASSERT_EQ(reg.SaveText(), text);
    reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Zeta");
    reg.DeleteKey(HKEY_USERS, ".Default");
    hosted::Registry again;
    ASSERT_TRUE(again.LoadText(reg.SaveText(), "again.reg", &error)) << error << "\n" << text;
    ASSERT_EQ(again.Canonical(), reg.Canonical()) << text;
  }
  EXPECT_GT(loaded, 100);  // the mutations also exercise the accepting paths
}

// ------------------------------------------------------------------ journal

TEST(Journal, RecordsCarryACheckedEndMarker) {
  const std::string record = hosted::journal::Record("HKEY_LOCAL_MACHINE\\A");
  EXPECT_EQ(record.substr(0, 23), "[-HKEY_LOCAL_MACHINE\\A]");
  std::size_t valid = 0;
  const std::string whole =
      std::string(hosted::journal::kHeader) + record + hosted::journal::Record("HKEY_USERS\\B");
  EXPECT_EQ(hosted::journal::ReadRecords(whole, &valid),
            (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\A", "HKEY_USERS\\B"}));
  EXPECT_EQ(valid, whole.size());
  // Every cut of the last record drops it, and only it.
  for (std::size_t cut = whole.size() - 1; cut > hosted::journal::kHeader.size() + record.size();
       --cut) {
    EXPECT_EQ(hosted::journal::ReadRecords(whole.substr(0, cut), &valid),
              std::vector<std::string>{"HKEY_LOCAL_MACHINE\\A"})
        << cut;
    EXPECT_EQ(valid, hosted::journal::kHeader.size() + record.size());
  }
  // A damaged record ends the journal.
  std::string damaged = whole;
  damaged[hosted::journal::kHeader.size() + 5] = 'X';
  EXPECT_TRUE(hosted::journal::ReadRecords(damaged, &valid).empty());
  EXPECT_EQ(valid, hosted::journal::kHeader.size());
  EXPECT_TRUE(hosted::journal::ReadRecords("REGED", &valid).empty());
  EXPECT_EQ(valid, 0u);
}

class Crash : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_ = std::make_unique<testsupport::TempMachine>(kSample);
    dirFd_ = ::open(machine_->Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dirFd_, 0);
  }
  void TearDown() override { ::close(dirFd_); }
  // registry.reg after Close loads and holds what `reg` held.
  void ExpectFolded(const hosted::Registry &reg) {
    EXPECT_FALSE(machine_->Exists(hosted::journal::kJournalName));
    hosted::Registry loaded;
    std::string error;
    ASSERT_TRUE(loaded.LoadText(machine_->ReadFile("registry.reg"), "registry.reg", &error))
        << error;
    EXPECT_EQ(loaded.Canonical(), reg.Canonical());
  }
  std::unique_ptr<testsupport::TempMachine> machine_;
  int dirFd_ = -1;
};

TEST_F(Crash, AJournalWithATornLastRecordFoldsItsCompleteRecords) {
  const std::string tornRecord = hosted::journal::Record("HKEY_CLASSES_ROOT\\CLSID");
  machine_->WriteFile(hosted::journal::kJournalName,
                      std::string(hosted::journal::kHeader) +
                          hosted::journal::Record("HKEY_LOCAL_MACHINE\\Software\\Zeta") +
                          tornRecord.substr(0, tornRecord.size() - 3));
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  EXPECT_FALSE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Zeta"));
  EXPECT_TRUE(reg.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
  // A new change goes after the complete records, over the torn one.
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Alpha"), ERROR_SUCCESS);
  EXPECT_EQ(machine_->ReadFile(hosted::journal::kJournalName),
            std::string(hosted::journal::kHeader) +
                hosted::journal::Record("HKEY_LOCAL_MACHINE\\Software\\Zeta") +
                hosted::journal::Record("HKEY_LOCAL_MACHINE\\Software\\Alpha"));
  {
    hosted::Registry fresh;
    ASSERT_TRUE(fresh.Open(dirFd_, &error)) << error;
    EXPECT_EQ(fresh.Canonical(), reg.Canonical());
  }
  ASSERT_TRUE(reg.Close(&error)) << error;
  ExpectFolded(reg);
  EXPECT_TRUE(reg.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
}

TEST_F(Crash, AJournalLeftBehindIsFoldedByTheNextOpen) {
  {
    hosted::Registry reg;
    std::string error;
    ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
    ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Zeta\\Deep"), ERROR_SUCCESS);
    ASSERT_EQ(reg.DeleteKey(HKEY_CLASSES_ROOT, "CLSID"), ERROR_SUCCESS);
    // The process dies here: no Close.
  }
  EXPECT_EQ(machine_->ReadFile("registry.reg"), kSample);
  EXPECT_TRUE(machine_->Exists(hosted::journal::kJournalName));

  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  EXPECT_FALSE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Zeta\\Deep"));
  EXPECT_TRUE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Zeta"));
  EXPECT_FALSE(reg.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
  // A run that itself declines still folds what the crashed run did.
  ASSERT_TRUE(reg.Close(&error)) << error;
  ExpectFolded(reg);
  EXPECT_EQ(machine_->ReadFile("registry.reg").find("CLSID"), std::string::npos);
}

TEST_F(Crash, ACrashAfterTheRenameLeavesAJournalOfDoneRecords) {
  // registry.reg already holds the fold; the journal was not yet removed.
  hosted::Registry first;
  std::string error;
  ASSERT_TRUE(first.LoadText(kSample, "x.reg", &error));
  ASSERT_EQ(first.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Zeta"), ERROR_SUCCESS);
  const std::string folded = first.SaveText();
  machine_->WriteFile("registry.reg", folded);
  machine_->WriteFile(hosted::journal::kJournalName,
                      std::string(hosted::journal::kHeader) +
                          hosted::journal::Record("HKEY_LOCAL_MACHINE\\Software\\Zeta"));
  hosted::Registry reg;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  EXPECT_EQ(reg.Canonical(), first.Canonical());
  ASSERT_TRUE(reg.Close(&error)) << error;
  EXPECT_FALSE(machine_->Exists(hosted::journal::kJournalName));
  EXPECT_EQ(machine_->ReadFile("registry.reg"), folded);  // not rewritten
}

TEST_F(Crash, ATornJournalHeaderAndAStaleTempFileAreCleanedUp) {
  machine_->WriteFile(hosted::journal::kJournalName, "REGED");
  machine_->WriteFile(hosted::journal::kTempName, "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\half");
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  EXPECT_EQ(reg.SaveText(), kSample);
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Alpha"), ERROR_SUCCESS);
  EXPECT_EQ(machine_->ReadFile(hosted::journal::kJournalName),
            std::string(hosted::journal::kHeader) +
                hosted::journal::Record("HKEY_LOCAL_MACHINE\\Software\\Alpha"));
  ASSERT_TRUE(reg.Close(&error)) << error;
  EXPECT_FALSE(machine_->Exists(hosted::journal::kTempName));
  ExpectFolded(reg);
}

TEST_F(Crash, AFailedAppendLeavesNoRecordBehind) {
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Alpha"), ERROR_SUCCESS);
  reg.SetFailWrites(true);
  EXPECT_EQ(reg.DeleteKey(HKEY_CLASSES_ROOT, "CLSID"), ERROR_WRITE_FAULT);
  EXPECT_TRUE(reg.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
  EXPECT_EQ(machine_->ReadFile(hosted::journal::kJournalName),
            std::string(hosted::journal::kHeader) +
                hosted::journal::Record("HKEY_LOCAL_MACHINE\\Software\\Alpha"));
  reg.SetFailWrites(false);
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Zeta"), ERROR_SUCCESS);
  {
    hosted::Registry fresh;
    ASSERT_TRUE(fresh.Open(dirFd_, &error)) << error;
    EXPECT_EQ(fresh.Canonical(), reg.Canonical());
    EXPECT_TRUE(fresh.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
  }
  ASSERT_TRUE(reg.Close(&error)) << error;
  ExpectFolded(reg);
}

TEST_F(Crash, TheFoldedFileKeepsTheOriginalMode) {
  ASSERT_EQ(::fchmodat(dirFd_, "registry.reg", 0640, 0), 0);
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Alpha"), ERROR_SUCCESS);
  ASSERT_TRUE(reg.Close(&error)) << error;
  struct stat st {};
  ASSERT_EQ(::fstatat(dirFd_, "registry.reg", &st, AT_SYMLINK_NOFOLLOW), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ExpectFolded(reg);
}

}  // namespace
