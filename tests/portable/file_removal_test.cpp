// The driver, program, applet and help files: the one prompt of the run, the
// second attempt on the applet, and paths that must never be cut short.
#include "files/file_removal.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/call_table.h"
#include "support/modem_fixture.h"
#include "support/scratch_machine.h"
#include "texts/texts.h"

namespace {

const std::string Applet = "SYSTEM\\tqc.cpl";

class FileRemoval : public testing::Test {
 protected:
  void TearDown() override {
    for (const std::string &file : scratch::NeighbourFiles)
      EXPECT_TRUE(run_.machine.ReadFile(file)) << file;
    EXPECT_EQ(run_.layer.OpenFiles(), 0u);
  }
  void RunBothSteps() {
    RemoveDriverFiles();
    RemoveControlPanelApplet();
  }
  std::size_t PromptsShown() const {
    for (const interposer::Box &box : run_.layer.Boxes()) {
      EXPECT_EQ(box.text, AppletPrompt);
      EXPECT_EQ(box.caption, "Quorvane TQ72 Modem");
      EXPECT_EQ(box.style, 0u);
    }
    return run_.layer.Boxes().size();
  }
  bool Exists(const std::string &file) const { return run_.machine.ReadFile(file).has_value(); }
  scratch::Rig run_{{}, scratch::ModemFiles()};
};

TEST_F(FileRemoval, AllSixGoWithoutPrompt) {
  RunBothSteps();
  for (const std::string &file : scratch::ProductFiles) EXPECT_FALSE(Exists(file)) << file;
  EXPECT_EQ(PromptsShown(), 0u);
}

TEST_F(FileRemoval, AppletReleasedWhilePromptIsOpenGoesOnSecondAttempt) {
  run_.machine.Hold(Applet);
  run_.layer.OnBox([&](const interposer::Box &) { run_.machine.Release(Applet); });
  RunBothSteps();
  EXPECT_EQ(PromptsShown(), 1u);
  for (const std::string &file : scratch::ProductFiles) EXPECT_FALSE(Exists(file)) << file;
}

TEST_F(FileRemoval, AppletHeldThroughoutStaysAndHelpStillGoes) {
  run_.machine.Hold(Applet);
  RunBothSteps();
  EXPECT_EQ(PromptsShown(), 1u);
  EXPECT_TRUE(Exists(Applet));
  EXPECT_FALSE(Exists("Help\\tqc.hlp"));
}

TEST_F(FileRemoval, AbsentAppletPromptsOnceLikeALockedOne) {
  ASSERT_TRUE(platform::NativeCalls.DeleteFileA(run_.machine.PathOf(Applet).c_str()));
  RunBothSteps();
  EXPECT_EQ(PromptsShown(), 1u);
  EXPECT_FALSE(Exists("Help\\tqc.hlp"));
}

TEST_F(FileRemoval, LockedProgramFileFailsQuietlyAndTheRestGo) {
  run_.machine.Hold("SYSTEM\\quninst.exe");
  RunBothSteps();
  EXPECT_TRUE(Exists("SYSTEM\\quninst.exe"));
  for (std::size_t i = 1; i < scratch::ProductFiles.size(); ++i)
    EXPECT_FALSE(Exists(scratch::ProductFiles[i])) << scratch::ProductFiles[i];
  EXPECT_EQ(PromptsShown(), 0u);
}

// Directory answers around the 256-character path buffer. The system
// directory is made real below the machine, with the product's files in it,
// so that a wrong path could delete.
struct PathCase {
  const char *name;
  std::size_t systemLength;  // characters of the system directory's path; 0: the query fails
  bool windowsFails;
  bool driversGo;
  bool appletStepRuns;
  unsigned miscount = 0;  // added to the lengths the queries report
};
void PrintTo(const PathCase &c, std::ostream *os) { *os << c.name; }

class FilePathLimits : public testing::TestWithParam<PathCase> {};

TEST_P(FilePathLimits, NoTruncatedOrPartialPaths) {
  const PathCase &c = GetParam();
  scratch::Rig run({}, {});
  std::string system, folder;
  if (c.systemLength > 0) {
    const std::string leaf(c.systemLength - run.machine.SystemDir().size() - 1, 'd');
    system = run.machine.SystemDir() + "\\" + leaf;
    folder = "SYSTEM\\" + leaf + "\\";
  }
  // Where each product file is for this system directory; the first four
  // are RemoveDriverFiles', the applet and its help RemoveControlPanelApplet's.
  auto where = [&](const std::string &file) {
    return file.rfind("SYSTEM\\", 0) == 0 ? folder + file.substr(7) : file;
  };
  // Where the host cannot make a file (Windows: a path past MAX_PATH), no
  // call of the step can reach one either.
  for (const std::string &file : scratch::ProductFiles) run.machine.WriteFile(where(file), "x");
  run.layer.SetDirectories(c.windowsFails ? "" : run.machine.WindowsDir(), system);
  run.layer.Miscount(c.miscount);
  std::map<std::string, std::string> expected = run.machine.Files();
  for (std::size_t i = 0; i < scratch::ProductFiles.size(); ++i) {
    if (i < 4 ? c.driversGo : c.appletStepRuns) expected.erase(where(scratch::ProductFiles[i]));
  }
  RemoveDriverFiles();
  RemoveControlPanelApplet();
  EXPECT_EQ(run.machine.Files(), expected);
  EXPECT_EQ(run.layer.Boxes().size(), 0u);
  EXPECT_EQ(run.layer.MalformedPaths(), std::vector<std::string>{});
}

// "\tq72pci1.vxd" is the longest name the system directory takes (13
// characters): a 242-character directory leaves exactly room for it and the
// terminator; at 243 the shorter names would still fit but none may go,
// while the applet step, with names of its own, still runs. A directory whose
// reported length is not its text's is no directory to delete in.
INSTANTIATE_TEST_SUITE_P(
    Limits, FilePathLimits,
    testing::Values(PathCase{"LongestNameFitsExactly", 242, false, true, true},
                    PathCase{"OneCharacterTooLongForOneName", 243, false, false, true},
                    PathCase{"DirectoryFillsTheBuffer", 255, false, false, false},
                    PathCase{"DirectoryDoesNotFitTheBuffer", 256, false, false, false},
                    PathCase{"SystemQueryFails", 0, false, false, false},
                    PathCase{"WindowsQueryFails", 242, true, true, false},
                    PathCase{"LengthReportedPastTheText", 100, false, false, false, 1},
                    PathCase{"LengthReportedAsTheWholeBuffer", 255, false, false, false, 1}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
