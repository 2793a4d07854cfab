// What the removal logic may rely on from each call of platform.h, stated
// over the calls alone, so that the same suite runs against every
// implementation: the hosted machine here, the Win32 API under Wine in both
// of its registry modes. A scratch machine provides the keys and files; the
// calls under test are only ever platform:: ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "support/scratch_machine.h"

namespace {

using namespace platform;
using namespace std::string_literals;
using Names = std::vector<std::string>;

std::vector<scratch::Key> Keys() {
  using scratch::Text;
  return {
      {"Class\\Modem\\0000",
       {Text("DriverDesc", "TQ72 PCI Modem"),
        Text("", "default text"),
        Text("Empty", ""),
        {"Raw", REG_SZ, "AB"},  // stored without its terminator
        {"Bin", REG_BINARY, "\1\2\0\3"s},
        {"Num", REG_DWORD, "\x78\x56\x34\x12"}}},
      {"Class\\Modem\\0000\\Init", {Text("1", "AT")}},
      {"Class\\Modem\\0001", {}},
      {"Software\\Quorvane\\TQ19KVN", {Text("Version", "1.0")}},
      {"Software\\alpha", {}},
      {"Software\\Beta", {}},
      {"Software\\Zulu", {}},
  };
}

std::string Upper(std::string text) {
  for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class Contract : public testing::Test {
 protected:
  HKEY Open(HKEY from, const char *path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(from, path, 0, KEY_READ, &key), ERROR_SUCCESS) << path;
    opened_.push_back(key);
    return key;
  }
  void TearDown() override {
    for (HKEY key : opened_) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
  // The names of key's subkeys, in upper case and sorted: the order is each
  // implementation's own.
  static Names Subkeys(HKEY key) {
    Names names;
    char name[256];
    DWORD chars = sizeof name;
    for (DWORD index = 0; RegEnumKeyExA(key, index, name, &chars, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_SUCCESS;
         ++index, chars = sizeof name) {
      EXPECT_EQ(chars, std::string(name).size());
      names.push_back(Upper(name));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Path(const std::string &name) const { return machine_.PathOf(name); }

  scratch::Machine machine_{Keys(), {{"old.txt", "old content"}, {"Folder\\inner.txt", "x"}}};
  const HKEY root_ = machine_.LocalMachine();
  std::vector<HKEY> opened_;
};

// ------------------------------------------------------------------ registry

TEST_F(Contract, OpenFindsKeysCaseInsensitivelyAndRefusesEmptyElements) {
  const HKEY classKey = Open(root_, "Class");
  // From the root (false) or from Class (true).
  const std::tuple<bool, const char *, LONG> cases[] = {
      {false, "Class\\Modem\\0000", ERROR_SUCCESS},
      {false, "cLASS\\modem\\0000\\INIT", ERROR_SUCCESS},
      {true, "Modem\\0001", ERROR_SUCCESS},
      {false, "Class\\Missing", ERROR_FILE_NOT_FOUND},
      {false, "Missing\\Class", ERROR_FILE_NOT_FOUND},
      {true, "Modem\\0002", ERROR_FILE_NOT_FOUND},
      {false, "\\Class", ERROR_INVALID_PARAMETER},
      {false, "Class\\", ERROR_INVALID_PARAMETER},
      {false, "Class\\\\Modem", ERROR_INVALID_PARAMETER},
      {true, "Modem\\\\0000", ERROR_INVALID_PARAMETER},
      {true, "\\", ERROR_INVALID_PARAMETER},
  };
  for (const auto &[fromClass, path, status] : cases) {
    SCOPED_TRACE(path);
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExA(fromClass ? classKey : root_, path, 0, KEY_READ, &key), status);
    if (status == ERROR_SUCCESS) {
      EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    } else {
      EXPECT_EQ(key, reinterpret_cast<HKEY>(0x1234)) << "a failed open leaves the handle";
    }
  }
  // A null or empty path is a new handle on the key itself.
  for (const char *self : {static_cast<const char *>(nullptr), ""}) {
    EXPECT_EQ(Subkeys(Open(classKey, self)), (Names{"MODEM"}));
  }
}

TEST_F(Contract, EnumerationGivesEverySubkeyOnlyWithinCapacity) {
  const HKEY software = Open(root_, "Software");
  ASSERT_EQ(Subkeys(software), (Names{"ALPHA", "BETA", "QUORVANE", "ZULU"}));
  DWORD index = 0;
  char name[16];
  for (DWORD chars = sizeof name; RegEnumKeyExA(software, index, name, &chars, nullptr, nullptr,
                                                nullptr, nullptr) == ERROR_SUCCESS &&
                                  std::string(name) != "Quorvane";
       chars = sizeof name)
    ++index;
  // "Quorvane": 8 characters, 9 with the terminator.
  for (DWORD small : {0u, 1u, 8u}) {
    DWORD chars = small;
    EXPECT_EQ(RegEnumKeyExA(software, index, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA)
        << small;
  }
  DWORD chars = 9;
  ASSERT_EQ(RegEnumKeyExA(software, index, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(chars, 8u);
  EXPECT_STREQ(name, "Quorvane") << "names keep their case";
  chars = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(software, 4, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  chars = sizeof name;
  EXPECT_EQ(
      RegEnumKeyExA(Open(software, "Beta"), 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
      ERROR_NO_MORE_ITEMS);
}

TEST_F(Contract, QueryGivesTheStoredBytesAtCapacityAndNothingPastIt) {
  const HKEY key = Open(root_, "Class\\Modem\\0000");
  const std::tuple<const char *, DWORD, std::string> cases[] = {
      {"DriverDesc", REG_SZ, "TQ72 PCI Modem\0"s},
      {"", REG_SZ, "default text\0"s},
      {nullptr, REG_SZ, "default text\0"s},
      {"EMPTY", REG_SZ, "\0"s},
      {"Bin", REG_BINARY, "\1\2\0\3"s},
      {"Num", REG_DWORD, "\x78\x56\x34\x12"},
  };
  for (const auto &[name, type, bytes] : cases) {
    SCOPED_TRACE(name ? name : "(null)");
    const DWORD size = static_cast<DWORD>(bytes.size());
    DWORD gotType = 0xdead, got = 0;
    ASSERT_EQ(RegQueryValueExA(key, name, nullptr, &gotType, nullptr, &got), ERROR_SUCCESS);
    EXPECT_EQ(got, size) << "the size alone";
    EXPECT_EQ(gotType, type);
    std::string buffer(size + 4, '#');
    got = size;
    ASSERT_EQ(RegQueryValueExA(key, name, nullptr, &gotType,
                               reinterpret_cast<BYTE *>(buffer.data()), &got),
              ERROR_SUCCESS);
    EXPECT_EQ(got, size);
    EXPECT_EQ(buffer.substr(0, size), bytes);
    got = size - 1;
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer.data()),
                               &got),
              ERROR_MORE_DATA);
    EXPECT_EQ(got, size) << "the size needed";
  }
  DWORD got = 7;
  BYTE data[8];
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, data, &got), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(Open(key, "Init"), nullptr, nullptr, nullptr, data, &got),
            ERROR_FILE_NOT_FOUND)
      << "no default value";
}

// Windows 98 returns text stored without a terminator as it is, as the
// documentation of RegQueryValueEx says ("unless the data was stored without
// them"); Wine, in its Windows 98 mode as well, adds a terminator, counts it,
// and wants room for it. Either way the text is the two bytes, and a buffer
// with room for them and a terminator holds it.
TEST_F(Contract, TextStoredWithoutTerminatorComesAsStoredOrTerminated) {
  const HKEY key = Open(root_, "Class\\Modem\\0000");
  char buffer[8] = "#######";
  DWORD type = 0, got = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, "Raw", nullptr, &type, reinterpret_cast<BYTE *>(buffer), &got),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::string(buffer, 2), "AB");
  const bool terminatorAdded = got == 3;
  if (terminatorAdded) {
    EXPECT_EQ(buffer[2], '\0');
  } else {
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buffer[2], '#') << "nothing written past the stored bytes";
  }
  got = 2;
  EXPECT_EQ(RegQueryValueExA(key, "Raw", nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), &got),
            terminatorAdded ? ERROR_MORE_DATA : ERROR_SUCCESS);
}

TEST_F(Contract, DeleteTakesTheWholeSubtreeThroughAReadHandle) {
  const HKEY modem = Open(root_, "Class\\Modem");
  const HKEY instance = Open(modem, "0000");
  const HKEY init = Open(instance, "Init");
  ASSERT_EQ(RegDeleteKeyA(modem, "0000"), ERROR_SUCCESS);
  EXPECT_FALSE(machine_.HasKey("Class\\Modem\\0000\\Init"));
  EXPECT_FALSE(machine_.HasKey("Class\\Modem\\0000"));
  EXPECT_TRUE(machine_.HasKey("Class\\Modem\\0001"));
  EXPECT_EQ(Subkeys(modem), (Names{"0001"}));
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(modem, "0000", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(modem, "0000"), ERROR_FILE_NOT_FOUND);
  // Handles on what was deleted fail every call; they still close.
  for (HKEY gone : {instance, init}) {
    char name[16];
    DWORD chars = sizeof name, bytes = 0;
    EXPECT_NE(RegEnumKeyExA(gone, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_NE(RegQueryValueExA(gone, "1", nullptr, nullptr, nullptr, &bytes), ERROR_SUCCESS);
    EXPECT_NE(RegOpenKeyExA(gone, "", 0, KEY_READ, &key), ERROR_SUCCESS);
  }
  // Case-folded, from the root, several levels at once.
  ASSERT_EQ(RegDeleteKeyA(root_, "SOFTWARE\\quorvane"), ERROR_SUCCESS);
  EXPECT_FALSE(machine_.HasKey("Software\\Quorvane\\TQ19KVN"));
  EXPECT_TRUE(machine_.HasKey("Software\\alpha"));
}

TEST_F(Contract, DeleteRefusesEmptyAndMalformedPaths) {
  const HKEY modem = Open(root_, "Class\\Modem");
  for (const char *path :
       {static_cast<const char *>(nullptr), "", "\\0000", "0000\\", "0000\\\\Init", "\\"}) {
    SCOPED_TRACE(path ? path : "(null)");
    EXPECT_EQ(RegDeleteKeyA(modem, path), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(RegDeleteKeyA(root_, "Class\\Modem\\"), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(machine_.HasKey("Class\\Modem\\0000\\Init"));
  EXPECT_TRUE(machine_.HasKey("Class\\Modem\\0001"));
}

TEST_F(Contract, CallsOnAClosedOrNullHandleFail) {
  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyExA(root_, "Software", 0, KEY_READ, &closed), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  for (HKEY key : {closed, HKEY(nullptr)}) {
    HKEY result = nullptr;
    char name[16];
    DWORD chars = sizeof name, bytes = 0;
    EXPECT_NE(RegOpenKeyExA(key, "Beta", 0, KEY_READ, &result), ERROR_SUCCESS);
    EXPECT_NE(RegEnumKeyExA(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_NE(RegQueryValueExA(key, "x", nullptr, nullptr, nullptr, &bytes), ERROR_SUCCESS);
    EXPECT_NE(RegDeleteKeyA(key, "Beta"), ERROR_SUCCESS);
    EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS);
  }
  EXPECT_TRUE(machine_.HasKey("Software\\Beta"));
}

// --------------------------------------------------------------------- files

TEST_F(Contract, FilesAreWrittenAndReadInPieces) {
  const std::string path = Path("new.txt");
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  for (const std::string &piece : {"abc\r\n"s, ""s, "d\0\x1a\xff"s}) {
    DWORD written = 99;
    EXPECT_TRUE(WriteFile(file, piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr));
    EXPECT_EQ(written, piece.size());
  }
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(machine_.ReadFile("new.txt"), "abc\r\nd\0\x1a\xff"s);

  file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::string content;
  char buffer[3];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    content.append(buffer, got);
  EXPECT_EQ(got, 0u) << "the end reads as 0 bytes";
  EXPECT_EQ(content, "abc\r\nd\0\x1a\xff"s);
  EXPECT_TRUE(CloseHandle(file));

  // CREATE_ALWAYS empties a file that is there; OPEN_EXISTING needs one.
  file = CreateFileA(Path("old.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(machine_.ReadFile("old.txt"), "");
  EXPECT_EQ(CreateFileA(Path("missing.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(machine_.ReadFile("missing.txt"));
}

TEST_F(Contract, DeleteFailsOnMissingOpenOrFolderAndSucceedsOtherwise) {
  const std::string path = Path("old.txt");
  HANDLE open = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileA(path.c_str())) << "in use";
  EXPECT_TRUE(machine_.ReadFile("old.txt"));
  EXPECT_TRUE(CloseHandle(open));
  EXPECT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_FALSE(machine_.ReadFile("old.txt"));
  EXPECT_FALSE(DeleteFileA(path.c_str())) << "already gone";
  EXPECT_FALSE(DeleteFileA(Path("Folder").c_str()));
  EXPECT_TRUE(machine_.ReadFile("Folder\\inner.txt"));
}

TEST_F(Contract, CopyReplacesATargetUnlessToldNotTo) {
  const std::string from = Path("Folder\\inner.txt"), to = Path("old.txt");
  EXPECT_FALSE(CopyFileA(from.c_str(), to.c_str(), TRUE));
  EXPECT_EQ(machine_.ReadFile("old.txt"), "old content");
  EXPECT_FALSE(CopyFileA(Path("missing.txt").c_str(), to.c_str(), FALSE));
  EXPECT_EQ(machine_.ReadFile("old.txt"), "old content");
  EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
  EXPECT_EQ(machine_.ReadFile("old.txt"), "x");
  EXPECT_TRUE(CopyFileA(from.c_str(), Path("copy.txt").c_str(), TRUE));
  EXPECT_EQ(machine_.ReadFile("copy.txt"), "x");
}

// A mounted Windows 98 disk shows SYSTEM.INI and TQC.CPL where the program
// asks for system.ini and tqc.cpl: every call finds a file whatever the case
// of its name, and a copy over it keeps the one file.
TEST_F(Contract, FileNamesCompareCaseInsensitively) {
  HANDLE file = CreateFileA(Path("OLD.TXT").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_TRUE(CopyFileA(Path("FOLDER\\Inner.Txt").c_str(), Path("Old.Txt").c_str(), FALSE));
  EXPECT_TRUE(DeleteFileA(Path("folder\\INNER.TXT").c_str()));
  EXPECT_EQ(machine_.Files(), (std::map<std::string, std::string>{{"old.txt", "x"}}));
}

// The length without the terminator when it fits, else the size needed
// with it.
TEST_F(Contract, DirectoryQueriesAnswerWithWin32Sizes) {
  for (auto query : {&GetWindowsDirectoryA, &GetSystemDirectoryA}) {
    char full[256];
    const UINT length = query(full, sizeof full);
    ASSERT_GT(length, 3u);
    ASSERT_LT(length, sizeof full);
    EXPECT_EQ(std::string(full).size(), length);
    EXPECT_EQ(std::string(full, 3).substr(1), ":\\");
    char exact[256];
    EXPECT_EQ(query(exact, length + 1), length);
    EXPECT_STREQ(exact, full);
    EXPECT_EQ(query(exact, length), length + 1);
    EXPECT_EQ(query(nullptr, 0), length + 1);
  }
}

}  // namespace
