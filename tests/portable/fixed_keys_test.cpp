// The two fixed keys go, with their subtrees; neighbours that share a prefix
// with them stay, and a second pass finds nothing to do.
#include "registry/fixed_keys.h"

#include <gtest/gtest.h>

#include <string>

#include "support/scratch_machine.h"

namespace {

TEST(FixedKeys, GoAndTheirNeighboursStay) {
  const std::string wave = "System\\CurrentControlSet\\Control\\MediaResources\\Wave";
  const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  scratch::Rig run({{wave + "\\Serwvdrv.drv<0000>\\Sub", {}},
                           {wave + "\\Serwvdrv.drv<0001>", {}},
                           {uninstall + "\\TQ19KVN", {}},
                           {uninstall + "\\TQ19KVN2", {}}},
                          {});
  RemoveWaveResourceKey();
  RemoveUninstallEntry();
  EXPECT_FALSE(run.machine.HasKey(wave + "\\Serwvdrv.drv<0000>"));
  EXPECT_TRUE(run.machine.HasKey(wave + "\\Serwvdrv.drv<0001>"));
  EXPECT_FALSE(run.machine.HasKey(uninstall + "\\TQ19KVN"));
  EXPECT_TRUE(run.machine.HasKey(uninstall + "\\TQ19KVN2"));
  // Nothing there any more: a second pass is a quiet no-op.
  const std::vector<std::string> before = run.machine.Keys();
  RemoveWaveResourceKey();
  RemoveUninstallEntry();
  EXPECT_EQ(run.machine.Keys(), before);
  EXPECT_EQ(run.layer.OpenKeys(), 0u);
  EXPECT_TRUE(run.layer.Boxes().empty());
}

}  // namespace
