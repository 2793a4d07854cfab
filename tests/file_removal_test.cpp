// The driver, program, applet and help files: the one prompt of the run, the
// second attempt on the applet, and paths that must never be cut short.
#include "files/file_removal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "interposer/interposer.h"
#include "platform/hosted/hosted.h"
#include "support/modem_machine.h"
#include "texts/texts.h"

namespace {

using testsupport::ModemFiles;
using testsupport::NeighbourFiles;

// Holds a file as the Control Panel does: another open file with a lock.
class Holder {
 public:
  explicit Holder(const std::string &hostPath) : fd_(open(hostPath.c_str(), O_RDONLY)) {
    EXPECT_GE(fd_, 0) << hostPath;
    EXPECT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0);
  }
  ~Holder() { Release(); }
  void Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class FileRemoval : public testing::Test {
 protected:
  void SetUp() override {
    testsupport::InstallModemFiles(machine_);
    machine_.Start();
  }
  void TearDown() override {
    for (const std::string &file : NeighbourFiles) EXPECT_TRUE(machine_.Exists(file)) << file;
    EXPECT_EQ(hosted::OpenFileCount(), 0u);
    machine_.Stop();
  }
  void RunBothSteps() {
    RemoveDriverFiles();
    RemoveControlPanelApplet();
  }
  std::size_t PromptsShown() const {
    std::size_t prompts = 0;
    for (const hosted::ShownBox &box : hosted::ShownBoxes()) {
      EXPECT_EQ(box.text, AppletPrompt);
      EXPECT_EQ(box.caption, "Quorvane TQ72 Modem");
      EXPECT_EQ(box.style, 0u);
      ++prompts;
    }
    return prompts;
  }
  testsupport::TempMachine machine_;
};

TEST_F(FileRemoval, AllSixGoWithoutPrompt) {
  RunBothSteps();
  for (const std::string &file : ModemFiles) EXPECT_FALSE(machine_.Exists(file)) << file;
  EXPECT_EQ(PromptsShown(), 0u);
}

TEST_F(FileRemoval, AppletReleasedWhilePromptIsOpenGoesOnSecondAttempt) {
  Holder controlPanel(machine_.HostPath("WINDOWS/SYSTEM/tqc.cpl"));
  hosted::SetBoxHook([&](const hosted::ShownBox &) { controlPanel.Release(); });
  RunBothSteps();
  hosted::SetBoxHook(nullptr);
  EXPECT_EQ(PromptsShown(), 1u);
  for (const std::string &file : ModemFiles) EXPECT_FALSE(machine_.Exists(file)) << file;
}

TEST_F(FileRemoval, AppletHeldThroughoutStaysAndHelpStillGoes) {
  Holder controlPanel(machine_.HostPath("WINDOWS/SYSTEM/tqc.cpl"));
  RunBothSteps();
  EXPECT_EQ(PromptsShown(), 1u);
  EXPECT_TRUE(machine_.Exists("WINDOWS/SYSTEM/tqc.cpl"));
  EXPECT_FALSE(machine_.Exists("WINDOWS/Help/tqc.hlp"));
}

TEST_F(FileRemoval, AbsentAppletPromptsOnceLikeALockedOne) {
  std::filesystem::remove(machine_.HostPath("WINDOWS/SYSTEM/tqc.cpl"));
  RunBothSteps();
  EXPECT_EQ(PromptsShown(), 1u);
  EXPECT_FALSE(machine_.Exists("WINDOWS/Help/tqc.hlp"));
}

TEST_F(FileRemoval, LockedProgramFileFailsQuietlyAndTheRestGo) {
  Holder running(machine_.HostPath("WINDOWS/SYSTEM/quninst.exe"));
  RunBothSteps();
  EXPECT_TRUE(machine_.Exists("WINDOWS/SYSTEM/quninst.exe"));
  for (std::size_t i = 1; i < ModemFiles.size(); ++i) EXPECT_FALSE(machine_.Exists(ModemFiles[i]));
  EXPECT_EQ(PromptsShown(), 0u);
}

TEST_F(FileRemoval, MatchesNamesCaseInsensitivelyOnAMountedDisk) {
  std::filesystem::rename(machine_.HostPath("WINDOWS/SYSTEM/tqc.cpl"),
                          machine_.HostPath("WINDOWS/SYSTEM/TQC.CPL"));
  RunBothSteps();
  EXPECT_FALSE(machine_.Exists("WINDOWS/SYSTEM/TQC.CPL"));
  EXPECT_EQ(PromptsShown(), 0u);
}

// Directory answers around the 256-character path buffer. The system
// directory is made real below the machine so that a wrong path could delete.
struct PathCase {
  const char *name;
  std::size_t systemLength;  // characters of the system directory's path
  bool windowsFails;
  bool driversGo;
  bool appletStepRuns;
};
void PrintTo(const PathCase &c, std::ostream *os) { *os << c.name; }

class FilePathLimits : public testing::TestWithParam<PathCase> {};

TEST_P(FilePathLimits, NoTruncatedOrPartialPaths) {
  const PathCase &c = GetParam();
  testsupport::TempMachine machine;
  const std::string prefix = "C:\\WINDOWS\\SYSTEM\\";
  std::string system;
  if (c.systemLength > 0) {
    std::string leaf(c.systemLength - prefix.size(), 'd');
    system = prefix + leaf;
    std::filesystem::create_directories(machine.HostPath("WINDOWS/SYSTEM/" + leaf));
    for (const char *name :
         {"quninst.exe", "qvnvcd.vxd", "tq72pci.vxd", "tq72pci1.vxd", "tqc.cpl"}) {
      machine.WriteFile("WINDOWS/SYSTEM/" + leaf + "/" + name, "x");
    }
  }
  machine.WriteFile("WINDOWS/Help/tqc.hlp", "x");
  machine.Start();
  interposer::Interposer layer;
  layer.SetDirectories(c.windowsFails ? "" : "C:\\WINDOWS", system);
  RemoveDriverFiles();
  RemoveControlPanelApplet();
  std::string leafDir = c.systemLength > 0
                            ? "WINDOWS/SYSTEM/" + std::string(c.systemLength - prefix.size(), 'd')
                            : "";
  if (!leafDir.empty()) {
    for (const char *name : {"quninst.exe", "qvnvcd.vxd", "tq72pci.vxd", "tq72pci1.vxd"}) {
      EXPECT_EQ(machine.Exists(leafDir + "/" + name), !c.driversGo) << name;
    }
  }
  EXPECT_EQ(machine.Exists("WINDOWS/Help/tqc.hlp"), !c.appletStepRuns);
  EXPECT_EQ(hosted::ShownBoxes().size(), 0u);
  machine.Stop();
}

// "\tq72pci1.vxd" is the longest name the system directory takes (13
// characters): a 242-character directory leaves exactly room for it and the
// terminator; at 243 the shorter names would still fit but none may go,
// while the applet step, with names of its own, still runs.
INSTANTIATE_TEST_SUITE_P(
    Limits, FilePathLimits,
    testing::Values(PathCase{"LongestNameFitsExactly", 242, false, true, true},
                    PathCase{"OneCharacterTooLongForOneName", 243, false, false, true},
                    PathCase{"DirectoryFillsTheBuffer", 255, false, false, false},
                    PathCase{"DirectoryDoesNotFitTheBuffer", 256, false, false, false},
                    PathCase{"SystemQueryFails", 0, false, false, false},
                    PathCase{"WindowsQueryFails", 242, true, true, false}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
