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
#include "support/modem_fixture.h"
#include "support/scratch_machine.h"

namespace {

using interposer::Effect;

// What a run leaves and shows, for comparing whole runs.
struct EndState {
  scratch::Snapshot machine;
  std::vector<std::string> boxes;
  bool operator==(const EndState &) const = default;
};

struct RunResult {
  EndState end;
  std::vector<std::string> calls;
  unsigned injected = 0;
};

RunResult RunWith(const interposer::Plan &plan) {
  scratch::Machine machine(scratch::ModemKeys(), scratch::ModemFiles());
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
  run.end.machine = machine.TakeSnapshot();
  for (const std::string &key : scratch::KeysKept) EXPECT_TRUE(machine.HasKey(key)) << key;
  for (const std::string &file : scratch::NeighbourFiles)
    EXPECT_TRUE(machine.ReadFile(file).has_value()) << file;
  const std::optional<std::string> ini = machine.ReadFile("SYSTEM.INI");
  const std::string before(scratch::SystemIni), cleaned(scratch::CleanedSystemIni);
  if (ini != before && ini != cleaned) {
    EXPECT_EQ(machine.ReadFile("system.new"), cleaned)
        << "system.ini is broken and no whole rewrite is left";
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
  for (const std::string &key : scratch::KeysRemoved) {
    for (const std::string &left : clean.end.machine.keys)
      EXPECT_NE(left.rfind(key, 0), 0u) << left;
  }
  EXPECT_EQ(clean.end.machine.files.at("SYSTEM.INI"), scratch::CleanedSystemIni);
  const EndState untouched = [] {
    scratch::Machine machine(scratch::ModemKeys(), scratch::ModemFiles());
    const EndState end{machine.TakeSnapshot(), {}};
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
