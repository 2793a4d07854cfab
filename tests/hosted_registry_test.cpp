// The hosted registry's contract (platform.h, registry.h), run against a
// registry loaded in memory and against one bound to a machine folder. The
// folder-bound variant also checks, after every change, that a fresh load of
// registry.reg with its journal shows it, and that Close leaves a file that
// loads and holds exactly the in-memory content.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/hosted/registry.h"
#include "platform/hosted/registry_journal.h"
#include "support/temp_machine.h"

namespace {

using namespace platform;

// REGEDIT4 text with CR LF line ends, written here with LF.
std::string Crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

const std::string kFixture = Crlf(R"(REGEDIT4

[HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1234&DEV_5678\BUS_00&DEV_0A]
"Driver"="MODEM\\0000"
"Class"="Modem"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0000]
"DriverDesc"="TQ72 PCI Modem"
@="default text"
"Bin"=hex:01,02,03
"Num"=dword:12345678
"Expand"=hex(2):25,77,69,6e,64,69,72,25,00
"ExpandNoTerm"=hex(2):41,42
"Empty"=""
"EmptyBin"=hex:
"Multi"=hex(7):61,00,62,00,00
"Quote"="say \"hi\" \\ back"
"Long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\
  16,17,18,19

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0000\Init]
"1"="AT"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0001]
"DriverDesc"="Other Modem"

[HKEY_LOCAL_MACHINE\Software\Quorvane\TQ19KVN]
"Version"="1.0"

[HKEY_LOCAL_MACHINE\Software\Beta]

[HKEY_LOCAL_MACHINE\Software\alpha]

[HKEY_LOCAL_MACHINE\Software\Zulu]

[HKEY_LOCAL_MACHINE\Software\_Under]

[HKEY_LOCAL_MACHINE\Software\charlie]

[HKEY_CURRENT_USER\Software\Quorvane]
"User"="me"

[HKEY_USERS\.Default\Software\Quorvane]

[HKEY_CLASSES_ROOT\.tq7]
@="TQ7File"

[HKEY_CURRENT_CONFIG\Display\Settings]

[HKEY_DYN_DATA\Config Manager\Enum]

)");

constexpr const char *kModem0000 = "System\\CurrentControlSet\\Services\\Class\\Modem\\0000";

// ---------------------------------------------------------------- backends

// Content loaded by LoadText, in memory only.
class MemoryBackend {
 public:
  static constexpr bool kDurable = false;
  void SetUp(hosted::Registry &registry, const std::string &text) {
    std::string error;
    ASSERT_TRUE(registry.LoadText(text, "fixture.reg", &error)) << error;
  }
  void CheckDurable(const hosted::Registry &) {}
  void TearDown(hosted::Registry &) {}
};

// Content bound with Open() to registry.reg of a scratch machine folder.
class FileBackend {
 public:
  static constexpr bool kDurable = true;
  ~FileBackend() {
    if (dirFd_ >= 0) ::close(dirFd_);
  }
  void SetUp(hosted::Registry &registry, const std::string &text) {
    machine_ = std::make_unique<testsupport::TempMachine>(text);
    dirFd_ = ::open(machine_->Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dirFd_, 0);
    std::string error;
    ASSERT_TRUE(registry.Open(dirFd_, &error)) << error;
    ASSERT_TRUE(registry.IsOpen());
  }
  // A fresh registry opened on the folder (folding the journal in memory)
  // holds what the bound one holds. Opening changes nothing on disk, and
  // dropping it without Close leaves the folder as it was.
  void CheckDurable(const hosted::Registry &registry) {
    hosted::Registry fresh;
    std::string error;
    ASSERT_TRUE(fresh.Open(dirFd_, &error)) << error;
    EXPECT_EQ(fresh.Canonical(), registry.Canonical());
  }
  void TearDown(hosted::Registry &registry) {
    std::string error;
    ASSERT_TRUE(registry.Close(&error)) << error;
    EXPECT_FALSE(registry.IsOpen());
    EXPECT_FALSE(machine_->Exists(hosted::journal::kJournalName));
    EXPECT_FALSE(machine_->Exists(hosted::journal::kTempName));
    hosted::Registry loaded;
    ASSERT_TRUE(loaded.LoadText(machine_->ReadFile("registry.reg"), "registry.reg", &error))
        << error;
    EXPECT_EQ(loaded.Canonical(), registry.Canonical());
  }
  testsupport::TempMachine &machine() { return *machine_; }

 private:
  std::unique_ptr<testsupport::TempMachine> machine_;
  int dirFd_ = -1;
};

template <typename Backend>
class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override { backend_.SetUp(reg_, kFixture); }
  void TearDown() override {
    for (HKEY key : opened_) reg_.CloseKey(key);
    backend_.TearDown(reg_);
  }

  // Opens a key that must exist; closed at the end of the test.
  HKEY Open(HKEY from, const char *subKey) {
    HKEY key = nullptr;
    EXPECT_EQ(reg_.OpenKey(from, subKey, &key), ERROR_SUCCESS) << subKey;
    opened_.push_back(key);
    return key;
  }
  std::vector<std::string> Children(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD chars = sizeof name;
      const LONG status = reg_.EnumKey(key, i, name, &chars);
      if (status == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(status, ERROR_SUCCESS);
      if (status != ERROR_SUCCESS) break;
      EXPECT_EQ(chars, std::strlen(name));
      names.emplace_back(name);
    }
    return names;
  }
  void CheckDurable() { backend_.CheckDurable(reg_); }
  void ExpectKeyDeleted(HKEY key) {
    HKEY result = nullptr;
    EXPECT_EQ(reg_.OpenKey(key, nullptr, &result), ERROR_KEY_DELETED);
    EXPECT_EQ(reg_.OpenKey(key, "Init", &result), ERROR_KEY_DELETED);
    char name[64];
    DWORD chars = sizeof name;
    EXPECT_EQ(reg_.EnumKey(key, 0, name, &chars), ERROR_KEY_DELETED);
    DWORD type = 0, bytes = 0;
    EXPECT_EQ(reg_.QueryValue(key, "DriverDesc", &type, nullptr, &bytes), ERROR_KEY_DELETED);
    EXPECT_EQ(reg_.DeleteKey(key, "Init"), ERROR_KEY_DELETED);
    EXPECT_EQ(result, nullptr);
  }

  Backend backend_;
  hosted::Registry reg_;
  std::vector<HKEY> opened_;
};

using Backends = ::testing::Types<MemoryBackend, FileBackend>;
class BackendNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, MemoryBackend> ? "Memory" : "File";
  }
};
TYPED_TEST_SUITE(RegistryContract, Backends, BackendNames);

// ------------------------------------------------------------------ handles

TYPED_TEST(RegistryContract, PredefinedRootsAreAlwaysValid) {
  const std::pair<HKEY, const char *> roots[] = {
      {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},     {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
      {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},   {HKEY_USERS, "HKEY_USERS"},
      {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
  };
  for (const auto &[root, name] : roots) {
    EXPECT_EQ(this->reg_.PathOf(root), name);
    EXPECT_EQ(this->reg_.CloseKey(root), ERROR_SUCCESS);  // and still valid after
    HKEY self = nullptr;
    ASSERT_EQ(this->reg_.OpenKey(root, nullptr, &self), ERROR_SUCCESS) << name;
    EXPECT_NE(self, root);
    EXPECT_EQ(this->reg_.PathOf(self), name);
    EXPECT_EQ(this->reg_.CloseKey(self), ERROR_SUCCESS);
    ASSERT_EQ(this->reg_.OpenKey(root, "", &self), ERROR_SUCCESS) << name;
    EXPECT_EQ(this->reg_.CloseKey(self), ERROR_SUCCESS);
    EXPECT_FALSE(this->Children(root).empty()) << name;
  }
  EXPECT_TRUE(this->reg_.KeyExists("HKEY_DYN_DATA\\Config Manager\\Enum"));
  EXPECT_TRUE(this->reg_.KeyExists("HKEY_CURRENT_CONFIG\\Display\\Settings"));
  EXPECT_EQ(this->reg_.OpenHandleCount(), 0u);
}

TYPED_TEST(RegistryContract, OpenKeyReturnsFreshHandles) {
  HKEY a = this->Open(HKEY_LOCAL_MACHINE, "Software");
  HKEY b = this->Open(HKEY_LOCAL_MACHINE, "Software");
  HKEY c = this->Open(a, nullptr);
  HKEY d = this->Open(a, "");
  EXPECT_NE(a, b);
  EXPECT_NE(a, c);
  EXPECT_NE(c, d);
  EXPECT_EQ(this->reg_.OpenHandleCount(), 4u);
  EXPECT_EQ(this->reg_.PathOf(d), "HKEY_LOCAL_MACHINE\\Software");
  EXPECT_EQ(this->reg_.CloseKey(a), ERROR_SUCCESS);
  EXPECT_EQ(this->reg_.CloseKey(a), ERROR_INVALID_HANDLE);
  EXPECT_EQ(this->reg_.PathOf(a), "");
  // The others still work; a closed handle's value is never handed out again.
  EXPECT_EQ(this->Children(b).size(), 6u);
  HKEY e = this->Open(HKEY_LOCAL_MACHINE, "Software");
  EXPECT_NE(e, a);
  EXPECT_EQ(this->reg_.OpenHandleCount(), 4u);
}

TYPED_TEST(RegistryContract, MissingKeysAreNotFoundAndLeaveTheResult) {
  HKEY result = reinterpret_cast<HKEY>(0x1234);
  EXPECT_EQ(this->reg_.OpenKey(HKEY_LOCAL_MACHINE, "Software\\Missing", &result),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(this->reg_.OpenKey(HKEY_LOCAL_MACHINE, "Missing\\Software", &result),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(result, reinterpret_cast<HKEY>(0x1234));
  EXPECT_EQ(this->reg_.OpenKey(HKEY_LOCAL_MACHINE, "Software", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(this->reg_.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(this->reg_.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Missing"));
  EXPECT_FALSE(this->reg_.KeyExists("HKEY_NOWHERE\\Software"));
  EXPECT_EQ(this->reg_.OpenHandleCount(), 0u);
}

TYPED_TEST(RegistryContract, UnknownHandlesAreInvalid) {
  const HKEY unknown[] = {nullptr, reinterpret_cast<HKEY>(0x1234),
                          PredefinedKey(0x80000004u),  // HKEY_PERFORMANCE_DATA: not on 95/98
                          PredefinedKey(0x80000007u)};
  for (HKEY key : unknown) {
    HKEY result = nullptr;
    EXPECT_EQ(this->reg_.OpenKey(key, nullptr, &result), ERROR_INVALID_HANDLE);
    EXPECT_EQ(this->reg_.OpenKey(key, "Software", &result), ERROR_INVALID_HANDLE);
    char name[16];
    DWORD chars = sizeof name;
    EXPECT_EQ(this->reg_.EnumKey(key, 0, name, &chars), ERROR_INVALID_HANDLE);
    DWORD bytes = 0;
    EXPECT_EQ(this->reg_.QueryValue(key, "x", nullptr, nullptr, &bytes), ERROR_INVALID_HANDLE);
    EXPECT_EQ(this->reg_.DeleteKey(key, "Software"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(this->reg_.CloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(this->reg_.PathOf(key), "");
  }
  EXPECT_TRUE(this->reg_.KeyExists("HKEY_LOCAL_MACHINE\\Software"));
}

// ------------------------------------------------------------------- names

TYPED_TEST(RegistryContract, NamesAreCaseInsensitiveAndKeepTheirCase) {
  HKEY key = this->Open(HKEY_LOCAL_MACHINE, "sOFTWARE\\QUORVANE\\tq19kvn");
  EXPECT_EQ(this->reg_.PathOf(key), "HKEY_LOCAL_MACHINE\\Software\\Quorvane\\TQ19KVN");
  char data[16];
  DWORD bytes = sizeof data;
  DWORD type = 0;
  ASSERT_EQ(this->reg_.QueryValue(key, "VERSION", &type, reinterpret_cast<BYTE *>(data), &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_STREQ(data, "1.0");
  HKEY software = this->Open(HKEY_LOCAL_MACHINE, "software");
  EXPECT_EQ(this->Children(software)[3], "Quorvane");
  EXPECT_TRUE(this->reg_.KeyExists("hkey_local_machine\\SOFTWARE\\quorvane"));
  EXPECT_FALSE(this->reg_.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Quorvane\\"));
  EXPECT_FALSE(this->reg_.KeyExists("HKEY_LOCAL_MACHINE\\\\Software"));
}

TYPED_TEST(RegistryContract, SubkeysEnumerateInCaseInsensitiveOrder) {
  HKEY software = this->Open(HKEY_LOCAL_MACHINE, "Software");
  // Upper-case folding: '_' (0x5F) sorts after 'Z' (0x5A).
  EXPECT_EQ(this->Children(software),
            (std::vector<std::string>{"alpha", "Beta", "charlie", "Quorvane", "Zulu", "_Under"}));
  EXPECT_EQ(this->Children(HKEY_LOCAL_MACHINE),
            (std::vector<std::string>{"Enum", "Software", "System"}));
}

TYPED_TEST(RegistryContract, EnumKeyCapacityAtItsLimitAndOnePast) {
  HKEY software = this->Open(HKEY_LOCAL_MACHINE, "Software");
  // Index 3 is "Quorvane", 8 characters: 9 with the terminator.
  char name[16];
  std::memset(name, '#', sizeof name);
  DWORD chars = 8;
  EXPECT_EQ(this->reg_.EnumKey(software, 3, name, &chars), ERROR_MORE_DATA);
  EXPECT_EQ(name[0], '#');  // untouched
  EXPECT_EQ(chars, 8u);
  chars = 0;
  EXPECT_EQ(this->reg_.EnumKey(software, 3, name, &chars), ERROR_MORE_DATA);
  chars = 9;
  ASSERT_EQ(this->reg_.EnumKey(software, 3, name, &chars), ERROR_SUCCESS);
  EXPECT_EQ(chars, 8u);
  EXPECT_STREQ(name, "Quorvane");
  EXPECT_EQ(name[9], '#');  // nothing past the terminator
  chars = sizeof name;
  EXPECT_EQ(this->reg_.EnumKey(software, 5, name, &chars), ERROR_SUCCESS);
  EXPECT_STREQ(name, "_Under");
  chars = sizeof name;
  EXPECT_EQ(this->reg_.EnumKey(software, 6, name, &chars), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(this->reg_.EnumKey(software, 0xFFFFFFFFu, name, &chars), ERROR_NO_MORE_ITEMS);
  HKEY leaf = this->Open(software, "alpha");
  EXPECT_EQ(this->reg_.EnumKey(leaf, 0, name, &chars), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(this->reg_.EnumKey(software, 0, nullptr, &chars), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(this->reg_.EnumKey(software, 0, name, nullptr), ERROR_INVALID_PARAMETER);
}

// ------------------------------------------------------------------ values

struct ValueCase {
  const char *name;  // null: the default value
  DWORD type;
  std::string bytes;  // what a query returns, terminator included
};

TYPED_TEST(RegistryContract, QueryValueEveryTypeAtItsLimitAndOnePast) {
  HKEY key = this->Open(HKEY_LOCAL_MACHINE, kModem0000);
  std::string longBytes;
  for (int i = 0; i < 0x1a; ++i) longBytes += static_cast<char>(i);
  const ValueCase cases[] = {
      {"DriverDesc", REG_SZ, std::string("TQ72 PCI Modem", 15)},
      {nullptr, REG_SZ, std::string("default text", 13)},
      {"", REG_SZ, std::string("default text", 13)},
      {"Bin", REG_BINARY, std::string("\x01\x02\x03", 3)},
      {"Num", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
      {"Expand", REG_EXPAND_SZ, std::string("%windir%", 9)},
      {"ExpandNoTerm", REG_EXPAND_SZ, std::string("AB", 3)},  // terminator supplied
      {"Empty", REG_SZ, std::string(1, '\0')},
      {"EmptyBin", REG_BINARY, std::string()},
      {"Multi", REG_MULTI_SZ, std::string("a\0b\0", 5)},
      {"Quote", REG_SZ, std::string("say \"hi\" \\ back", 16)},
      {"Long", REG_BINARY, longBytes},
  };
  for (const ValueCase &c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    const DWORD size = static_cast<DWORD>(c.bytes.size());
    // Size query.
    DWORD type = 0xdead, bytes = 0;
    ASSERT_EQ(this->reg_.QueryValue(key, c.name, &type, nullptr, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(bytes, size);
    // Exactly at the limit.
    std::string buffer(size + 4, '#');
    bytes = size;
    type = 0;
    ASSERT_EQ(
        this->reg_.QueryValue(key, c.name, &type, reinterpret_cast<BYTE *>(buffer.data()), &bytes),
        ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(bytes, size);
    EXPECT_EQ(buffer.substr(0, size), c.bytes);
    EXPECT_EQ(buffer.substr(size), "####");
    // One byte short: ERROR_MORE_DATA, the size needed, the buffer untouched.
    if (size > 0) {
      std::string small(size + 4, '#');
      bytes = size - 1;
      EXPECT_EQ(this->reg_.QueryValue(key, c.name, nullptr, reinterpret_cast<BYTE *>(small.data()),
                                      &bytes),
                ERROR_MORE_DATA);
      EXPECT_EQ(bytes, size);
      EXPECT_EQ(small, std::string(size + 4, '#'));
    }
  }
  // Missing values, and the type alone.
  DWORD type = 0xdead, bytes = 7;
  EXPECT_EQ(this->reg_.QueryValue(key, "Missing", &type, nullptr, &bytes), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(bytes, 7u);
  EXPECT_EQ(this->reg_.QueryValue(key, "Num", &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  BYTE data[4];
  EXPECT_EQ(this->reg_.QueryValue(key, "Num", &type, data, nullptr), ERROR_INVALID_PARAMETER);
  // A key without a default value.
  HKEY init = this->Open(key, "Init");
  EXPECT_EQ(this->reg_.QueryValue(init, nullptr, &type, nullptr, &bytes), ERROR_FILE_NOT_FOUND);
  // Value names are names, not paths: a backslash in one is no path element.
  EXPECT_EQ(this->reg_.QueryValue(key, "Init\\1", &type, nullptr, &bytes), ERROR_FILE_NOT_FOUND);
}

// ---------------------------------------------------------------- deletion

TYPED_TEST(RegistryContract, DeleteKeyRemovesTheWholeSubtree) {
  HKEY modem = this->Open(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\Modem");
  HKEY instance = this->Open(modem, "0000");
  HKEY init = this->Open(instance, "Init");
  HKEY instanceAgain = this->Open(HKEY_LOCAL_MACHINE, kModem0000);

  ASSERT_EQ(this->reg_.DeleteKey(modem, "0000"), ERROR_SUCCESS);
  this->CheckDurable();
  EXPECT_FALSE(this->reg_.KeyExists(std::string("HKEY_LOCAL_MACHINE\\") + kModem0000));
  EXPECT_FALSE(this->reg_.KeyExists(std::string("HKEY_LOCAL_MACHINE\\") + kModem0000 + "\\Init"));
  EXPECT_EQ(this->Children(modem), std::vector<std::string>{"0001"});

  // Handles on the key, on a descendant, and a second handle: all deleted.
  this->ExpectKeyDeleted(instance);
  this->ExpectKeyDeleted(init);
  this->ExpectKeyDeleted(instanceAgain);
  // They keep their paths, and closing releases them.
  EXPECT_EQ(this->reg_.PathOf(init), std::string("HKEY_LOCAL_MACHINE\\") + kModem0000 + "\\Init");
  const std::size_t before = this->reg_.OpenHandleCount();
  EXPECT_EQ(this->reg_.CloseKey(init), ERROR_SUCCESS);
  EXPECT_EQ(this->reg_.CloseKey(init), ERROR_INVALID_HANDLE);
  EXPECT_EQ(this->reg_.OpenHandleCount(), before - 1);

  // The parent and the siblings are untouched; the key is gone for good.
  HKEY result = nullptr;
  EXPECT_EQ(this->reg_.OpenKey(modem, "0000", &result), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(this->reg_.DeleteKey(modem, "0000"), ERROR_FILE_NOT_FOUND);
  HKEY other = this->Open(modem, "0001");
  DWORD bytes = 0;
  EXPECT_EQ(this->reg_.QueryValue(other, "DriverDesc", nullptr, nullptr, &bytes), ERROR_SUCCESS);
  this->CheckDurable();
}

TYPED_TEST(RegistryContract, DeletingAnAncestorDeletesHandlesBelowIt) {
  HKEY tq = this->Open(HKEY_LOCAL_MACHINE, "Software\\Quorvane\\TQ19KVN");
  // Through a case-folded path from the root.
  ASSERT_EQ(this->reg_.DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\quorvane"), ERROR_SUCCESS);
  this->CheckDurable();
  DWORD bytes = 0;
  EXPECT_EQ(this->reg_.QueryValue(tq, "Version", nullptr, nullptr, &bytes), ERROR_KEY_DELETED);
  EXPECT_EQ(this->reg_.PathOf(tq), "HKEY_LOCAL_MACHINE\\Software\\Quorvane\\TQ19KVN");
  // The same name under other roots is another key.
  EXPECT_TRUE(this->reg_.KeyExists("HKEY_CURRENT_USER\\Software\\Quorvane"));
  EXPECT_TRUE(this->reg_.KeyExists("HKEY_USERS\\.Default\\Software\\Quorvane"));
  HKEY software = this->Open(HKEY_LOCAL_MACHINE, "Software");
  EXPECT_EQ(this->Children(software),
            (std::vector<std::string>{"alpha", "Beta", "charlie", "Zulu", "_Under"}));
}

TYPED_TEST(RegistryContract, DeletesUnderEveryRootAndManyInARow) {
  const std::pair<HKEY, const char *> targets[] = {
      {HKEY_CLASSES_ROOT, ".tq7"},
      {HKEY_CURRENT_USER, "Software\\Quorvane"},
      {HKEY_USERS, ".Default"},
      {HKEY_CURRENT_CONFIG, "Display"},
      {HKEY_DYN_DATA, "Config Manager\\Enum"},
      {HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_1234&DEV_5678\\BUS_00&DEV_0A"},
      {HKEY_LOCAL_MACHINE, "Software\\Zulu"},
      {HKEY_LOCAL_MACHINE, "Software\\alpha"},
  };
  for (const auto &[root, path] : targets) {
    const std::string full = this->reg_.PathOf(root) + "\\" + path;
    ASSERT_TRUE(this->reg_.KeyExists(full));
    ASSERT_EQ(this->reg_.DeleteKey(root, path), ERROR_SUCCESS) << full;
    EXPECT_FALSE(this->reg_.KeyExists(full));
    this->CheckDurable();
  }
  EXPECT_TRUE(this->reg_.KeyExists("HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1234&DEV_5678"));
  EXPECT_TRUE(this->reg_.KeyExists("HKEY_DYN_DATA\\Config Manager"));
}

TYPED_TEST(RegistryContract, EmptyPathElementsAreRefusedEverywhere) {
  const char *bad[] = {"\\Software", "Software\\",           "Software\\\\Quorvane",         "\\",
                       "\\\\",       "Software\\Quorvane\\", "Software\\Quorvane\\\\TQ19KVN"};
  HKEY software = this->Open(HKEY_LOCAL_MACHINE, "Software");
  const std::string before = this->reg_.Canonical();
  for (const char *path : bad) {
    SCOPED_TRACE(path);
    HKEY result = nullptr;
    EXPECT_EQ(this->reg_.OpenKey(HKEY_LOCAL_MACHINE, path, &result), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(this->reg_.OpenKey(software, path, &result), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(this->reg_.DeleteKey(HKEY_LOCAL_MACHINE, path), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(this->reg_.DeleteKey(software, path), ERROR_INVALID_PARAMETER);
    // Even on an unknown handle the path is refused first.
    EXPECT_EQ(this->reg_.DeleteKey(reinterpret_cast<HKEY>(0x1234), path), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(result, nullptr);
  }
  EXPECT_EQ(this->reg_.Canonical(), before);
  this->CheckDurable();
}

TYPED_TEST(RegistryContract, DeleteKeyNeverDeletesThroughAnEmptyPath) {
  HKEY tq = this->Open(HKEY_LOCAL_MACHINE, "Software\\Quorvane\\TQ19KVN");
  const std::string before = this->reg_.Canonical();
  EXPECT_EQ(this->reg_.DeleteKey(tq, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(this->reg_.DeleteKey(tq, ""), ERROR_INVALID_PARAMETER);
  // Nor a predefined root.
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                    HKEY_CURRENT_CONFIG, HKEY_DYN_DATA}) {
    EXPECT_EQ(this->reg_.DeleteKey(root, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(this->reg_.DeleteKey(root, ""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(this->reg_.DeleteKey(root, "HKEY_LOCAL_MACHINE"), ERROR_FILE_NOT_FOUND);
  }
  EXPECT_EQ(this->reg_.Canonical(), before);
  DWORD bytes = 0;
  EXPECT_EQ(this->reg_.QueryValue(tq, "Version", nullptr, nullptr, &bytes), ERROR_SUCCESS);
  this->CheckDurable();
}

TYPED_TEST(RegistryContract, SaveThenLoadHoldsTheSameContent) {
  const std::string unchanged = this->reg_.SaveText();
  EXPECT_EQ(unchanged, kFixture);  // byte-identical
  ASSERT_EQ(this->reg_.DeleteKey(HKEY_LOCAL_MACHINE, kModem0000), ERROR_SUCCESS);
  ASSERT_EQ(this->reg_.DeleteKey(HKEY_CLASSES_ROOT, ".tq7"), ERROR_SUCCESS);
  this->CheckDurable();
  const std::string saved = this->reg_.SaveText();
  hosted::Registry loaded;
  std::string error;
  ASSERT_TRUE(loaded.LoadText(saved, "saved.reg", &error)) << error;
  EXPECT_EQ(loaded.Canonical(), this->reg_.Canonical());
  EXPECT_EQ(loaded.SaveText(), saved);
  // The sections left keep their bytes: everything saved is a piece of the file.
  EXPECT_EQ(saved.find("Init"), std::string::npos);
  EXPECT_NE(
      saved.find("[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\TQ19KVN]\r\n\"Version\"=\"1.0\"\r\n"),
      std::string::npos);
}

TYPED_TEST(RegistryContract, AChangeThatCannotBeMadeDurableFailsAndChangesNothing) {
  HKEY tq = this->Open(HKEY_LOCAL_MACHINE, "Software\\Quorvane\\TQ19KVN");
  const std::string before = this->reg_.Canonical();
  this->reg_.SetFailWrites(true);
  if constexpr (TypeParam::kDurable) {
    EXPECT_EQ(this->reg_.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Quorvane"), ERROR_WRITE_FAULT);
    EXPECT_EQ(this->reg_.Canonical(), before);
    DWORD bytes = 0;
    EXPECT_EQ(this->reg_.QueryValue(tq, "Version", nullptr, nullptr, &bytes), ERROR_SUCCESS);
    this->CheckDurable();  // the torn record is not replayed
    this->reg_.SetFailWrites(false);
  }
  // A memory registry has nothing to write: the hook changes nothing there.
  ASSERT_EQ(this->reg_.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Quorvane"), ERROR_SUCCESS);
  this->reg_.SetFailWrites(false);
  EXPECT_FALSE(this->reg_.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Quorvane"));
  this->CheckDurable();
  ASSERT_EQ(this->reg_.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Beta"), ERROR_SUCCESS);
  this->CheckDurable();
}

// ------------------------------------------------- the machine-folder binding

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_ = std::make_unique<testsupport::TempMachine>(kFixture);
    dirFd_ = ::open(machine_->Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dirFd_, 0);
  }
  void TearDown() override { ::close(dirFd_); }
  struct timespec Mtime(const char *name) {
    struct stat st {};
    EXPECT_EQ(::fstatat(dirFd_, name, &st, AT_SYMLINK_NOFOLLOW), 0);
    return st.st_mtim;
  }
  std::unique_ptr<testsupport::TempMachine> machine_;
  int dirFd_ = -1;
};

TEST_F(RegistryFile, ARunThatChangesNothingLeavesTheFileAlone) {
  const struct timespec before = Mtime("registry.reg");
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  HKEY key = nullptr;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, "Software", &key), ERROR_SUCCESS);
  EXPECT_EQ(reg.DeleteKey(key, "Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.DeleteKey(key, ""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.CloseKey(key), ERROR_SUCCESS);
  EXPECT_FALSE(machine_->Exists(hosted::journal::kJournalName));
  ASSERT_TRUE(reg.Close(&error)) << error;
  EXPECT_EQ(machine_->ReadFile("registry.reg"), kFixture);
  const struct timespec after = Mtime("registry.reg");
  EXPECT_EQ(after.tv_sec, before.tv_sec);
  EXPECT_EQ(after.tv_nsec, before.tv_nsec);
  EXPECT_FALSE(machine_->Exists(hosted::journal::kJournalName));
}

TEST_F(RegistryFile, EachChangeIsJournalledBeforeItsCallReturns) {
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "software\\QUORVANE"), ERROR_SUCCESS);
  // Names as stored, whatever case the call used; registry.reg not yet touched.
  EXPECT_EQ(machine_->ReadFile(hosted::journal::kJournalName),
            "REGEDIT4\n" + hosted::journal::Record("HKEY_LOCAL_MACHINE\\Software\\Quorvane"));
  EXPECT_EQ(machine_->ReadFile("registry.reg"), kFixture);
  ASSERT_EQ(reg.DeleteKey(HKEY_CLASSES_ROOT, ".TQ7"), ERROR_SUCCESS);
  EXPECT_EQ(machine_->ReadFile(hosted::journal::kJournalName),
            "REGEDIT4\n" + hosted::journal::Record("HKEY_LOCAL_MACHINE\\Software\\Quorvane") +
                hosted::journal::Record("HKEY_CLASSES_ROOT\\.tq7"));
  ASSERT_TRUE(reg.Close(&error)) << error;
  EXPECT_FALSE(machine_->Exists(hosted::journal::kJournalName));
  const std::string folded = machine_->ReadFile("registry.reg");
  EXPECT_EQ(folded.find("Quorvane\\TQ19KVN"), std::string::npos);
  EXPECT_EQ(folded.find(".tq7"), std::string::npos);
  EXPECT_NE(folded.find("[HKEY_CURRENT_USER\\Software\\Quorvane]"), std::string::npos);
}

TEST_F(RegistryFile, AFailedFoldKeepsTheJournalAndTheOldFile) {
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  ASSERT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Beta"), ERROR_SUCCESS);
  reg.SetFailWrites(true);
  EXPECT_FALSE(reg.Close(&error));
  EXPECT_NE(error.find(hosted::journal::kTempName), std::string::npos) << error;
  EXPECT_TRUE(reg.IsOpen());
  EXPECT_EQ(machine_->ReadFile("registry.reg"), kFixture);
  EXPECT_TRUE(machine_->Exists(hosted::journal::kJournalName));
  EXPECT_FALSE(machine_->Exists(hosted::journal::kTempName));
  {
    hosted::Registry fresh;
    ASSERT_TRUE(fresh.Open(dirFd_, &error)) << error;
    EXPECT_FALSE(fresh.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Beta"));
  }
  reg.SetFailWrites(false);
  ASSERT_TRUE(reg.Close(&error)) << error;
  EXPECT_FALSE(machine_->Exists(hosted::journal::kJournalName));
  hosted::Registry loaded;
  ASSERT_TRUE(loaded.LoadText(machine_->ReadFile("registry.reg"), "registry.reg", &error));
  EXPECT_EQ(loaded.Canonical(), reg.Canonical());
  EXPECT_FALSE(loaded.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Beta"));
}

TEST_F(RegistryFile, ASymlinkedRegistryIsRefused) {
  // The link points at a registry outside the machine folder.
  testsupport::TempMachine outside(kFixture);
  ASSERT_EQ(::unlinkat(dirFd_, "registry.reg", 0), 0);
  ASSERT_EQ(::symlinkat(outside.HostPath("registry.reg").c_str(), dirFd_, "registry.reg"), 0);
  hosted::Registry reg;
  std::string error;
  EXPECT_FALSE(reg.Open(dirFd_, &error));
  EXPECT_NE(error.find("registry.reg is a symbolic link"), std::string::npos) << error;
  EXPECT_FALSE(reg.IsOpen());
  EXPECT_FALSE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Software"));  // content as it was: empty
  EXPECT_EQ(outside.ReadFile("registry.reg"), kFixture);
}

TEST_F(RegistryFile, ASymlinkedJournalIsRefused) {
  testsupport::TempMachine outside(kFixture);
  ASSERT_EQ(
      ::symlinkat(outside.HostPath("registry.reg").c_str(), dirFd_, hosted::journal::kJournalName),
      0);
  hosted::Registry reg;
  std::string error;
  EXPECT_FALSE(reg.Open(dirFd_, &error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
  EXPECT_EQ(outside.ReadFile("registry.reg"), kFixture);
  EXPECT_EQ(machine_->ReadFile("registry.reg"), kFixture);
}

TEST_F(RegistryFile, OpenRefusalsLeaveTheContentAsItWas) {
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.LoadText(kFixture, "mem.reg", &error));
  const std::string before = reg.Canonical();
  machine_->WriteFile("registry.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\r\n");
  EXPECT_FALSE(reg.Open(dirFd_, &error));
  EXPECT_EQ(error, "registry.reg:2: unterminated section (no closing ']')");
  EXPECT_EQ(reg.Canonical(), before);
  ASSERT_EQ(::unlinkat(dirFd_, "registry.reg", 0), 0);
  EXPECT_FALSE(reg.Open(dirFd_, &error));
  EXPECT_NE(error.find("no registry.reg"), std::string::npos) << error;
  ASSERT_EQ(::mkdirat(dirFd_, "registry.reg", 0755), 0);
  EXPECT_FALSE(reg.Open(dirFd_, &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_EQ(reg.Canonical(), before);
  EXPECT_FALSE(reg.IsOpen());
}

TEST_F(RegistryFile, BoundRegistriesRefuseLoadTextAndASecondOpen) {
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  EXPECT_FALSE(reg.Open(dirFd_, &error));
  EXPECT_FALSE(reg.LoadText("REGEDIT4\r\n", "x.reg", &error));
  EXPECT_TRUE(reg.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Beta"));
  ASSERT_TRUE(reg.Close(&error)) << error;
  EXPECT_TRUE(reg.Close(&error));  // closing an unbound registry is a no-op
}

TEST_F(RegistryFile, HandlesFromReplacedContentBehaveAsDeleted) {
  hosted::Registry reg;
  std::string error;
  ASSERT_TRUE(reg.LoadText(kFixture, "mem.reg", &error));
  HKEY key = nullptr;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, "Software\\Beta", &key), ERROR_SUCCESS);
  ASSERT_TRUE(reg.Open(dirFd_, &error)) << error;
  HKEY result = nullptr;
  EXPECT_EQ(reg.OpenKey(key, nullptr, &result), ERROR_KEY_DELETED);
  EXPECT_EQ(reg.PathOf(key), "HKEY_LOCAL_MACHINE\\Software\\Beta");
  EXPECT_EQ(reg.CloseKey(key), ERROR_SUCCESS);
  ASSERT_TRUE(reg.Close(&error)) << error;
}

}  // namespace
