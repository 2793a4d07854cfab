// The hosted platform around the files: message boxes and their answers,
// the call log and starting. The command
// line and whole runs are the e2e scripts' part.
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
#include "platform/hosted/message_box.h"
#include "platform/hosted/registry.h"
#include "platform/hosted/windows_files.h"
#include "platform/platform.h"
#include "support/temp_machine.h"

using namespace platform;
using hosted::Answer;

namespace {

constexpr UINT Confirm = MB_YESNO | MB_DEFBUTTON2;

// ------------------------------------------------------------------ answers

TEST(AnswerTest, PressesTheButtonItNamesOrTheDefaultAndNeverConfirmsByAccident) {
  std::tuple<Answer, UINT, int> cases[] = {
      {Answer::Yes, Confirm, IDYES},  {Answer::No, Confirm, IDNO},
      {Answer::Enter, Confirm, IDNO}, {Answer::Enter, MB_YESNO, IDYES},
      {Answer::Ok, Confirm, IDNO},    {Answer::None, Confirm, 0},
      {Answer::Ok, MB_OK, IDOK},      {Answer::Yes, MB_OK, IDOK},
      {Answer::None, MB_OK, 0},       {Answer::Ok, 0x0001 /* MB_OKCANCEL */, 0}};
  for (auto [answer, style, expected] : cases)
    EXPECT_EQ(hosted::ResultOf(answer, style), expected)
        << static_cast<int>(answer) << " on style " << style;
  std::vector<Answer> answers{Answer::Ok};
  std::string error;
  ASSERT_TRUE(hosted::ParseAnswers("yes,No,ok,enter,none", &answers, &error));
  EXPECT_EQ(answers, (std::vector<Answer>{Answer::Yes, Answer::No, Answer::Ok, Answer::Enter,
                                          Answer::None}));
  EXPECT_FALSE(hosted::ParseAnswers("yes,", &answers, &error)) << "an empty word is no answer";
}

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

// ------------------------------------------------------- a started machine

class HostedPlatformTest : public ::testing::Test {
 protected:
  void TearDown() override { machine_.Stop(); }
  testsupport::TempMachine machine_{
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_2]\r\n\r\n"};
};

TEST_F(HostedPlatformTest, BoxesTakeTheAnswersInOrderThenCannotBeShown) {
  machine_.Start({Answer::Enter, Answer::Yes, Answer::None});
  EXPECT_EQ(MessageBoxA(nullptr, "Remove?", "Caption", Confirm), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Remove?", "Caption", Confirm), IDYES);
  EXPECT_EQ(MessageBoxA(nullptr, "Done", "Caption", MB_OK), 0);
  EXPECT_EQ(MessageBoxA(nullptr, "Done", "Caption", MB_OK), 0) << "answers ran out";
}

TEST_F(HostedPlatformTest, LogsEveryCallAsOneJsonLine) {
  hosted::StartOptions options;
  options.machine = machine_.Root();
  options.terminal = false;
  options.answers = {Answer::Ok};
  options.logPath = machine_.OutsidePath("calls.log");
  std::string error;
  ASSERT_TRUE(hosted::Start(options, &error)) << error;
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI", 0, KEY_READ, &key);
  MessageBoxA(nullptr, "Line 1\r\n\"caf\xe9\"", "Caption", MB_OK);
  DeleteFileA("C:\\WINDOWS\\A.INI");
  RegCloseKey(key);
  // A handle's calls name the file it was opened on.
  CloseHandle(CreateFileA("C:\\WINDOWS\\B.INI", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0));
  ASSERT_TRUE(hosted::Stop(&error)) << error;
  std::ifstream in(options.logPath);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], R"({"n":1,"call":"RegOpenKeyExA","key":"HKEY_LOCAL_MACHINE\\Enum\\PCI",)"
                      R"("access":131097,"result":0})");
  EXPECT_NE(lines[1].find(R"("text":"Line 1\r\n\"caf\u00e9\"","style":0,"result":1})"),
            std::string::npos)
      << lines[1];
  EXPECT_EQ(lines[2], R"({"n":3,"call":"DeleteFileA","path":"C:\\WINDOWS\\A.INI","result":0})");
  EXPECT_EQ(lines[3].rfind(R"({"n":4,"call":"RegCloseKey",)", 0), 0u) << lines[3];
  EXPECT_EQ(lines[5].rfind(R"({"n":6,"call":"CloseHandle","path":"C:\\WINDOWS\\B.INI",)", 0), 0u)
      << lines[5];
}

// ------------------------------------------------------------------ start

TEST(StartTest, RefusesAMissingFolderOrAMalformedRegistryNamingFileAndLine) {
  const char bad[] = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\nnot a value\r\n";
  testsupport::TempMachine machine(bad);
  hosted::StartOptions options;
  options.terminal = false;
  std::string error;
  options.machine = machine.HostPath("absent");
  EXPECT_FALSE(hosted::Start(options, &error));
  EXPECT_NE(error.find("absent"), std::string::npos) << error;
  options.machine = machine.Root();
  EXPECT_FALSE(hosted::Start(options, &error));
  EXPECT_NE(error.find("registry.reg:4:"), std::string::npos) << error;
  EXPECT_EQ(machine.ReadFile("registry.reg"), bad);
  EXPECT_EQ(CopyFileA("C:\\registry.reg", "C:\\copy.reg", FALSE), FALSE) << "not started";
  EXPECT_FALSE(machine.Exists("copy.reg"));
}

// A log that is or would be a file of the machine folder, however it is
// named, is refused before anything is written; one beside it is fine.
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
      machine.Root() + "/",
  };
  hosted::StartOptions options;
  options.machine = machine.Root();
  options.terminal = false;
  for (const std::string &log : cases) {
    SCOPED_TRACE(log);
    options.logPath = log;
    std::string error;
    EXPECT_FALSE(hosted::Start(options, &error));
    EXPECT_EQ(error.rfind("log \"", 0), 0u) << error;
    EXPECT_EQ(testsupport::SnapshotFolder(machine.Root()), before);
    hosted::Stop(&error);
  }
  for (const std::string &log : {outside, std::string("/dev/null")}) {
    options.logPath = log;
    std::string error;
    EXPECT_TRUE(hosted::Start(options, &error)) << error;
    EXPECT_TRUE(hosted::Stop(&error)) << error;
  }
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
  options.terminal = false;
  std::string error;
  EXPECT_FALSE(hosted::Start(options, &error));
  EXPECT_EQ(error, hosted::kMachineInUse);
  ::close(holder);
  EXPECT_TRUE(hosted::Start(options, &error)) << error;
  EXPECT_TRUE(hosted::Stop(&error)) << error;
  EXPECT_EQ(testsupport::SnapshotFolder(machine.Root()), before);
}

}  // namespace
