// The whole run: one confirmation that only Yes gets past, every step in
// order, the completion box, the exit status; and a second run that finds
// nothing left to remove.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/uninstall.h"
#include "platform/hosted/hosted.h"
#include "support/modem_machine.h"

namespace {

using hosted::Answer;
using testsupport::HasKey;

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

std::vector<std::string> BoxTexts() {
  std::vector<std::string> texts;
  for (const hosted::ShownBox &box : hosted::ShownBoxes()) {
    EXPECT_EQ(box.caption, Caption);
    texts.push_back(box.text);
  }
  return texts;
}

class ModemMachine : public testing::Test {
 protected:
  ModemMachine() : machine_(testsupport::ModemRegistryText()) {
    testsupport::InstallModemFiles(machine_);
  }
  int Run(std::vector<Answer> answers) {
    machine_.Start(std::move(answers));
    int status = RunUninstall();
    EXPECT_EQ(hosted::OpenKeyCount(), 0u);
    EXPECT_EQ(hosted::OpenFileCount(), 0u);
    return status;
  }
  testsupport::TempMachine machine_;
};

class Declined : public ModemMachine, public testing::WithParamInterface<Answer> {};

TEST_P(Declined, EndsAtOnceAndTouchesNothing) {
  auto before = testsupport::SnapshotFolder(machine_.Root());
  EXPECT_EQ(Run({GetParam()}), 0);
  ASSERT_EQ(hosted::ShownBoxes().size(), 1u);
  EXPECT_EQ(hosted::ShownBoxes()[0].text, Confirmation);
  EXPECT_EQ(hosted::ShownBoxes()[0].style, 0x104u);
  machine_.Stop();
  EXPECT_EQ(testsupport::SnapshotFolder(machine_.Root()), before);
}

// Enter takes the default button, No; a box that cannot be shown is no Yes.
INSTANTIATE_TEST_SUITE_P(Answers, Declined,
                         testing::Values(Answer::No, Answer::Enter, Answer::None));

TEST_F(ModemMachine, YesRemovesEverythingAndTellsToRemoveTheHardware) {
  EXPECT_EQ(Run({Answer::Yes, Answer::Ok}), 1);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{Confirmation, Completion}));
  EXPECT_EQ(hosted::ShownBoxes()[1].style, 0u);
  for (const std::string &key : testsupport::ModemKeysRemoved) EXPECT_FALSE(HasKey(key)) << key;
  for (const std::string &key : testsupport::ModemKeysKept) EXPECT_TRUE(HasKey(key)) << key;
  machine_.Stop();
  for (const std::string &file : testsupport::ModemFiles) EXPECT_FALSE(machine_.Exists(file));
  for (const std::string &file : testsupport::NeighbourFiles) EXPECT_TRUE(machine_.Exists(file));
  EXPECT_EQ(machine_.ReadFile("WINDOWS/SYSTEM.INI"), testsupport::CleanedSystemIni);
  EXPECT_FALSE(machine_.Exists("WINDOWS/system.new"));
}

TEST_F(ModemMachine, CompletionThatCannotBeShownEndsWithZero) {
  EXPECT_EQ(Run({Answer::Yes, Answer::None}), 0);
  EXPECT_FALSE(HasKey(testsupport::ModemKeysRemoved[0]));
}

TEST_F(ModemMachine, SecondRunRemovesNothingAndShowsTheSameBoxes) {
  EXPECT_EQ(Run({Answer::Yes, Answer::Ok}), 1);
  machine_.Stop();
  auto cleaned = testsupport::SnapshotFolder(machine_.Root());

  EXPECT_EQ(Run({Answer::Yes, Answer::Ok, Answer::Ok}), 1);
  // The product keys survive the first run, so no "Could not open" box; the
  // applet is gone and fails to delete like a locked one.
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{Confirmation, AppletPrompt, Completion}));
  machine_.Stop();
  EXPECT_EQ(testsupport::SnapshotFolder(machine_.Root()), cleaned);
}

TEST(EmptyMachine, YesStillRunsEveryStepToTheCompletionBox) {
  testsupport::TempMachine machine;
  machine.Start({Answer::Yes, Answer::Ok, Answer::Ok, Answer::Ok});
  EXPECT_EQ(RunUninstall(), 1);
  EXPECT_EQ(BoxTexts(),
            (std::vector<std::string>{Confirmation, NoProductKey, AppletPrompt, Completion}));
  machine.Stop();
}

TEST(Texts, CompletionEndsInABlank) {
  EXPECT_EQ(Confirmation.size(), 221u);
  EXPECT_EQ(Completion.size(), 109u);
  EXPECT_EQ(Completion.back(), ' ');
}

}  // namespace
