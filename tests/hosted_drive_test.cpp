// The uninstaller on a Windows 98 drive: MSDOS.SYS names C:\WIN98, whose
// SYSTEM.DAT holds HKEY_LOCAL_MACHINE and whose files are in capitals. A run
// removes exactly the modem's keys in place, logs what a run on the same
// machine kept as registry.reg logs, and a run cut short at any write of
// SYSTEM.DAT is finished by the next start to the same bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "app/uninstall.h"
#include "hosted/creg.h"
#include "hosted/hosted.h"
#include "hosted/registry.h"
#include "hosted/windows_files.h"
#include "session/session.h"
#include "support/creg_file.h"
#include "support/drive.h"
#include "support/modem_fixture.h"

namespace {

namespace fs = std::filesystem;
using hosted::creg::Hive;
using scratch::CregParsed;

const std::string kMsdosSys = scratch::MsdosSys("C:\\WIN98");

// The hive's keys as the scratch machine's, text as regedit exports it.
std::vector<scratch::Key> KeysOf(const Hive &hive) {
  std::vector<scratch::Key> keys;
  std::vector<std::pair<std::size_t, std::string>> stack{{0, ""}};
  while (!stack.empty()) {
    auto [k, path] = stack.back();
    stack.pop_back();
    if (k != 0) keys.push_back({path, {}});
    for (const hosted::creg::Value &value : hive.Keys()[k].values) {
      std::string bytes = value.data;
      const bool plain = std::none_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0 && c < 0x20; });
      if (value.type == platform::REG_SZ && plain) bytes += '\0';
      keys.back().values.push_back({value.name, value.type, bytes});
    }
    for (auto c = hive.Keys()[k].children.rbegin(); c != hive.Keys()[k].children.rend(); ++c)
      stack.push_back({*c, (k == 0 ? "" : path + "\\") + hive.Keys()[*c].name});
  }
  return keys;
}

class Drive : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tq72-drive-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    outer_ = pattern;
  }
  void TearDown() override { fs::remove_all(outer_); }

  // A drive with the modem's files in capitals; its registry SYSTEM.DAT, or
  // the same keys as registry.reg.
  fs::path Make(const std::string &name, const std::string &systemDat, bool asRegedit4 = false) {
    const fs::path root = outer_ / name;
    for (const scratch::File &file : scratch::DriveFiles()) EXPECT_TRUE(scratch::WriteHostFile(root / file.path, file.bytes));
    if (asRegedit4)
      EXPECT_TRUE(scratch::WriteHostFile(root / "registry.reg", scratch::RegistryText(KeysOf(CregParsed(systemDat)))));
    else
      EXPECT_TRUE(scratch::WriteHostFile(root / "WIN98" / "SYSTEM.DAT", systemDat));
    return root;
  }

  // A full run, every box answered as a user who goes on: its log.
  static std::string Run(const fs::path &root) {
    std::string error;
    EXPECT_TRUE(hosted::Start(root.string(), &error)) << error;
    static std::string log;
    log.clear();
    session::Begin({.goOn = true, .log = [](const char *bytes, unsigned length) { log.append(bytes, length); }});
    RunUninstall();
    session::End();
    EXPECT_TRUE(hosted::Stop(&error)) << error;
    return log;
  }

  static std::string Dat(const fs::path &root) { return scratch::ReadHostFile(root / "WIN98" / "SYSTEM.DAT").value(); }

  fs::path outer_;
};

// The keys a run deletes, in its order (a model's instance before its key).
const std::vector<std::string> kRunOrder = {
    "System\\CurrentControlSet\\Services\\Class\\Modem\\0000",
    "Enum\\PCI\\VEN_1F8C&DEV_0072",
    "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0003",
    "Enum\\MODEMWAVE\\Quorvane_TQ72_PCI_Voice_Modem\\0000",
    "Enum\\MODEMWAVE\\Quorvane_TQ72_PCI_Voice_Modem",
    "System\\CurrentControlSet\\Control\\MediaResources\\Wave\\Serwvdrv.drv<0000>",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TQ19KVN",
};

// Those keys deleted as a hive deletes them.
std::string Removed(const std::string &bytes, std::vector<hosted::creg::Write> *writes) {
  Hive hive = CregParsed(bytes);
  for (const std::string &path : kRunOrder) EXPECT_TRUE(hive.Delete(*scratch::CregFind(hive, path), writes));
  return hive.Bytes();
}

TEST_F(Drive, RemovesExactlyTheModemKeysInPlaceAndLogsAsRegistryReg) {
  const std::string fixture = scratch::SystemDat();
  const fs::path drive = Make("drive", fixture);
  const std::string log = Run(drive);
  EXPECT_NE(log.find("\"call\":\"GetWindowsDirectoryA\""), std::string::npos);
  const std::string after = Dat(drive);
  std::vector<hosted::creg::Write> writes;
  EXPECT_TRUE(after == Removed(fixture, &writes)) << "the deletions written as the hive makes them";
  EXPECT_EQ(scratch::LibcregListing(after), scratch::CregListing(CregParsed(after)));
  EXPECT_TRUE(scratch::ReadHostFile(drive / "WIN98" / "SYSTEM.Q00") == fixture) << "the backup";
  EXPECT_FALSE(fs::exists(drive / "registry.reg.journal"));
  for (const std::string &file : scratch::ProductFiles)
    EXPECT_FALSE(fs::exists(drive / "WIN98" / scratch::UpperCase(file).replace(file.find('\\'), 1, "/"))) << file;

  // File handles are numbered on from the process's earlier runs.
  auto folded = [](const std::string &text) {
    return std::regex_replace(text, std::regex(R"(("handle":|"disposition":\d+,"result":)\d+)"), "$1H");
  };
  EXPECT_EQ(folded(Run(Make("twin", fixture, true))), folded(log)) << "the same machine kept as registry.reg";

  // A second run deletes nothing and changes no byte.
  const auto snapshot = scratch::SnapshotFolder(drive);
  Run(drive);
  EXPECT_EQ(scratch::SnapshotFolder(drive), snapshot);
}

TEST_F(Drive, WithoutTheModemNothingChangesButSystemIni) {
  const std::string genuine = scratch::GenuineSystemDat();
  const fs::path drive = Make("drive", genuine);
  const std::string log = Run(drive);
  EXPECT_NE(log.find("Could not open either key"), std::string::npos);
  EXPECT_TRUE(Dat(drive) == genuine);
  EXPECT_FALSE(fs::exists(drive / "WIN98" / "SYSTEM.Q00"));
}

// Killed after each write of SYSTEM.DAT, with the journal of the run: the
// next start finishes to the bytes of the unbroken run.
TEST_F(Drive, ARunCutShortAtAnyWriteIsFinishedByTheNext) {
  const std::string fixture = scratch::SystemDat();
  std::vector<hosted::creg::Write> writes;
  const std::string end = Removed(fixture, &writes);
  std::string journal(hosted::journal::kHeader);
  for (const std::string &path : kRunOrder) journal += hosted::journal::Record("HKEY_LOCAL_MACHINE\\" + path);
  std::string state = fixture;
  for (std::size_t k = 0; k <= writes.size(); k += 7) {
    SCOPED_TRACE("killed after write " + std::to_string(k));
    for (std::size_t w = k == 0 ? 0 : k - 7; w < k; ++w)
      state.replace(writes[w].offset, writes[w].bytes.size(), writes[w].bytes);
    const fs::path drive = Make("cut" + std::to_string(k), state);
    ASSERT_TRUE(scratch::WriteHostFile(drive / "registry.reg.journal", journal));
    // The killed run's backup: the next run keeps it, and adds none when
    // the file is still as that backup holds it.
    ASSERT_TRUE(scratch::WriteHostFile(drive / "WIN98" / "SYSTEM.Q00", fixture));
    std::string error;
    ASSERT_TRUE(hosted::Start(drive.string(), &error)) << error;
    ASSERT_TRUE(hosted::Stop(&error)) << error;
    EXPECT_TRUE(Dat(drive) == end);
    EXPECT_FALSE(fs::exists(drive / "registry.reg.journal"));
    EXPECT_TRUE(scratch::ReadHostFile(drive / "WIN98" / "SYSTEM.Q00") == fixture);
    EXPECT_EQ(fs::exists(drive / "WIN98" / "SYSTEM.Q01"), k != 0) << "a backup of the file as the cut left it";
  }
}

TEST_F(Drive, MalformedOrAmbiguousRegistryStopsTheStart) {
  std::string cut = scratch::GenuineSystemDat();
  cut.resize(cut.size() - 100);
  const fs::path drive = Make("cut", cut);
  const auto snapshot = scratch::SnapshotFolder(drive);
  std::string error;
  EXPECT_FALSE(hosted::Start(drive.string(), &error));
  EXPECT_NE(error.find("C:\\WIN98\\SYSTEM.DAT: offset 0x124024: cut short"), std::string::npos) << error;
  EXPECT_EQ(scratch::SnapshotFolder(drive), snapshot);

  const fs::path both = Make("both", scratch::SystemDat());
  ASSERT_TRUE(scratch::WriteHostFile(both / "registry.reg", "REGEDIT4\r\n\r\n"));
  EXPECT_FALSE(hosted::Start(both.string(), &error));
  EXPECT_NE(error.find("both registry.reg and \"C:\\\\WIN98\\\\SYSTEM.DAT\""), std::string::npos) << error;

  const fs::path neither = Make("neither", scratch::SystemDat());
  fs::remove(neither / "WIN98" / "SYSTEM.DAT");
  EXPECT_FALSE(hosted::Start(neither.string(), &error));
  EXPECT_NE(error.find("no registry.reg and no \"C:\\\\WIN98\\\\SYSTEM.DAT\""), std::string::npos) << error;
}

struct MsdosSys {
  const char *text;
  const char *windowsDir;  // null: refused
};

const MsdosSys kMsdosSysCases[] = {
    {kMsdosSys.c_str(), "C:\\WIN98"},
    {"[paths]\nwindir = c:\\Win98\\\nxxxxxxxx\n", "c:\\Win98"},
    {"xxxxxxxxxxxxxxxxxxxx\r\n[Options]\r\nWinDir=C:\\OTHER\r\n", "C:\\WINDOWS"},
    {"", "C:\\WINDOWS"},
    {"[Paths]\r\nWinDir=D:\\WIN98\r\n", nullptr},
    {"[Paths]\r\nWinDir=C:\\..\\WIN98\r\n", nullptr},
    {"[Paths]\r\nWinDir=C:\\\r\n", nullptr},
};

class WindowsFolder : public testing::TestWithParam<MsdosSys> {};

TEST_P(WindowsFolder, IsTheOneMsdosSysNames) {
  const std::optional<std::string> folder = hosted::WindowsFolderOf(GetParam().text);
  if (GetParam().windowsDir == nullptr) {
    EXPECT_FALSE(folder) << *folder;
  } else {
    EXPECT_EQ(folder, GetParam().windowsDir);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowsFolder, testing::ValuesIn(kMsdosSysCases));

}  // namespace
