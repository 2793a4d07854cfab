// Console output of a benchmark program, followed by ratios of its
// benchmarks' mean real times: figures are reported against a reference run
// of the same command, never as absolute times alone.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Ratio {
    std::string measured, reference;  // benchmark names, as the table shows them
    std::string label;
    std::string target;  // printed beside the figure, e.g. "limit about 3"; may be empty
  };

  explicit RatioReporter(std::vector<Ratio> ratios) : ratios_(std::move(ratios)) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      times_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const Ratio &ratio : ratios_) {
      auto measured = times_.find(ratio.measured);
      auto reference = times_.find(ratio.reference);
      if (measured == times_.end() || reference == times_.end() || reference->second <= 0) continue;
      std::printf("%s = %.2f (%.1f ms against %.1f ms%s%s)\n", ratio.label.c_str(),
                  measured->second / reference->second, measured->second, reference->second,
                  ratio.target.empty() ? "" : "; ", ratio.target.c_str());
    }
  }

 private:
  std::vector<Ratio> ratios_;
  std::map<std::string, double> times_;
};
