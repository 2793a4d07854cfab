// Control of the hosted platform: what the hosted command line and the tests
// set up around the platform calls of platform.h.
#pragma once

#include <string>

namespace hosted {

struct StartOptions {
  std::string machine = ".";  // the machine folder
};

// Starts the platform on a machine folder: locks the machine folder (one run
// at a time per folder), loads the registry, removes what a killed run left.
// On failure returns false with a one-line reason and has changed nothing.
// Nothing is created in the folder before the first change, so a signal at
// the confirmation leaves it as it was.
bool Start(const StartOptions &options, std::string *error);
// Folds the registry journal and lets go of the machine; false with a reason.
bool Stop(std::string *error);
// For the person at the terminal: "N registry changes could not be saved
// (reason)" when the run's registry changes failed that way, else "". The
// removal logic is silent about them by design; the exit status stays.
std::string UnsavedNotice();

}  // namespace hosted
