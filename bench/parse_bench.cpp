// Loading cost against size for shapes of REGEDIT4 text chosen to be hard on
// a parser: each shape is loaded at about 2 MB and at twice that, and the
// ratio of the two times is printed. About 2 means linear; O(n log n) stays
// a little above 2; a quadratic path shows as 4.
//
//   parse_bench [--benchmark_...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "hosted/regedit4.h"

namespace {

constexpr std::size_t kSmall = 2 << 20;

std::string Header() { return "REGEDIT4\r\n\r\n"; }

// Sibling sections in descending name order under one parent: every one is
// out of order (the shape of a CLSID branch as regedit exports it).
std::string OutOfOrderSiblings(std::size_t bytes) {
  std::string text = Header();
  for (unsigned i = 9999999; text.size() < bytes; --i)
    text += "[HKEY_CLASSES_ROOT\\CLSID\\{" + std::to_string(i) + "}]\r\n@=\"x\"\r\n\r\n";
  return text;
}

// Two siblings alternating with their subkeys, so that every section leaves
// the cached path and looks a key up again.
std::string AlternatingPaths(std::size_t bytes) {
  std::string text = Header();
  for (unsigned i = 0; text.size() < bytes; ++i)
    text += "[HKEY_LOCAL_MACHINE\\" + std::string(i % 2 ? "B" : "A") + "\\K" + std::to_string(i) +
            "]\r\n";
  return text;
}

// One key nested as deep as the size allows, then a section below each level.
std::string DeepPath(std::size_t bytes) {
  std::string path = "HKEY_LOCAL_MACHINE";
  while (path.size() < bytes / 4) path += "\\k";
  std::string text = Header() + "[" + path + "]\r\n";
  while (text.size() < bytes) {
    text += "[" + path + "]\r\n";
    path.resize(path.size() - 2);
  }
  return text;
}

// Hundreds of thousands of values in one key, with names that share a prefix.
std::string ManyValues(std::size_t bytes) {
  std::string text = Header() + "[HKEY_LOCAL_MACHINE\\V]\r\n";
  for (unsigned i = 0; text.size() < bytes; ++i)
    text += "\"name-with-a-long-shared-prefix-" + std::to_string(i) + "\"=dword:00000001\r\n";
  return text;
}

// One binary value over continuation lines.
std::string LongBinary(std::size_t bytes) {
  std::string text = Header() + "[HKEY_LOCAL_MACHINE\\B]\r\n\"b\"=hex:00";
  while (text.size() < bytes) text += ",01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,\\\r\n  0f";
  return text + "\r\n";
}

// Strings full of escapes.
std::string Escapes(std::size_t bytes) {
  std::string text = Header() + "[HKEY_LOCAL_MACHINE\\E]\r\n";
  for (unsigned i = 0; text.size() < bytes; ++i)
    text += "\"\\\\v" + std::to_string(i) + "\"=\"C:\\\\WINDOWS\\\\\\\"quoted\\\"\\\\x\"\r\n";
  return text;
}

const std::map<std::string, std::string (*)(std::size_t)> kShapes = {
    {"OutOfOrderSiblings", OutOfOrderSiblings},
    {"AlternatingPaths", AlternatingPaths},
    {"DeepPath", DeepPath},
    {"ManyValues", ManyValues},
    {"LongBinary", LongBinary},
    {"Escapes", Escapes},
};

void Load(benchmark::State &state, std::string (*shape)(std::size_t)) {
  const std::string text = shape(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string error;
    hosted::Tree tree;
    hosted::Regedit4Store store;
    if (!store.Parse(text, "bench.reg", &tree, &error)) state.SkipWithError(error.c_str());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Prints, per shape, the time at twice the size over the time at the size.
class GrowthReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs)
      if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto &[shape, make] : kShapes) {
      auto small = times_.find(shape + "/" + std::to_string(kSmall));
      auto large = times_.find(shape + "/" + std::to_string(2 * kSmall));
      if (small == times_.end() || large == times_.end() || small->second <= 0) continue;
      std::printf("%-20s time(2n)/time(n) = %.2f\n", shape.c_str(), large->second / small->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char **argv) {
  for (const auto &[name, make] : kShapes)
    benchmark::RegisterBenchmark(name.c_str(), Load, make)
        ->Arg(kSmall)
        ->Arg(2 * kSmall)
        ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  GrowthReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  return 0;
}
