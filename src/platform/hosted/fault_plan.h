// The countdown and the named faults of hosted::FaultPlan, decided per call.
//
// A registry call is on a key when the full path it addresses (handle path
// plus sub-path) equals failKey or lies below it, compared case-insensitively;
// so failing "HKEY_LOCAL_MACHINE\Enum\PCI" fails every open, enumeration,
// query, deletion and close of that key and of its subkeys, but not the
// deletion of a parent (which would take the key with it). A file call is on
// failFile when any of its paths equals it, case-insensitively.
#pragma once

#include <string>
#include <string_view>

#include "platform/hosted/hosted.h"

namespace hosted {

class FaultInjector {
 public:
  // Clears the plan and the counters.
  void Reset();
  void SetPlan(const FaultPlan &plan) { plan_ = plan; }

  // Counts one platform call and says whether it fails. key: the full key
  // path of a registry call; files: the Windows paths of a file call.
  bool NextCall(std::string_view key = {}, std::string_view file1 = {},
                std::string_view file2 = {});

  unsigned Calls() const { return calls_; }
  unsigned Injected() const { return injected_; }

 private:
  FaultPlan plan_;
  unsigned calls_ = 0;
  unsigned injected_ = 0;
};

// ASCII case-insensitive equality, as registry and file names compare.
bool EqualIgnoringCase(std::string_view a, std::string_view b);

}  // namespace hosted
