// Every platform call of a full run fails in turn: once, from then on, and
// halfway where a call can (a short write reported as success, a copy that
// dies with its target half written, ...); and every text value comes back
// without its terminator in turn. After each run, on whichever platform is
// linked: every key and file opened was closed, no file or key was named
// through a malformed path, nothing that is not the modem's is gone,
// system.ini is as it was or correctly rewritten (or, when the copy back
// failed, system.new holds the whole rewrite), and a failed confirmation
// changes nothing. A value without its terminator is no failure at all: the
// run must end as a clean one does.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/uninstall.h"
#include "interposer/interposer.h"
#include "portable/modem_fixture.h"
#include "portable/scratch_machine.h"

namespace {

using interposer::Effect;

// What a run leaves, for comparing whole runs.
struct EndState {
  std::vector<bool> keys;   // each key of modem::Keys() there
  std::vector<bool> files;  // each file of modem::Files() there
  std::optional<std::string> ini, newIni;
  std::vector<std::string> boxes;
  bool operator==(const EndState &) const = default;
};

struct RunResult {
  EndState end;
  std::vector<std::string> calls;
  unsigned injected = 0;
};

RunResult RunWith(const interposer::Plan &plan) {
  scratch::Machine machine(modem::Keys(), modem::Files());
  RunResult run;
  {
    interposer::Interposer layer;
    machine.Interpose(layer);
    layer.AnswerBoxes();
    layer.SetPlan(plan);
    RunUninstall();
    EXPECT_EQ(layer.OpenKeys(), 0u);
    EXPECT_EQ(layer.OpenFiles(), 0u);
    EXPECT_EQ(layer.MalformedPaths(), std::vector<std::string>{});
    run.calls = layer.CallNames();
    run.injected = layer.Injected();
    for (const interposer::Box &box : layer.Boxes()) run.end.boxes.push_back(box.text);
  }
  for (const scratch::Key &key : modem::Keys()) run.end.keys.push_back(machine.HasKey(key.path));
  for (const scratch::File &file : modem::Files())
    run.end.files.push_back(machine.ReadFile(file.path).has_value());
  run.end.ini = machine.ReadFile("SYSTEM.INI");
  run.end.newIni = machine.ReadFile("system.new");
  for (const std::string &key : modem::KeysKept) EXPECT_TRUE(machine.HasKey(key)) << key;
  for (const std::string &file : modem::NeighbourFiles)
    EXPECT_TRUE(machine.ReadFile(file).has_value()) << file;
  const std::string before(modem::SystemIni), cleaned(modem::CleanedSystemIni);
  if (run.end.ini != before && run.end.ini != cleaned) {
    EXPECT_EQ(run.end.newIni, cleaned) << "system.ini is broken and no whole rewrite is left";
  }
  machine.Finish();
  return run;
}

struct Mode {
  const char *name;
  bool persistent;
  Effect effect;
};

void PrintTo(const Mode &mode, std::ostream *out) { *out << mode.name; }

class FaultSweep : public testing::TestWithParam<Mode> {};

TEST_P(FaultSweep, EveryCallKeepsTheMachineSound) {
  const Mode &mode = GetParam();
  const RunResult clean = RunWith({});
  ASSERT_GT(clean.calls.size(), 40u) << "a full run makes dozens of calls";
  const auto keys = modem::Keys();
  for (const std::string &key : modem::KeysRemoved) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i].path.rfind(key, 0) == 0) {
        EXPECT_FALSE(clean.end.keys[i]) << keys[i].path;
      }
    }
  }
  EXPECT_EQ(clean.end.ini, std::string(modem::CleanedSystemIni));
  const EndState untouched = [] {
    scratch::Machine machine(modem::Keys(), modem::Files());
    EndState end;
    for (const scratch::Key &key : modem::Keys()) end.keys.push_back(machine.HasKey(key.path));
    for (const scratch::File &file : modem::Files())
      end.files.push_back(machine.ReadFile(file.path).has_value());
    end.ini = machine.ReadFile("SYSTEM.INI");
    machine.Finish();
    return end;
  }();

  unsigned swept = 0;
  for (unsigned n = 1; n <= clean.calls.size(); ++n) {
    if (!interposer::HasEffect(mode.effect, clean.calls[n - 1])) continue;
    SCOPED_TRACE(testing::Message()
                 << "call " << n << " (" << clean.calls[n - 1] << ") " << mode.name);
    const RunResult run =
        RunWith({.call = n, .persistent = mode.persistent, .effect = mode.effect});
    EXPECT_EQ(run.injected > 0, true);
    ++swept;
    if (n == 1 && mode.effect == Effect::Fail) {
      EXPECT_EQ(run.end, untouched) << "no confirmation, no change";
    }
    if (mode.effect == Effect::Unterminated) {
      EXPECT_EQ(run.end, clean.end) << "text without its terminator is still the same text";
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(swept, 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweep,
                         testing::Values(Mode{"Once", false, Effect::Fail},
                                         Mode{"Persistent", true, Effect::Fail},
                                         Mode{"Halfway", false, Effect::Halfway},
                                         Mode{"Unterminated", false, Effect::Unterminated}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
