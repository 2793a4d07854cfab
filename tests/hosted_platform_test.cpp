// The hosted platform around the files: message boxes and their answers,
// directory queries, the call log, the fault plan, starting and stopping, and
// the command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/hosted/call_log.h"
#include "platform/hosted/command_line.h"
#include "platform/hosted/hosted.h"
#include "platform/hosted/message_box.h"
#include "platform/hosted/registry.h"
#include "platform/platform.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using namespace platform;
using hosted::Answer;

namespace {

constexpr UINT Confirm = MB_YESNO | MB_DEFBUTTON2;

hosted::FaultPlan FailCall(unsigned n, bool persistent) {
  hosted::FaultPlan plan;
  plan.failCall = n;
  plan.persistent = persistent;
  return plan;
}
hosted::FaultPlan FailNamed(std::string key, std::string file) {
  hosted::FaultPlan plan;
  plan.failKey = std::move(key);
  plan.failFile = std::move(file);
  return plan;
}

// ------------------------------------------------------------------ answers

struct AnswerCase {
  Answer answer;
  UINT style;
  int expected;
};

class AnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(AnswerTest, PressesTheButtonItNamesOrTheDefault) {
  EXPECT_EQ(hosted::ResultOf(GetParam().answer, GetParam().style), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AnswerTest,
    ::testing::Values(AnswerCase{Answer::Yes, Confirm, IDYES}, AnswerCase{Answer::No, Confirm, IDNO},
                      AnswerCase{Answer::Enter, Confirm, IDNO},
                      AnswerCase{Answer::Enter, MB_YESNO, IDYES},
                      AnswerCase{Answer::Ok, Confirm, IDNO},  // never confirms by accident
                      AnswerCase{Answer::None, Confirm, 0}, AnswerCase{Answer::Ok, MB_OK, IDOK},
                      AnswerCase{Answer::Enter, MB_OK, IDOK}, AnswerCase{Answer::Yes, MB_OK, IDOK},
                      AnswerCase{Answer::None, MB_OK, 0},
                      AnswerCase{Answer::Ok, 0x0001 /* MB_OKCANCEL */, 0}));

TEST(ParseAnswersTest, ReadsTheListOrNamesTheBadWord) {
  std::vector<Answer> answers{Answer::Ok};
  std::string error;
  ASSERT_TRUE(hosted::ParseAnswers("yes,No,ok,enter,none", &answers, &error));
  EXPECT_EQ(answers, (std::vector<Answer>{Answer::Yes, Answer::No, Answer::Ok, Answer::Enter,
                                          Answer::None}));
  ASSERT_TRUE(hosted::ParseAnswers("", &answers, &error));
  EXPECT_TRUE(answers.empty());
  for (const char *bad : {"yes,,no", "yes,", "maybe", "yes no"}) {
    answers = {Answer::Ok};
    EXPECT_FALSE(hosted::ParseAnswers(bad, &answers, &error)) << bad;
    EXPECT_EQ(answers, std::vector<Answer>{Answer::Ok}) << "kept on failure";
    EXPECT_NE(error.find("answer"), std::string::npos);
  }
}

// ----------------------------------------------------------------- terminal

TEST(TerminalBoxTest, DrawsCaptionLinesAndMarksTheDefault) {
  std::string box = hosted::DrawBox("Quorvane TQ72 Modem", "First\r\nSecond\x1b[2J", Confirm);
  EXPECT_NE(box.find("Quorvane TQ72 Modem"), std::string::npos);
  EXPECT_NE(box.find("|  First "), std::string::npos);
  EXPECT_NE(box.find("|  Second?[2J "), std::string::npos) << "escape shown, not sent";
  EXPECT_EQ(box.find('\x1b'), std::string::npos);
  EXPECT_NE(box.find("[ Yes ]  < No >"), std::string::npos);
  EXPECT_NE(hosted::DrawBox("c", "t", MB_OK).find("< OK >"), std::string::npos);
}

struct TypedCase {
  const char *typed;
  UINT style;
  int expected;
};

class TypedAnswerTest : public ::testing::TestWithParam<TypedCase> {};

TEST_P(TypedAnswerTest, ReadsUntilAChoice) {
  std::string typed = GetParam().typed;
  std::FILE *in = fmemopen(typed.data(), typed.size(), "r");
  if (typed.empty()) in = std::fopen("/dev/null", "r");
  std::FILE *out = std::tmpfile();
  ASSERT_TRUE(in && out);
  EXPECT_EQ(hosted::AskOnTerminal("Caption", "Text", GetParam().style, in, out),
            GetParam().expected);
  std::fclose(in);
  std::fclose(out);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TypedAnswerTest,
    ::testing::Values(TypedCase{"\n", Confirm, IDNO}, TypedCase{"\n", MB_YESNO, IDYES},
                      TypedCase{"Y\n", Confirm, IDYES}, TypedCase{"yes\n", Confirm, IDYES},
                      TypedCase{"what\no\nn\n", Confirm, IDNO}, TypedCase{"\n", MB_OK, IDOK},
                      TypedCase{"y\no\n", MB_OK, IDOK}, TypedCase{"", Confirm, 0},
                      TypedCase{"maybe", Confirm, 0}, TypedCase{"n", Confirm, IDNO}));

// ---------------------------------------------------------------------- log

TEST(JsonStringTest, EscapesEverythingThatIsNotPrintableAscii) {
  EXPECT_EQ(hosted::JsonString("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(hosted::JsonString("\r\n\t\x01\x7f"), R"("\r\n\t\u0001\u007f")");
  EXPECT_EQ(hosted::JsonString("caf\xe9"), R"("caf\u00e9")");
  EXPECT_EQ(hosted::JsonString(std::string_view("a\0b", 3)), R"("a\u0000b")");
}

// The fields of one log line: strings unescaped for \" and \\ only, numbers
// and literals as written.
std::map<std::string, std::string> Fields(const std::string &line) {
  std::map<std::string, std::string> fields;
  std::size_t i = 1;
  auto readString = [&] {
    std::string text;
    for (++i; line[i] != '"'; ++i) text += line[i] == '\\' ? line[++i] : line[i];
    ++i;
    return text;
  };
  while (i < line.size() && line[i] != '}') {
    std::string name = readString();
    ++i;  // ':'
    std::string value;
    if (line[i] == '"') {
      value = readString();
    } else {
      while (line[i] != ',' && line[i] != '}') value += line[i++];
    }
    fields[name] = value;
    if (line[i] == ',') ++i;
  }
  return fields;
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
  std::vector<std::size_t> seenBefore;
  hosted::SetBoxHook([&](const hosted::ShownBox &box) {
    EXPECT_EQ(box.result, 0) << "the hook runs before the answer";
    seenBefore.push_back(hosted::ShownBoxes().size());
  });
  EXPECT_EQ(MessageBoxA(nullptr, "Remove?", "Caption", Confirm), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Remove?", "Caption", Confirm), IDYES);
  EXPECT_EQ(MessageBoxA(nullptr, "Done", "Caption", MB_OK), 0);
  EXPECT_EQ(MessageBoxA(nullptr, "Done", nullptr, MB_OK), 0) << "answers ran out";
  const auto &boxes = hosted::ShownBoxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[1].text, "Remove?");
  EXPECT_EQ(boxes[1].style, Confirm);
  EXPECT_EQ(boxes[1].result, IDYES);
  EXPECT_EQ(boxes[3].caption, "Error");
  EXPECT_EQ(seenBefore, (std::vector<std::size_t>{0, 1, 2, 3}));
}

struct DirectoryCase {
  std::string windows;
  UINT size;
  UINT expected;
  bool copies;  // else the buffer is untouched
};

class DirectoryQueryTest : public HostedPlatformTest,
                           public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(DirectoryQueryTest, AnswersLikeWin32) {
  machine_.Start();
  hosted::SetDirectories(GetParam().windows, "C:\\WINDOWS\\SYSTEM");
  std::vector<char> buffer(300, '#');
  EXPECT_EQ(GetWindowsDirectoryA(buffer.data(), GetParam().size), GetParam().expected);
  if (GetParam().copies)
    EXPECT_EQ(std::string(buffer.data()), GetParam().windows);
  else
    EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(GetSystemDirectoryA(buffer.data(), 256), 17u);
  EXPECT_STREQ(buffer.data(), "C:\\WINDOWS\\SYSTEM");
}

INSTANTIATE_TEST_SUITE_P(
    Table, DirectoryQueryTest,
    ::testing::Values(DirectoryCase{"C:\\WINDOWS", 256, 10, true},
                      DirectoryCase{"C:\\WINDOWS", 11, 10, true},
                      DirectoryCase{"C:\\WINDOWS", 10, 11, false},
                      DirectoryCase{"C:\\WINDOWS", 0, 11, false},
                      DirectoryCase{"", 256, 0, false},
                      DirectoryCase{"C:\\" + std::string(252, 'W'), 256, 255, true},
                      DirectoryCase{"C:\\" + std::string(253, 'W'), 256, 257, false}));

TEST_F(HostedPlatformTest, LogsEveryCallAsOneJsonLine) {
  const std::string logPath = machine_.HostPath("calls.log");
  hosted::StartOptions options;
  options.machine = machine_.Root();
  options.terminal = false;
  options.answers = {Answer::Ok};
  options.logPath = logPath;
  std::string error;
  ASSERT_TRUE(hosted::Start(options, &error)) << error;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI", 0, KEY_READ, &key), ERROR_SUCCESS);
  char name[40];
  DWORD chars = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  MessageBoxA(nullptr, "Line 1\r\n\"caf\xe9\"", "Caption", MB_OK);
  CopyFileA("C:\\WINDOWS\\A.INI", "C:\\WINDOWS\\B.INI", FALSE);
  ASSERT_TRUE(hosted::Stop(&error)) << error;

  std::ifstream in(logPath);
  std::vector<std::map<std::string, std::string>> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(Fields(line));
  ASSERT_EQ(lines.size(), 5u);
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i]["n"], std::to_string(i + 1));
  EXPECT_EQ(lines[0]["call"], "RegOpenKeyExA");
  EXPECT_EQ(lines[0]["key"], "HKEY_LOCAL_MACHINE\\Enum\\PCI");
  EXPECT_EQ(lines[0]["result"], "0");
  EXPECT_EQ(lines[1]["name"], "VEN_1");
  EXPECT_EQ(lines[2]["call"], "RegCloseKey");
  EXPECT_EQ(lines[3]["text"], "Line 1rn\"cafu00e9\"") << "escaped as \\r\\n and \\u00e9";
  EXPECT_EQ(lines[3]["style"], "0");
  EXPECT_EQ(lines[3]["result"], "1");
  EXPECT_EQ(lines[4]["from"], "C:\\WINDOWS\\A.INI");
  EXPECT_EQ(lines[4]["to"], "C:\\WINDOWS\\B.INI");
  EXPECT_EQ(lines[4]["result"], "0");
}

// -------------------------------------------------------------- fault plan

TEST_F(HostedPlatformTest, FailsTheNthCallOnceOrFromThenOn) {
  for (bool persistent : {false, true}) {
    machine_.Start();
    hosted::SetFaultPlan(FailCall(2, persistent));
    char buffer[256];
    std::vector<UINT> results;
    for (int i = 0; i < 4; ++i) results.push_back(GetWindowsDirectoryA(buffer, sizeof buffer));
    const std::vector<UINT> expected =
        persistent ? std::vector<UINT>{10, 0, 0, 0} : std::vector<UINT>{10, 0, 10, 10};
    EXPECT_EQ(results, expected);
    EXPECT_EQ(hosted::CallCount(), 4u);
    EXPECT_EQ(hosted::FaultsInjected(), persistent ? 3u : 1u);
    machine_.Stop();
  }
}

TEST_F(HostedPlatformTest, FailsCallsOnANamedFileAndChangesNothing) {
  machine_.WriteFile("WINDOWS/SYSTEM/TQC.CPL", "applet");
  machine_.WriteFile("WINDOWS/SYSTEM.INI", "ini");
  machine_.Start({Answer::Ok});
  hosted::SetFaultPlan(FailNamed("", "c:\\windows\\system\\tqc.cpl"));
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SYSTEM\\TQC.CPL"));
  EXPECT_FALSE(CopyFileA("C:\\WINDOWS\\SYSTEM.INI", "C:\\WINDOWS\\SYSTEM\\TQC.CPL", FALSE));
  EXPECT_EQ(CreateFileA("C:\\WINDOWS\\SYSTEM\\TQC.CPL", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(machine_.ReadFile("WINDOWS/SYSTEM/TQC.CPL"), "applet");
  EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\SYSTEM.INI")) << "other files work";
  EXPECT_EQ(hosted::FaultsInjected(), 3u);
}

TEST_F(HostedPlatformTest, FaultedClosesStillReleaseTheirHandles) {
  machine_.WriteFile("WINDOWS/SYSTEM.INI", "ini");
  machine_.Start();
  HANDLE file = CreateFileA("C:\\WINDOWS\\SYSTEM.INI", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HKEY key = nullptr;
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(hosted::OpenFileCount(), 1u);
  EXPECT_EQ(hosted::OpenKeyCount(), 1u);
  hosted::SetFaultPlan(FailCall(hosted::CallCount() + 1, true));
  char byte;
  DWORD got = 5;
  EXPECT_FALSE(ReadFile(file, &byte, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(hosted::OpenFileCount(), 0u);
  EXPECT_EQ(hosted::OpenKeyCount(), 0u);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OK), 0);
  EXPECT_TRUE(hosted::ShownBoxes().empty()) << "a faulted box is never up";
}

TEST_F(HostedPlatformTest, FailsRegistryCallsOnAKeyAndBelowIt) {
  machine_.Start();
  hosted::SetFaultPlan(FailNamed("hkey_local_machine\\enum\\pci\\ven_1", ""));
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_1", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(key, nullptr);
  EXPECT_NE(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_1\\Sub"), ERROR_SUCCESS);
  EXPECT_NE(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_1"), ERROR_SUCCESS);
  EXPECT_TRUE(hosted::CurrentRegistry().KeyExists("HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\PCI\\VEN_2"), ERROR_SUCCESS)
      << "a name that only begins like the key is another key";
  EXPECT_EQ(hosted::FaultsInjected(), 3u);
}

// ------------------------------------------------------------ start, stop

TEST(StartTest, RefusesAMissingFolderOrAMalformedRegistryAndTouchesNothing) {
  testsupport::TempMachine machine("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\nnot a value\r\n");
  hosted::StartOptions options;
  options.terminal = false;
  std::string error;
  options.machine = machine.HostPath("absent");
  EXPECT_FALSE(hosted::Start(options, &error));
  EXPECT_NE(error.find("absent"), std::string::npos) << error;
  options.machine = machine.HostPath("registry.reg");
  EXPECT_FALSE(hosted::Start(options, &error)) << "a file is no machine folder";
  options.machine = machine.Root();
  options.logPath = machine.HostPath("calls.log");
  EXPECT_FALSE(hosted::Start(options, &error));
  EXPECT_NE(error.find("registry.reg:4:"), std::string::npos) << error;
  EXPECT_EQ(machine.ReadFile("registry.reg"),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\nnot a value\r\n");
  char buffer[8];
  EXPECT_EQ(CopyFileA("C:\\registry.reg", "C:\\copy.reg", FALSE), FALSE) << "not started";
  EXPECT_FALSE(machine.Exists("copy.reg"));
  EXPECT_EQ(GetWindowsDirectoryA(buffer, 0), 11u) << "directory answers need no machine";
}

TEST(StartTest, RunsOneMachineAtATime) {
  testsupport::TempMachine first, second;
  first.Start();
  hosted::StartOptions options;
  options.machine = second.Root();
  std::string error;
  EXPECT_FALSE(hosted::Start(options, &error)) << "already started";
  first.Stop();
  second.Start();
  second.WriteFile("WINDOWS/SYSTEM.INI", "x");
  EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\SYSTEM.INI"));
  EXPECT_EQ(hosted::CallCount(), 1u) << "counted from this Start";
  second.Stop();
}

// ------------------------------------------------------------ command line

struct CommandLineCase {
  const char *name;
  std::vector<const char *> args;
  bool ok;
  hosted::CommandLine::Action action;
  std::string machine;
  std::size_t answers;
  std::string log;
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, ParsesOrRefuses) {
  const auto &c = GetParam();
  std::vector<const char *> argv{"tq72uninst"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  hosted::CommandLine line;
  std::string error;
  ASSERT_EQ(hosted::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &line, &error),
            c.ok)
      << error;
  if (!c.ok) {
    EXPECT_FALSE(error.empty());
    return;
  }
  EXPECT_EQ(line.action, c.action);
  EXPECT_EQ(line.options.machine, c.machine);
  EXPECT_EQ(line.options.answers.size(), c.answers);
  EXPECT_EQ(line.options.logPath, c.log);
  EXPECT_TRUE(line.options.terminal);
}

using Action = hosted::CommandLine::Action;
INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"Defaults", {}, true, Action::Run, ".", 0, ""},
        CommandLineCase{"All", {"--machine", "m", "--answers", "yes,ok", "--log", "-"}, true,
                        Action::Run, "m", 2, "-"},
        CommandLineCase{"Equals", {"--machine=m", "--answers=no", "--log=l"}, true, Action::Run,
                        "m", 1, "l"},
        CommandLineCase{"Help", {"--machine", "m", "--help"}, true, Action::Help, "m", 0, ""},
        CommandLineCase{"Version", {"--version"}, true, Action::Version, ".", 0, ""},
        CommandLineCase{"Unknown", {"--force"}, false, Action::Run, "", 0, ""},
        CommandLineCase{"Positional", {"machine"}, false, Action::Run, "", 0, ""},
        CommandLineCase{"MissingValue", {"--machine"}, false, Action::Run, "", 0, ""},
        CommandLineCase{"EmptyMachine", {"--machine="}, false, Action::Run, "", 0, ""},
        CommandLineCase{"BadAnswer", {"--answers", "yes,maybe"}, false, Action::Run, "", 0, ""}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
