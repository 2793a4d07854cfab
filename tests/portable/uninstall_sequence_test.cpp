// The whole run: one confirmation that only Yes gets past, every step in
// order, the completion box, the exit status; and a second run that finds
// nothing left to remove.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/uninstall.h"
#include "support/modem_fixture.h"
#include "support/scratch_machine.h"

namespace {

using namespace platform;

const char Caption[] = "Quorvane TQ72 Modem";
const std::string Confirmation =
    "If you want to remove the Quorvane TQ72 Modem from your system, Click Yes.  If you are "
    "intending to Upgrade the TQ72 Modem with new software drivers, Click No and simply run "
    "Setup.exe from within the new installation kit.";
const std::string Completion =
    "Software uninstall is finished.  To complete uninstallation, you must remove the hardware "
    "from the computer. ";
const std::string NoProductKey = "Could not open either key";
const std::string AppletPrompt =
    "Unable to delete Control Panel entry\r\n\r\nPlease close the Control Panel and continue";

// What a run leaves and shows.
struct Outcome {
  int status;
  std::vector<std::string> texts;  // of the boxes, in order
  std::vector<UINT> styles;
};

// Runs the uninstaller on machine, its boxes answered with `answers` and
// after them Yes or OK.
Outcome RunOn(const scratch::Machine &machine, std::vector<int> answers) {
  interposer::Interposer layer;
  machine.Interpose(layer);
  layer.AnswerBoxes(std::move(answers));
  Outcome run{RunUninstall(), {}, {}};
  for (const interposer::Box &box : layer.Boxes()) {
    EXPECT_EQ(box.caption, Caption);
    run.texts.push_back(box.text);
    run.styles.push_back(box.style);
  }
  EXPECT_EQ(layer.OpenKeys(), 0u);
  EXPECT_EQ(layer.OpenFiles(), 0u);
  return run;
}

class ModemMachine : public testing::Test {
 protected:
  scratch::Machine machine_{scratch::ModemKeys(), scratch::ModemFiles()};
};

class Declined : public ModemMachine, public testing::WithParamInterface<int> {};

TEST_P(Declined, EndsAtOnceAndTouchesNothing) {
  const scratch::Snapshot before = machine_.TakeSnapshot();
  const Outcome run = RunOn(machine_, {GetParam()});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.texts, std::vector<std::string>{Confirmation});
  // No is the default button: Enter declines as No does.
  EXPECT_EQ(run.styles, std::vector<UINT>{MB_YESNO | MB_DEFBUTTON2});
  EXPECT_TRUE(machine_.TakeSnapshot() == before);
}

// No, and a box that cannot be shown (0), which is no Yes.
INSTANTIATE_TEST_SUITE_P(Answers, Declined, testing::Values(IDNO, 0));

TEST_F(ModemMachine, YesRemovesEverythingAndTellsToRemoveTheHardware) {
  const Outcome run = RunOn(machine_, {IDYES, IDOK});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.texts, (std::vector<std::string>{Confirmation, Completion}));
  EXPECT_EQ(run.styles[1], MB_OK);
  // The texts as the program shows them: two blanks after the first
  // sentence of each, and a blank at the very end of the completion.
  EXPECT_EQ(run.texts[0].size(), 221u);
  EXPECT_EQ(run.texts[1].size(), 109u);
  EXPECT_EQ(run.texts[1].back(), ' ');
  for (const std::string &key : scratch::KeysRemoved) EXPECT_FALSE(machine_.HasKey(key)) << key;
  for (const std::string &key : scratch::KeysKept) EXPECT_TRUE(machine_.HasKey(key)) << key;
  for (const std::string &file : scratch::ProductFiles) EXPECT_FALSE(machine_.ReadFile(file)) << file;
  for (const std::string &file : scratch::NeighbourFiles)
    EXPECT_TRUE(machine_.ReadFile(file)) << file;
  EXPECT_EQ(machine_.ReadFile("SYSTEM.INI"), std::string(scratch::CleanedSystemIni));
  EXPECT_FALSE(machine_.ReadFile("system.new"));
}

TEST_F(ModemMachine, CompletionThatCannotBeShownEndsWithZero) {
  EXPECT_EQ(RunOn(machine_, {IDYES, 0}).status, 0);
  EXPECT_FALSE(machine_.HasKey(scratch::KeysRemoved[0]));
}

TEST_F(ModemMachine, SecondRunRemovesNothingAndShowsTheSameBoxes) {
  EXPECT_EQ(RunOn(machine_, {IDYES, IDOK}).status, 1);
  const scratch::Snapshot cleaned = machine_.TakeSnapshot();

  const Outcome second = RunOn(machine_, {IDYES, IDOK, IDOK});
  EXPECT_EQ(second.status, 1);
  // The product keys survive the first run, so no "Could not open" box; the
  // applet is gone and fails to delete like a locked one.
  EXPECT_EQ(second.texts, (std::vector<std::string>{Confirmation, AppletPrompt, Completion}));
  EXPECT_TRUE(machine_.TakeSnapshot() == cleaned);
}

TEST(EmptyMachine, YesStillRunsEveryStepToTheCompletionBox) {
  scratch::Machine machine({}, {});
  const Outcome run = RunOn(machine, {});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.texts,
            (std::vector<std::string>{Confirmation, NoProductKey, AppletPrompt, Completion}));
}

}  // namespace
