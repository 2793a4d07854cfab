// The hosted platform around the files: message boxes on the terminal, the
// log's place and starting. The command line and whole runs are the e2e
// scripts' part.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "hosted_program/command_line.h"
#include "hosted/hosted.h"
#include "hosted/machine_files.h"
#include "hosted/registry.h"
#include "platform/platform.h"
#include "support/modem_fixture.h"
#include "support/scratch_machine.h"

using namespace platform;

namespace {

constexpr UINT Confirm = MB_YESNO | MB_DEFBUTTON2;

// ------------------------------------------------------------------ boxes

// Text that reaches the terminal must not drive it; typed lines that are no
// choice are asked again, and input that ends answers 0.
TEST(TerminalBoxTest, ShowsEscapesAsTextAndReadsUntilAChoice) {
  std::string box = hosted::DrawBox("Caption", "First\r\nSecond\x1b[2J", Confirm);
  EXPECT_NE(box.find("|  Second?[2J "), std::string::npos) << box;
  EXPECT_EQ(box.find('\x1b'), std::string::npos);
  std::tuple<std::string, UINT, int> cases[] = {
      {"\n", MB_YESNO, IDYES}, {"what\no\nn\n", Confirm, IDNO}, {"maybe", Confirm, 0}};
  for (auto &[typed, style, expected] : cases) {
    std::FILE *in = fmemopen(typed.data(), typed.size(), "r");
    std::FILE *out = std::tmpfile();
    ASSERT_TRUE(in && out);
    EXPECT_EQ(hosted::AskOnTerminal("Caption", "Text", style, in, out), expected) << typed;
    std::fclose(in);
    std::fclose(out);
  }
}

// ------------------------------------------------------------------ start

namespace fs = std::filesystem;

void InstallModemFiles(const scratch::Machine &machine) {
  for (const scratch::File &file : scratch::ModemFiles())
    ASSERT_TRUE(machine.WriteFile(file.path, file.bytes)) << file.path;
}

TEST(StartTest, RefusesAMissingFolderOrAMalformedRegistryNamingFileAndLine) {
  const char bad[] = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\nnot a value\r\n";
  scratch::Machine machine(bad);
  const std::string root = machine.Folder().string();
  std::string error;
  EXPECT_FALSE(hosted::Start(root + "/absent", &error));
  EXPECT_NE(error.find("absent"), std::string::npos) << error;
  EXPECT_FALSE(hosted::Start(root, &error));
  EXPECT_NE(error.find("registry.reg:4:"), std::string::npos) << error;
  EXPECT_NE(error.find(root), std::string::npos) << "names the folder: " << error;
  EXPECT_EQ(scratch::ReadHostFile(root + "/registry.reg"), bad);
  EXPECT_EQ(CopyFileA("C:\\registry.reg", "C:\\copy.reg", FALSE), FALSE) << "not started";
  EXPECT_FALSE(fs::exists(root + "/copy.reg"));
}

// A log that is or would be a file of the machine folder, however it is
// named, is refused before anything is written; one beside it is fine, and
// is appended to.
TEST(StartTest, RefusesALogInsideTheMachine) {
  scratch::Machine machine;
  InstallModemFiles(machine);
  const std::string root = machine.Folder().string();
  const std::string outer = machine.Folder().parent_path().string();
  const std::string outside = outer + "/outside.log";
  ASSERT_EQ(::symlink((root + "/WINDOWS").c_str(), (outer + "/win").c_str()), 0);
  ASSERT_EQ(::symlink((root + "/registry.reg").c_str(), (outer + "/reg-link").c_str()), 0);
  ASSERT_EQ(::link((root + "/registry.reg").c_str(), (outer + "/reg-hard").c_str()), 0);
  // A link to a file the log would create in the machine.
  ASSERT_EQ(::symlink((root + "/new.log").c_str(), (outer + "/dangling").c_str()), 0);
  const auto before = scratch::SnapshotFolder(root);
  const std::string cases[] = {
      root + "/registry.reg",   root + "/WINDOWS/SYSTEM.INI", root + "/WINDOWS/SYSTEM/new.log",
      root + "/WINDOWS/../x.log", outer + "/win/SYSTEM.INI",  outer + "/win/new.log",
      outer + "/reg-link",      outer + "/reg-hard",          outer + "/dangling",
      root + "/",
  };
  for (const std::string &log : cases) {
    SCOPED_TRACE(log);
    std::string error;
    EXPECT_EQ(hosted::OpenLog(log, root, &error), nullptr);
    EXPECT_EQ(error.rfind("log \"", 0), 0u) << error;
    EXPECT_EQ(scratch::SnapshotFolder(root), before);
  }
  {
    std::ofstream(outside) << "earlier\n";
  }
  for (const std::string &log : {outside, std::string("/dev/null")}) {
    std::string error;
    std::FILE *file = hosted::OpenLog(log, root, &error);
    ASSERT_NE(file, nullptr) << error;
    std::fputs("later\n", file);
    std::fclose(file);
  }
  EXPECT_EQ(scratch::ReadHostFile(outside), "earlier\nlater\n");
  EXPECT_EQ(scratch::SnapshotFolder(root), before);
}

// Under the machine lock, what a killed run left is known to be abandoned:
// its temporary files go, and nothing else.
TEST(StartTest, RemovesTheTemporaryFilesOfAKilledRun) {
  scratch::Machine machine;
  InstallModemFiles(machine);
  const fs::path root = machine.Folder();
  const auto before = scratch::SnapshotFolder(root);
  for (const char *left :
       {".tq72tmp-4242-1", "WINDOWS/.tq72tmp-4242-2", "WINDOWS/SYSTEM/.tq72tmp-4242-7"})
    scratch::WriteHostFile(root / left, "half written");
  fs::create_directory(root / "WINDOWS/.tq72tmp-4242-3");
  machine.Start();
  machine.Stop();
  auto expected = before;
  expected["WINDOWS/.tq72tmp-4242-3/"] = "";  // not a file of ours
  EXPECT_EQ(scratch::SnapshotFolder(root), expected);
}

// A start creates nothing in the folder (so a signal at the confirmation
// leaves it as it was), and it is refused while anyone holds the folder's
// lock, as another run does.
TEST(StartTest, CreatesNothingAndIsRefusedWhileTheFolderIsLocked) {
  scratch::Machine machine;
  InstallModemFiles(machine);
  const std::string root = machine.Folder().string();
  const auto before = scratch::SnapshotFolder(root);
  machine.Start();
  EXPECT_EQ(scratch::SnapshotFolder(root), before);
  machine.Stop();
  const int holder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  std::string error;
  EXPECT_FALSE(hosted::Start(root, &error));
  EXPECT_EQ(error, hosted::kMachineInUse);
  ::close(holder);
  EXPECT_TRUE(hosted::Start(root, &error)) << error;
  EXPECT_TRUE(hosted::Stop(&error)) << error;
  EXPECT_EQ(scratch::SnapshotFolder(root), before);
}

}  // namespace
