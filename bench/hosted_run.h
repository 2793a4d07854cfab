// One whole run of the uninstaller in a benchmark, on a machine folder or a
// drive: `first` answers the confirmation, OK every box after it. A start
// or stop that fails ends the benchmark with its reason.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "app/uninstall.h"
#include "hosted/hosted.h"
#include "session/session.h"

inline int RunUninstallOn(const std::string &dir, session::Answer first, benchmark::State &state) {
  const session::Answer answers[] = {first, session::Answer::Ok, session::Answer::Ok};
  std::string error;
  if (!hosted::Start(dir, &error)) state.SkipWithError(error.c_str());
  session::Begin({.answers = answers, .answerCount = 3});
  const int status = RunUninstall();
  session::End();
  if (!hosted::Stop(&error)) state.SkipWithError(error.c_str());
  return status;
}
