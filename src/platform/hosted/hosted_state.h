// The one running machine of the hosted platform, shared by the control API
// (hosted_control.cpp) and the platform calls (platform_hosted.cpp). The
// program has one thread, so the platform has one state.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/hosted/host_files.h"
#include "platform/hosted/hosted.h"
#include "platform/hosted/machine_lock.h"
#include "platform/hosted/registry.h"

namespace hosted {

inline constexpr char DefaultWindowsDir[] = "C:\\WINDOWS";
inline constexpr char DefaultSystemDir[] = "C:\\WINDOWS\\SYSTEM";

struct HostedState {
  bool started = false;
  HostFiles files;
  MachineLock lock;  // held from Start to Stop
  std::unique_ptr<Registry> registry = std::make_unique<Registry>();
};

HostedState &State();

}  // namespace hosted
