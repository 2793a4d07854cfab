// The system.ini rewrite on a machine folder: what becomes of each kind of
// text, and that system.ini is either left whole or correctly rewritten when
// any platform call fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/hosted/hosted.h"
#include "support/temp_machine.h"
#include "sysini/system_ini.h"

namespace {

hosted::FaultPlan FailCall(unsigned number, bool persistent = false) {
  hosted::FaultPlan plan;
  plan.failCall = number;
  plan.persistent = persistent;
  return plan;
}

using namespace std::string_literals;
using testsupport::TempMachine;

const char IniFile[] = "WINDOWS/system.ini";
const char NewFile[] = "WINDOWS/system.new";
const std::string M = "device=qvnvcd.vxd";

struct RewriteCase {
  const char *name;
  std::string before;
  std::string after;
};
void PrintTo(const RewriteCase &c, std::ostream *out) { *out << c.name; }

std::string Times(std::size_t n, char c) { return std::string(n, c); }

// 40 lines of 101 bytes, then 55 more: the next CR is the 4096th byte, so its
// LF comes with the second read and the output crosses its buffer as well.
std::string UpToCrAt4096() {
  std::string text;
  for (int i = 0; i < 40; ++i) text += Times(99, 'a') + "\r\n";
  return text + Times(55, 'b');
}

std::vector<RewriteCase> Cases() {
  return {
      {"MarkerLineGoesNextLineFollowsBlanks", "A\r\n" + M + "\r\nB\r\n", "A\r\n  B\r\n"},
      {"LfLineEndsBecomeCrLf", "A\nB\n" + M + "\nE\n", "A\r\nB\r\n  E\r\n"},
      {"MarkerAsLastLine", "A\r\n" + M + "\r\n", "A\r\n  "},
      {"MarkerLastWithoutLineEnd", "A\r\n" + M, "A\r\n  "},
      {"ConsecutiveMarkerLines", M + "\r\n" + M + "\r\nB\r\n", "    B\r\n"},
      {"LoneCrAndLastLineWithoutEndKept", "A\rB\r\nE", "A\rB\r\nE"},
      {"CrCrLfKept", "A\r\r\nB\r\n", "A\r\r\nB\r\n"},
      {"LoneCrAsLastByteKept", "A\r\nB\r", "A\r\nB\r"},
      {"SearchIsCaseSensitive", "device=QVNVCD.VXD\r\nQvnvcd\r\n", "device=QVNVCD.VXD\r\nQvnvcd\r\n"},
      {"OnlyThePieceHoldingTheMarkerGoes", Times(300, 'A') + "qvnvcd\r\nB\r\n",
       Times(255, 'A') + "  B\r\n"},
      {"MarkerSplitOverPiecesIsNotFound", Times(250, 'A') + "qvnvcd\r\nB\r\n",
       Times(250, 'A') + "qvnvcd\r\nB\r\n"},
      {"MarkerFillingAPieceLeavesItsLineEnd", Times(249, 'A') + "qvnvcd\r\nB\r\n", "  \r\nB\r\n"},
      {"LongLineWithoutMarkerKept", Times(600, 'L') + "\r\nB\r\n", Times(600, 'L') + "\r\nB\r\n"},
      {"CtrlZIsOrdinaryText", "A\r\n\x1a" "B\r\n", "A\r\n\x1a" "B\r\n"},
      {"MarkerAfterCtrlZStillFound", "A\r\n\x1a" + M + "\r\nB\r\n", "A\r\n  B\r\n"},
      {"ZeroByteHidesLaterMarkerButAllIsKept", "A\0"s + M + "\r\nB\r\n", "A\0"s + M + "\r\nB\r\n"},
      {"MarkerBeforeZeroByteBlanksWholePiece", M + "\0tail\r\nB\r\n"s, "  B\r\n"},
      {"ZeroByteAndTextAfterItKept", "A\0tail\r\nB"s, "A\0tail\r\nB"s},
      {"HighBytesKept", "\x80\xe9\xff\r\n", "\x80\xe9\xff\r\n"},
      {"CrLfAcrossReadAndWriteBuffers", UpToCrAt4096() + "\r\n" + M + "\r\nE\r\n",
       UpToCrAt4096() + "\r\n  E\r\n"},
      {"EmptyFileStaysEmpty", "", ""},
  };
}

class RewriteTable : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTable, RewritesByteForByte) {
  const RewriteCase &c = GetParam();
  TempMachine machine;
  machine.WriteFile(IniFile, c.before);
  machine.Start();
  RewriteSystemIni();
  EXPECT_EQ(hosted::OpenFileCount(), 0u);
  machine.Stop();
  EXPECT_EQ(machine.ReadFile(IniFile), c.after);
  EXPECT_FALSE(machine.Exists(NewFile));
}

INSTANTIATE_TEST_SUITE_P(SystemIni, RewriteTable, testing::ValuesIn(Cases()),
                         [](const auto &info) { return std::string(info.param.name); });

// A mounted Windows 98 disk names the file SYSTEM.INI: that file is the one
// rewritten, and no second system.ini appears beside it.
TEST(RewriteSystemIni, RewritesTheFileUnderItsOwnCase) {
  TempMachine machine;
  machine.WriteFile("WINDOWS/SYSTEM.INI", "[386Enh]\r\n" + M + "\r\nB\r\n");
  machine.Start();
  RewriteSystemIni();
  machine.Stop();
  EXPECT_EQ(machine.ReadFile("WINDOWS/SYSTEM.INI"), "[386Enh]\r\n  B\r\n");
  EXPECT_FALSE(machine.Exists(IniFile));
  EXPECT_FALSE(machine.Exists(NewFile));
}

TEST(RewriteSystemIni, MissingSystemIniCreatesNothing) {
  TempMachine machine;
  machine.Start();
  RewriteSystemIni();
  EXPECT_EQ(hosted::OpenFileCount(), 0u);
  machine.Stop();
  EXPECT_FALSE(machine.Exists(IniFile));
  EXPECT_FALSE(machine.Exists(NewFile));
}

// The Windows directory may only just leave room for "\system.ini": 244
// characters still work; at 245 the path would be cut, so nothing is opened.
TEST(RewriteSystemIni, WindowsDirectoryAtThePathLimit) {
  for (std::size_t length : {244u, 245u}) {
    SCOPED_TRACE(length);
    TempMachine machine;
    std::string element = Times(length - std::string("C:\\WINDOWS\\").size(), 'w');
    std::filesystem::create_directory(machine.HostPath("WINDOWS/" + element));
    std::string ini = "WINDOWS/" + element + "/system.ini";
    machine.WriteFile(ini, M + "\r\nB\r\n");
    machine.Start();
    hosted::SetDirectories("C:\\WINDOWS\\" + element, "C:\\WINDOWS\\SYSTEM");
    unsigned callsBefore = hosted::CallCount();
    RewriteSystemIni();
    unsigned calls = hosted::CallCount() - callsBefore;
    machine.Stop();
    EXPECT_EQ(machine.ReadFile(ini), length == 244 ? "  B\r\n" : M + "\r\nB\r\n");
    if (length == 245) {
      EXPECT_EQ(calls, 1u) << "only the directory query may be made";
    }
  }
}

TEST(RewriteSystemIni, NoWindowsDirectoryOpensNothing) {
  TempMachine machine;
  machine.WriteFile(IniFile, M + "\r\n");
  machine.Start();
  hosted::SetDirectories("", "C:\\WINDOWS\\SYSTEM");
  unsigned callsBefore = hosted::CallCount();
  RewriteSystemIni();
  EXPECT_EQ(hosted::CallCount() - callsBefore, 1u);
  machine.Stop();
  EXPECT_EQ(machine.ReadFile(IniFile), M + "\r\n");
}

// ------------------------------------------------------------ fault sweep
// The rewrite is run once per platform call it makes, with that call
// failing; the call log names the failed call.

// More than one buffer of output, so that a write fails inside the loop as
// well as at the close.
std::string SweepBefore() {
  std::string text;
  for (int i = 0; i < 60; ++i) text += (i == 30 ? M : "line" + std::to_string(i) + Times(90, 'x')) + "\r\n";
  return text;
}

std::string Rewritten(const std::string &before) {
  std::string marked = M + "\r\n";
  std::string after = before;
  after.replace(after.find(marked), marked.size(), "  ");
  return after;
}

std::string ReadHostFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Runs the rewrite on a started machine with plan; returns the name of each
// call made, by call number.
std::map<unsigned, std::string> RunLogged(TempMachine &machine, const hosted::FaultPlan &plan) {
  hosted::StartOptions options;
  options.machine = machine.Root();
  options.terminal = false;
  options.logPath = machine.HostPath("calls.log");
  std::string error;
  if (!hosted::Start(options, &error)) ADD_FAILURE() << error;
  hosted::SetFaultPlan(plan);
  RewriteSystemIni();
  EXPECT_EQ(hosted::OpenFileCount(), 0u);
  if (!hosted::Stop(&error)) ADD_FAILURE() << error;

  std::map<unsigned, std::string> calls;
  std::istringstream log(ReadHostFile(options.logPath));
  std::regex callPattern(R"re("n":(\d+),"call":"(\w+)")re");
  for (std::string line; std::getline(log, line);) {
    std::smatch match;
    if (std::regex_search(line, match, callPattern)) calls[std::stoul(match[1])] = match[2];
  }
  return calls;
}

enum class Outcome { Untouched, UntouchedNewLeft, Rewritten, RewrittenNewLeft };

Outcome Observe(const TempMachine &machine, const std::string &before) {
  std::string ini = machine.ReadFile(IniFile);
  bool newLeft = machine.Exists(NewFile);
  if (ini == before) return newLeft ? Outcome::UntouchedNewLeft : Outcome::Untouched;
  EXPECT_EQ(ini, Rewritten(before)) << "system.ini is neither whole nor correctly rewritten";
  return newLeft ? Outcome::RewrittenNewLeft : Outcome::Rewritten;
}

TEST(RewriteSystemIniFaults, EveryFailedCallLeavesSystemIniWholeOrRewritten) {
  const std::string before = SweepBefore();
  TempMachine clean;
  clean.WriteFile(IniFile, before);
  std::map<unsigned, std::string> calls = RunLogged(clean, {});
  ASSERT_EQ(clean.ReadFile(IniFile), Rewritten(before));
  ASSERT_GT(calls.size(), 8u);

  // What each kind of failed call must leave. A failed close of system.ini
  // comes after all of it was read and does not matter; one of system.new
  // means its last data may be missing. The log does not say which file a
  // close was on, so each of the two must be seen once.
  const std::map<std::string, std::vector<Outcome>> allowed = {
      {"GetWindowsDirectoryA", {Outcome::Untouched}},
      {"CreateFileA", {Outcome::Untouched}},
      {"ReadFile", {Outcome::UntouchedNewLeft}},
      {"WriteFile", {Outcome::UntouchedNewLeft}},
      {"CloseHandle", {Outcome::Rewritten, Outcome::UntouchedNewLeft}},
      {"CopyFileA", {Outcome::Untouched}},
      {"DeleteFileA", {Outcome::RewrittenNewLeft}},
  };
  std::map<std::string, std::vector<Outcome>> seen;
  unsigned writesFailedInLoop = 0;
  for (const auto &[number, call] : calls) {
    SCOPED_TRACE("call " + std::to_string(number) + " " + call);
    TempMachine machine;
    machine.WriteFile(IniFile, before);
    RunLogged(machine, FailCall(number));
    Outcome outcome = Observe(machine, before);
    ASSERT_TRUE(allowed.contains(call)) << "unexpected call";
    const std::vector<Outcome> &ok = allowed.at(call);
    EXPECT_NE(std::find(ok.begin(), ok.end(), outcome), ok.end());
    seen[call].push_back(outcome);
    if (call == "WriteFile" && machine.ReadFile(NewFile).empty()) ++writesFailedInLoop;
  }
  for (const auto &[call, outcomes] : allowed) {
    for (Outcome outcome : outcomes) {
      EXPECT_NE(std::find(seen[call].begin(), seen[call].end(), outcome), seen[call].end())
          << call << " never left outcome " << static_cast<int>(outcome);
    }
  }
  EXPECT_EQ(writesFailedInLoop, 1u) << "the first buffer's write should fail inside the loop";
}

// A read error that never clears must end the step, not spin on a file whose
// end never shows: system.ini stays whole and system.new is left.
TEST(RewriteSystemIniFaults, PersistentReadErrorEndsTheStep) {
  const std::string before = SweepBefore();
  TempMachine clean;
  clean.WriteFile(IniFile, before);
  std::map<unsigned, std::string> calls = RunLogged(clean, {});
  std::vector<unsigned> reads;
  for (const auto &[number, call] : calls) {
    if (call == "ReadFile") reads.push_back(number);
  }
  ASSERT_GE(reads.size(), 2u);
  for (unsigned number : reads) {
    SCOPED_TRACE(number);
    TempMachine machine;
    machine.WriteFile(IniFile, before);
    RunLogged(machine, FailCall(number, true));
    EXPECT_EQ(machine.ReadFile(IniFile), before);
    EXPECT_TRUE(machine.Exists(NewFile));
  }
}

}  // namespace
