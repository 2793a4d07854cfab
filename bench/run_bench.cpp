// The whole uninstaller on the demo machine with its registry grown to the
// size of a large Windows 98 export (about 25 MB, 100,000 keys): a declined
// run (No at the confirmation) against a full one (Yes, every step, OK).
// Both load and close the registry; the full run also makes every deletion
// durable and folds them into registry.reg. It should cost at most about
// three times the declined run.
//
//   run_bench [--benchmark_...]   prints the table, then full/declined
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "hosted_run.h"
#include "ratio_reporter.h"
#include "support/machine_folder.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Unrelated COM classes, the bulk of a real export, in a fixed pattern.
std::string Padding(std::size_t keys) {
  std::string text;
  char line[160];
  for (std::size_t i = 0; i < keys; ++i) {
    std::snprintf(line, sizeof line,
                  "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{%08zX-4E2B-11D0-A8F2-"
                  "00A0C9%06zX}\\InprocServer32]\r\n",
                  i * 2654435761u % 0xFFFFFFFFu, i);
    text += line;
    std::snprintf(line, sizeof line, "@=\"C:\\\\WINDOWS\\\\SYSTEM\\\\COMP%05zu.DLL\"\r\n", i);
    text += line;
    text += "\"ThreadingModel\"=\"Apartment\"\r\n";
    text +=
        "\"Flags\"=hex:01,00,00,00,20,00,00,00,ff,ff,00,00,7e,1a,00,00,00,00,00,00,\\\r\n"
        "  01,02,03,04,05,06,07,08,09,0a,0b,0c\r\n\r\n";
  }
  return text;
}

struct Machine {
  fs::path demo = fs::path(TQ72_SOURCE_DIR) / "demo";
  std::string registry = ReadAll(demo / "registry.reg") + Padding(100000);
  scratch::MachineFolder folder{registry};
  const fs::path &dir = folder.Path();

  Machine() {
    std::fprintf(stderr, "registry: %.1f MB in %s\n", registry.size() / 1e6, dir.c_str());
  }
  // The machine as installed, with no journal left from the last run.
  void Restore() {
    fs::remove_all(dir / "WINDOWS");
    fs::remove(dir / "registry.reg.journal");
    fs::copy(demo / "WINDOWS", dir / "WINDOWS", fs::copy_options::recursive);
    std::ofstream(dir / "registry.reg", std::ios::binary | std::ios::trunc) << registry;
  }
};

Machine &TheMachine() {
  static Machine machine;
  return machine;
}

void RunWith(benchmark::State &state, session::Answer first, int expectedStatus) {
  Machine &m = TheMachine();
  for (auto _ : state) {
    state.PauseTiming();
    m.Restore();
    state.ResumeTiming();
    if (RunUninstallOn(m.dir.string(), first, state) != expectedStatus) state.SkipWithError("unexpected exit status");
  }
}

void BM_RunDeclined(benchmark::State &state) { RunWith(state, session::Answer::No, 0); }
void BM_RunFull(benchmark::State &state) { RunWith(state, session::Answer::Yes, 1); }

BENCHMARK(BM_RunDeclined)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_RunFull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TheMachine();  // build the registry before timing anything
  RatioReporter reporter({{"BM_RunFull", "BM_RunDeclined", "full/declined", "limit about 3"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
