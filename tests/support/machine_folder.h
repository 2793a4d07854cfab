// A hosted machine folder in a new temporary folder of its own, removed
// with it: the one way the suites' scratch machine, the fuzz targets and the
// benchmarks make a machine. No GoogleTest, so that all of them link it.
#pragma once

#include <filesystem>
#include <string>

namespace scratch {

class MachineFolder {
 public:
  // registry.reg with registryText, and the folders WINDOWS, WINDOWS/SYSTEM
  // and WINDOWS/Help, below `base` (the temporary folder when empty). A
  // folder that cannot be made ends the process: nothing can run without it.
  explicit MachineFolder(const std::string &registryText, const std::filesystem::path &base = {});
  ~MachineFolder();
  MachineFolder(const MachineFolder &) = delete;
  MachineFolder &operator=(const MachineFolder &) = delete;

  const std::filesystem::path &Path() const { return folder_; }
  // The folder, open (O_DIRECTORY) for as long as it exists.
  int Fd() const { return fd_; }
  // Writes the file below the folder whole, making its folders; false when
  // the host cannot.
  bool Write(const std::filesystem::path &relative, const std::string &bytes) const;

 private:
  std::filesystem::path outer_;   // the temporary folder that holds the machine
  std::filesystem::path folder_;  // the machine
  int fd_ = -1;
};

}  // namespace scratch
