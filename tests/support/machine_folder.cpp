#include "support/machine_folder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "support/host_files.h"

namespace scratch {

namespace fs = std::filesystem;

MachineFolder::MachineFolder(const std::string &registryText, const fs::path &base) {
  std::string pattern = ((base.empty() ? fs::temp_directory_path() : base) / "tq72-machine-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror(("mkdtemp " + pattern).c_str());
    std::abort();
  }
  outer_ = pattern;
  // One level down, so that what a test puts beside the machine (a log, a
  // link's target) is removed with it.
  folder_ = outer_ / "machine";
  std::error_code error;
  fs::create_directories(folder_ / "WINDOWS" / "SYSTEM", error);
  fs::create_directories(folder_ / "WINDOWS" / "Help", error);
  fd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (error || fd_ < 0 || !Write("registry.reg", registryText)) {
    std::fprintf(stderr, "cannot make the machine folder %s\n", folder_.c_str());
    std::abort();
  }
}

MachineFolder::~MachineFolder() {
  ::close(fd_);
  std::error_code ignored;
  fs::remove_all(outer_, ignored);
}

bool MachineFolder::Write(const fs::path &relative, const std::string &bytes) const {
  return WriteHostFile(folder_ / relative, bytes);
}

}  // namespace scratch
