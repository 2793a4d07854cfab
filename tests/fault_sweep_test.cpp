// Every platform call of a full run fails in turn, once and from then on.
// After each run: no key or file left open, system.ini either as it was or
// correctly rewritten, registry.reg still loads, nothing removed that is not
// the modem's, and a failed confirmation removes nothing at all.
#include <gtest/gtest.h>

#include <string>

#include "app/uninstall.h"
#include "faults/fault_layer.h"
#include "platform/hosted/hosted.h"
#include "platform/hosted/registry.h"
#include "support/modem_machine.h"

namespace {

using hosted::Answer;

// A run that fails call `n`; returns false once no call was failed, i.e. the
// sweep has passed the last call of the run.
bool RunWithFault(unsigned n, bool persistent) {
  SCOPED_TRACE(testing::Message() << "failing call " << n << (persistent ? " onwards" : ""));
  testsupport::TempMachine machine(testsupport::ModemRegistryText());
  testsupport::InstallModemFiles(machine);
  auto before = testsupport::SnapshotFolder(machine.Root());
  machine.Start({Answer::Yes, Answer::Ok, Answer::Ok});
  bool injected = false;
  {
    faults::Layer layer;
    layer.SetPlan({.call = n, .persistent = persistent, .effect = faults::Effect::Fail});
    RunUninstall();
    injected = layer.Injected() > 0;
    EXPECT_EQ(layer.OpenKeys(), 0u);
    EXPECT_EQ(layer.OpenFiles(), 0u);
  }
  EXPECT_EQ(hosted::OpenKeyCount(), 0u);
  EXPECT_EQ(hosted::OpenFileCount(), 0u);
  for (const std::string &key : testsupport::ModemKeysKept) {
    EXPECT_TRUE(testsupport::HasKey(key)) << key;
  }
  machine.Stop();

  if (n == 1) {
    EXPECT_EQ(testsupport::SnapshotFolder(machine.Root()), before);
  }
  std::string ini = machine.ReadFile("WINDOWS/SYSTEM.INI");
  EXPECT_TRUE(ini == testsupport::ModemSystemIni || ini == testsupport::CleanedSystemIni) << ini;
  hosted::Registry reloaded;
  std::string error;
  EXPECT_TRUE(reloaded.LoadText(machine.ReadFile("registry.reg"), "registry.reg", &error)) << error;
  for (const std::string &file : testsupport::NeighbourFiles) EXPECT_TRUE(machine.Exists(file));
  return injected;
}

class FaultSweep : public testing::TestWithParam<bool> {};

TEST_P(FaultSweep, EveryCallFailingKeepsTheMachineSound) {
  unsigned n = 1;
  while (RunWithFault(n, GetParam())) {
    ASSERT_LT(++n, 1000u) << "the run never stops making calls";
    if (HasFatalFailure() || HasNonfatalFailure()) break;
  }
  // A full run makes dozens of calls; a sweep that stops early swept nothing.
  EXPECT_GT(n, 40u);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweep, testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Persistent" : "Once"; });

}  // namespace
