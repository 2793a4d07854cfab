// A scratch Windows 98 machine folder for tests: created in a fresh temporary
// directory, removed with everything in it when the object goes.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hosted/hosted.h"
#include "platform/hosted/registry.h"
#include "support/scratch_machine.h"

namespace testsupport {

class TempMachine {
 public:
  // MACHINE/registry.reg holds registryText; WINDOWS, WINDOWS/SYSTEM and
  // WINDOWS/Help exist.
  explicit TempMachine(std::string_view registryText = "REGEDIT4\r\n\r\n");
  ~TempMachine();
  TempMachine(const TempMachine &) = delete;
  TempMachine &operator=(const TempMachine &) = delete;

  const std::string &Root() const { return root_; }
  // Host path of a file beside the machine folder, outside it (for logs).
  std::string OutsidePath(std::string_view name) const;
  // Host path of a path relative to the machine folder ("WINDOWS/SYSTEM.INI").
  std::string HostPath(std::string_view relative) const;
  void WriteFile(std::string_view relative, std::string_view bytes) const;
  std::string ReadFile(std::string_view relative) const;
  bool Exists(std::string_view relative) const;

  // Binds registry to this folder as a start does; false with a reason.
  bool OpenRegistry(hosted::Registry &registry, std::string *error) const;

  // Starts the hosted platform on this machine; a failure fails the current
  // test.
  void Start();
  // Stops it if started; a failure fails the current test.
  void Stop();

 private:
  std::string outer_;  // the temporary folder that holds root_
  std::string root_;
  bool started_ = false;
};

// Writes the modem machine's files (modem::Files()) below WINDOWS.
void InstallModemFiles(const TempMachine &machine);

using scratch::SnapshotFolder;

}  // namespace testsupport
