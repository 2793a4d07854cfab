// Console output of a benchmark program, followed by the ratio of two of its
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
  RatioReporter(std::string measured, std::string reference, std::string label)
      : measured_(std::move(measured)), reference_(std::move(reference)), label_(std::move(label)) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      times_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    auto measured = times_.find(measured_);
    auto reference = times_.find(reference_);
    if (measured == times_.end() || reference == times_.end() || reference->second <= 0) return;
    std::printf("%s = %.2f (%.1f ms against %.1f ms; limit about 3)\n", label_.c_str(),
                measured->second / reference->second, measured->second, reference->second);
  }

 private:
  std::string measured_, reference_, label_;
  std::map<std::string, double> times_;
};
