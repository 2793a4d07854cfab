// The system.ini rewrite: what becomes of each kind of text, and that
// system.ini is either left whole or correctly rewritten when any platform
// call fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/scratch_machine.h"
#include "sysini/system_ini.h"
#include "sysini/text_stream.h"

namespace {

using namespace std::string_literals;

const char IniFile[] = "system.ini";
const char NewFile[] = "system.new";
const std::string M = "device=qvnvcd.vxd";

struct RewriteCase {
  const char *name;
  std::string before;
  std::string after;
};
void PrintTo(const RewriteCase &c, std::ostream *out) { *out << c.name; }

std::string Times(std::size_t n, char c) { return std::string(n, c); }

// Lines of 101 bytes, up to the last that fits the first read.
std::string Lines() {
  std::string text;
  while (text.size() + 101 < TextBufferSize) text += Times(99, 'a') + "\r\n";
  return text;
}
// Then as many more as make the next CR the last byte of the first read, so
// its LF comes with the second read and the output crosses its buffer as well.
std::string UpToCrAtBufferEnd() {
  const std::string text = Lines();
  return text + Times(TextBufferSize - 1 - text.size(), 'b');
}
// The same lines, then one whose CR LF fills the output buffer exactly: it
// is full when the next line comes.
std::string UpToLineEndAtBufferEnd() {
  const std::string text = Lines();
  return text + Times(TextBufferSize - 2 - text.size(), 'b') + "\r\n";
}

std::vector<RewriteCase> Cases() {
  return {
      {"MarkerLineGoesNextLineFollowsBlanks", "A\r\n" + M + "\r\nB\r\n", "A\r\n  B\r\n"},
      {"LfLineEndsBecomeCrLf", "A\nB\n" + M + "\nE\n", "A\r\nB\r\n  E\r\n"},
      {"MarkerAsLastLine", "A\r\n" + M + "\r\n", "A\r\n  "},
      {"MarkerLastWithoutLineEnd", "A\r\n" + M, "A\r\n  "},
      {"MarkerAloneWithoutLineEnd", "A\r\nqvnvcd", "A\r\n  "},
      {"LoneCrAndLastLineWithoutEndKept", "A\rB\r\nE", "A\rB\r\nE"},
      {"CrCrLfKept", "A\r\r\nB\r\n", "A\r\r\nB\r\n"},
      {"LoneCrAsLastByteKept", "A\r\nB\r", "A\r\nB\r"},
      {"SearchIsCaseSensitive", "device=QVNVCD.VXD\r\nQvnvcd\r\n",
       "device=QVNVCD.VXD\r\nQvnvcd\r\n"},
      {"OnlyThePieceHoldingTheMarkerGoes", Times(300, 'A') + "qvnvcd\r\nB\r\n",
       Times(255, 'A') + "  B\r\n"},
      {"MarkerSplitOverPiecesIsNotFound", Times(250, 'A') + "qvnvcd\r\nB\r\n",
       Times(250, 'A') + "qvnvcd\r\nB\r\n"},
      {"MarkerFillingAPieceLeavesItsLineEnd", Times(249, 'A') + "qvnvcd\r\nB\r\n", "  \r\nB\r\n"},
      // Ctrl-Z is no end of text: what an editor left after it stays, markers included.
      {"CtrlZKeptWithAllThatFollows", "A\x1a\r\nB\r\n" + M + "\r\nC", "A\x1a\r\nB\r\n  C"},
      {"ZeroByteHidesLaterMarkerButAllIsKept", "A\0"s + M + "\r\nB", "A\0"s + M + "\r\nB"},
      {"MarkerBeforeZeroByteBlanksWholePiece", M + "\0tail\r\nB\r\n"s, "  B\r\n"},
      {"CrLfAcrossReadAndWriteBuffers", UpToCrAtBufferEnd() + "\r\n" + M + "\r\nE\r\n",
       UpToCrAtBufferEnd() + "\r\n  E\r\n"},
      {"WriteBufferFullThenMore", UpToLineEndAtBufferEnd() + M + "\r\nE",
       UpToLineEndAtBufferEnd() + "  E"},
      {"EmptyFileStaysEmpty", "", ""},
  };
}

class RewriteTable : public testing::TestWithParam<RewriteCase> {};

// The file is named as a mounted Windows 98 disk shows it: that file is the
// one rewritten, and neither a second system.ini nor system.new is left.
TEST_P(RewriteTable, RewritesByteForByte) {
  scratch::Rig run({}, {{"SYSTEM.INI", GetParam().before}});
  RewriteSystemIni();
  EXPECT_EQ(run.layer.OpenFiles(), 0u);
  EXPECT_EQ(run.machine.Files(),
            (std::map<std::string, std::string>{{"SYSTEM.INI", GetParam().after}}));
}

INSTANTIATE_TEST_SUITE_P(SystemIni, RewriteTable, testing::ValuesIn(Cases()),
                         [](const auto &info) { return std::string(info.param.name); });

// The Windows directory may only just leave room for "\system.ini": 244
// characters still work; at 245 the path would be cut, and with no Windows
// directory there is no path at all: then only the query is made.
TEST(RewriteSystemIni, NothingIsOpenedWithoutAWholePath) {
  for (std::size_t length : {244u, 245u, 0u}) {
    SCOPED_TRACE(length);
    scratch::Rig run({}, {});
    const std::string windows = run.machine.WindowsDir();
    const std::string element(length == 0 ? 1 : length - windows.size() - 1, 'w');
    const std::string ini = element + "\\system.ini";
    ASSERT_TRUE(run.machine.WriteFile(ini, M + "\r\nB\r\n"));
    run.layer.SetDirectories(length == 0 ? "" : windows + "\\" + element, run.machine.SystemDir());
    run.layer.SetPlan({});
    RewriteSystemIni();
    if (length != 244) {
      EXPECT_EQ(run.layer.CallCount(), 1u) << "only the directory query";
    }
    EXPECT_EQ(run.machine.ReadFile(ini), length == 244 ? "  B\r\n" : M + "\r\nB\r\n");
  }
  scratch::Rig run({}, {});  // and a missing system.ini is not created
  RewriteSystemIni();
  EXPECT_EQ(run.machine.Files(), (std::map<std::string, std::string>{}));
}

// ------------------------------------------------------------ fault sweep
// The rewrite is run once per platform call it makes, with that call
// failing; the interposer names the failed call.

// More than one buffer of output, so that a write fails inside the loop as
// well as at the close.
std::string SweepBefore() {
  std::string text;
  for (int i = 0; text.size() < TextBufferSize + 1000; ++i)
    text += (i == 30 ? M : "line" + std::to_string(i) + Times(90, 'x')) + "\r\n";
  return text;
}

// Runs the rewrite on machine holding before with a call failing; returns
// the name of each call made, in order.
std::vector<std::string> RunFaulted(const scratch::Machine &machine, const std::string &before,
                                    interposer::Plan plan) {
  EXPECT_TRUE(machine.WriteFile(IniFile, before));
  interposer::Interposer layer;
  machine.Interpose(layer);
  layer.SetPlan(plan);
  RewriteSystemIni();
  EXPECT_EQ(layer.OpenFiles(), 0u);
  return layer.CallNames();
}

TEST(RewriteSystemIniFaults, EveryFailedCallLeavesSystemIniWholeOrRewritten) {
  const std::string before = SweepBefore();
  std::string rewritten = before;
  rewritten.replace(rewritten.find(M + "\r\n"), M.size() + 2, "  ");
  std::vector<std::string> calls;
  {
    const scratch::Machine clean({}, {});  // one machine at a time
    calls = RunFaulted(clean, before, {});
    ASSERT_EQ(clean.ReadFile(IniFile), rewritten);
  }
  ASSERT_GT(calls.size(), 8u);

  // What each kind of failed call must leave: system.ini whole (W),
  // rewritten (R) or partly written (P), system.new left (+) or not. A failed
  // close of system.ini comes after all of it was read and does not matter;
  // one of system.new means its last data may be missing. Which file a close
  // or an open was on is not known here, so each outcome must be seen. A
  // call failing halfway (h) must leave what a whole failure leaves, but for
  // the copy back, which writes part of system.ini and keeps system.new.
  const std::map<std::string, std::vector<std::string>> allowed = {
      {"GetWindowsDirectoryA", {"W"}}, {"CreateFileA", {"W", "hW", "hW+"}},
      {"ReadFile", {"W+", "hW+"}},     {"WriteFile", {"W+", "hW+"}},
      {"CloseHandle", {"R", "W+"}},    {"CopyFileA", {"W+", "hP+"}},
      {"DeleteFileA", {"R+"}},
  };
  std::map<std::string, std::vector<std::string>> seen;
  unsigned writesFailedInLoop = 0;
  const interposer::Plan modes[] = {
      {.call = 0, .persistent = false, .effect = interposer::Effect::Fail},
      // A read error that never clears must end the step, not spin on a file
      // whose end never shows.
      {.call = 0, .persistent = true, .effect = interposer::Effect::Fail},
      {.call = 0, .persistent = false, .effect = interposer::Effect::Halfway},
  };
  for (unsigned number = 1; number <= calls.size(); ++number) {
    const std::string &call = calls[number - 1];
    for (interposer::Plan plan : modes) {
      const bool halfway = plan.effect == interposer::Effect::Halfway;
      if ((plan.persistent && call != "ReadFile") || !interposer::HasEffect(plan.effect, call))
        continue;
      SCOPED_TRACE("call " + std::to_string(number) + " " + call +
                   (plan.persistent ? " onwards"
                    : halfway       ? " halfway"
                                    : ""));
      plan.call = number;
      scratch::Machine machine({}, {});
      RunFaulted(machine, before, plan);
      const std::string ini = machine.ReadFile(IniFile).value_or("");
      std::string outcome = halfway ? "h" : "";
      outcome += ini == before ? "W" : ini == rewritten ? "R" : "P";
      if (machine.ReadFile(NewFile)) outcome += '+';
      if (outcome.find('P') != std::string::npos) {
        EXPECT_EQ(machine.ReadFile(NewFile), rewritten) << "the only whole copy is lost";
      }
      ASSERT_TRUE(allowed.contains(call)) << "unexpected call";
      const auto &ok = allowed.at(call);
      EXPECT_NE(std::find(ok.begin(), ok.end(), outcome), ok.end()) << outcome;
      seen[call].push_back(outcome);
      if (call == "WriteFile" && !halfway && machine.ReadFile(NewFile) == "") ++writesFailedInLoop;
    }
  }
  for (const auto &[call, outcomes] : allowed) {
    for (const std::string &outcome : outcomes)
      EXPECT_NE(std::find(seen[call].begin(), seen[call].end(), outcome), seen[call].end())
          << call << " never left " << outcome;
  }
  EXPECT_EQ(writesFailedInLoop, 1u) << "the first buffer's write should fail inside the loop";
}

}  // namespace
