#include "support/temp_machine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/modem_fixture.h"

namespace fs = std::filesystem;

namespace testsupport {

TempMachine::TempMachine(std::string_view registryText) {
  std::string pattern = (fs::temp_directory_path() / "tq72-machine-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  outer_ = pattern;
  root_ = (fs::path(outer_) / "machine").string();
  fs::create_directories(fs::path(root_) / "WINDOWS" / "SYSTEM");
  fs::create_directories(fs::path(root_) / "WINDOWS" / "Help");
  WriteFile("registry.reg", registryText);
}

TempMachine::~TempMachine() {
  if (started_) {
    std::string error;
    hosted::Stop(&error);
  }
  std::error_code ignored;
  fs::remove_all(outer_, ignored);
}

std::string TempMachine::OutsidePath(std::string_view name) const {
  return (fs::path(outer_) / name).string();
}

std::string TempMachine::HostPath(std::string_view relative) const {
  return (fs::path(root_) / relative).string();
}

void TempMachine::WriteFile(std::string_view relative, std::string_view bytes) const {
  std::ofstream out(HostPath(relative), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << relative;
}

std::string TempMachine::ReadFile(std::string_view relative) const {
  std::ifstream in(HostPath(relative), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool TempMachine::Exists(std::string_view relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(HostPath(relative), ignored));
}

bool TempMachine::OpenRegistry(hosted::Registry &registry, std::string *error) const {
  const int dir = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    *error = "cannot open " + root_;
    return false;
  }
  const bool opened = registry.Open(dir, error);  // keeps a descriptor of its own
  ::close(dir);
  return opened;
}

void TempMachine::Start() {
  hosted::StartOptions options;
  options.machine = root_;
  std::string error;
  if (!hosted::Start(options, &error)) {
    ADD_FAILURE() << "hosted::Start: " << error;
    return;
  }
  started_ = true;
}

void TempMachine::Stop() {
  if (!started_) return;
  started_ = false;
  std::string error;
  if (!hosted::Stop(&error)) ADD_FAILURE() << "hosted::Stop: " << error;
}

void InstallModemFiles(const TempMachine &machine) {
  for (const scratch::File &file : modem::Files()) {
    std::string path = "WINDOWS/" + file.path;
    std::replace(path.begin(), path.end(), '\\', '/');
    machine.WriteFile(path, file.bytes);
  }
}

}  // namespace testsupport
