// The one running machine of the hosted platform, shared by the control API
// (hosted_control.cpp) and the platform calls (platform_hosted.cpp). The
// program has one thread, so the platform has one state.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/hosted/hosted.h"
#include "platform/hosted/registry.h"
#include "platform/hosted/windows_files.h"

namespace hosted {

inline constexpr char DefaultWindowsDir[] = "C:\\WINDOWS";
inline constexpr char DefaultSystemDir[] = "C:\\WINDOWS\\SYSTEM";

struct HostedState {
  bool started = false;
  WindowsFiles files;  // the machine folder, locked from Start to Stop
  std::unique_ptr<Registry> registry = std::make_unique<Registry>();
};

HostedState &State();

}  // namespace hosted
