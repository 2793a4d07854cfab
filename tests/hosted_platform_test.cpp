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

#include "platform/hosted/command_line.h"
#include "platform/hosted/hosted.h"
#include "platform/hosted/machine_files.h"
#include "platform/hosted/registry.h"
#include "platform/platform.h"
#include "support/temp_machine.h"

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

TEST(StartTest, RefusesAMissingFolderOrAMalformedRegistryNamingFileAndLine) {
  const char bad[] = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\nnot a value\r\n";
  testsupport::TempMachine machine(bad);
  hosted::StartOptions options;
  std::string error;
  options.machine = machine.HostPath("absent");
  EXPECT_FALSE(hosted::Start(options, &error));
  EXPECT_NE(error.find("absent"), std::string::npos) << error;
  options.machine = machine.Root();
  EXPECT_FALSE(hosted::Start(options, &error));
  EXPECT_NE(error.find("registry.reg:4:"), std::string::npos) << error;
  EXPECT_NE(error.find(machine.Root()), std::string::npos) << "names the folder: " << error;
  EXPECT_EQ(machine.ReadFile("registry.reg"), bad);
  EXPECT_EQ(CopyFileA("C:\\registry.reg", "C:\\copy.reg", FALSE), FALSE) << "not started";
  EXPECT_FALSE(machine.Exists("copy.reg"));
}

// A log that is or would be a file of the machine folder, however it is
// named, is refused before anything is written; one beside it is fine, and
// is appended to.
TEST(StartTest, RefusesALogInsideTheMachine) {
  testsupport::TempMachine machine;
  testsupport::InstallModemFiles(machine);
  const std::string outside = machine.OutsidePath("outside.log");
  ASSERT_EQ(::symlink(machine.HostPath("WINDOWS").c_str(), machine.OutsidePath("win").c_str()), 0);
  ASSERT_EQ(
      ::symlink(machine.HostPath("registry.reg").c_str(), machine.OutsidePath("reg-link").c_str()),
      0);
  ASSERT_EQ(
      ::link(machine.HostPath("registry.reg").c_str(), machine.OutsidePath("reg-hard").c_str()), 0);
  // A link to a file the log would create in the machine.
  ASSERT_EQ(
      ::symlink(machine.HostPath("new.log").c_str(), machine.OutsidePath("dangling").c_str()), 0);
  const auto before = testsupport::SnapshotFolder(machine.Root());
  const std::string cases[] = {
      machine.HostPath("registry.reg"),
      machine.HostPath("WINDOWS/SYSTEM.INI"),
      machine.HostPath("WINDOWS/SYSTEM/new.log"),
      machine.HostPath("WINDOWS/../x.log"),
      machine.OutsidePath("win/SYSTEM.INI"),
      machine.OutsidePath("win/new.log"),
      machine.OutsidePath("reg-link"),
      machine.OutsidePath("reg-hard"),
      machine.OutsidePath("dangling"),
      machine.Root() + "/",
  };
  for (const std::string &log : cases) {
    SCOPED_TRACE(log);
    std::string error;
    EXPECT_EQ(hosted::OpenLog(log, machine.Root(), &error), nullptr);
    EXPECT_EQ(error.rfind("log \"", 0), 0u) << error;
    EXPECT_EQ(testsupport::SnapshotFolder(machine.Root()), before);
  }
  {
    std::ofstream(outside) << "earlier\n";
  }
  for (const std::string &log : {outside, std::string("/dev/null")}) {
    std::string error;
    std::FILE *file = hosted::OpenLog(log, machine.Root(), &error);
    ASSERT_NE(file, nullptr) << error;
    std::fputs("later\n", file);
    std::fclose(file);
  }
  EXPECT_EQ(machine.ReadFile("../outside.log"), "earlier\nlater\n");
  EXPECT_EQ(testsupport::SnapshotFolder(machine.Root()), before);
}

// Under the machine lock, what a killed run left is known to be abandoned:
// its temporary files go, and nothing else.
TEST(StartTest, RemovesTheTemporaryFilesOfAKilledRun) {
  testsupport::TempMachine machine;
  testsupport::InstallModemFiles(machine);
  const auto before = testsupport::SnapshotFolder(machine.Root());
  for (const char *left :
       {".tq72tmp-4242-1", "WINDOWS/.tq72tmp-4242-2", "WINDOWS/SYSTEM/.tq72tmp-4242-7"})
    machine.WriteFile(left, "half written");
  std::filesystem::create_directory(machine.HostPath("WINDOWS/.tq72tmp-4242-3"));
  machine.Start();
  machine.Stop();
  auto expected = before;
  expected["WINDOWS/.tq72tmp-4242-3/"] = "";  // not a file of ours
  EXPECT_EQ(testsupport::SnapshotFolder(machine.Root()), expected);
}

// A start creates nothing in the folder (so a signal at the confirmation
// leaves it as it was), and it is refused while anyone holds the folder's
// lock, as another run does.
TEST(StartTest, CreatesNothingAndIsRefusedWhileTheFolderIsLocked) {
  testsupport::TempMachine machine;
  testsupport::InstallModemFiles(machine);
  const auto before = testsupport::SnapshotFolder(machine.Root());
  machine.Start();
  EXPECT_EQ(testsupport::SnapshotFolder(machine.Root()), before);
  machine.Stop();
  const int holder = ::open(machine.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  hosted::StartOptions options;
  options.machine = machine.Root();
  std::string error;
  EXPECT_FALSE(hosted::Start(options, &error));
  EXPECT_EQ(error, hosted::kMachineInUse);
  ::close(holder);
  EXPECT_TRUE(hosted::Start(options, &error)) << error;
  EXPECT_TRUE(hosted::Stop(&error)) << error;
  EXPECT_EQ(testsupport::SnapshotFolder(machine.Root()), before);
}

}  // namespace
