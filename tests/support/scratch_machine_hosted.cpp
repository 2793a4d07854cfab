// The scratch machine on the hosted build: a machine folder whose
// registry.reg is written as REGEDIT4 text, with the platform started on it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "hosted/hosted.h"
#include "hosted/registry.h"
#include "support/machine_folder.h"
#include "support/scratch_machine.h"

namespace scratch {

const std::size_t LongestKeyName = std::string::npos;

namespace {

// REGEDIT4 for one value: "text" for text stored with one terminator, so
// that it stays what regedit makes of it; hex(N): for every other byte.
std::string ValueLine(const Value &value) {
  std::string line = value.name.empty() ? "@=" : "\"";
  for (char c : value.name) {  // a value's name may hold both (C:\WINDOWS\INF\MACHINE.INF)
    if (c == '\\' || c == '"') line += '\\';
    line += c;
  }
  if (!value.name.empty()) line += "\"=";
  const std::string &bytes = value.bytes;
  if (value.type == platform::REG_SZ && !bytes.empty() && bytes.find('\0') == bytes.size() - 1) {
    line += '"';
    for (char c : bytes.substr(0, bytes.size() - 1)) {
      if (c == '\\' || c == '"') line += '\\';
      line += c;
    }
    return line + '"';
  }
  const char digits[] = "0123456789abcdef";
  char type[16];
  std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
  line += type;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (i > 0) line += ',';
    line += {digits[b >> 4], digits[b & 15]};
  }
  return line;
}

}  // namespace

std::string RegistryText(const std::vector<Key> &keys) {
  std::string text = "REGEDIT4\r\n";
  for (const Key &key : keys) {
    text += "\r\n[HKEY_LOCAL_MACHINE\\" + key.path + "]\r\n";
    for (const Value &value : key.values) text += ValueLine(value) + "\r\n";
  }
  return text + "\r\n";
}

struct Machine::Impl {
  explicit Impl(const std::string &registryText) : machine(registryText), folder(machine.Path()) {}
  ~Impl() {
    for (const auto &[path, fd] : held) ::close(fd);
    std::string error;
    if (started) hosted::Stop(&error);
  }
  MachineFolder machine;
  const std::filesystem::path &folder;
  bool started = false;
  std::map<std::string, int> held;  // descriptors holding a flock
};

Machine::Machine(const std::string &registryText) : impl_(std::make_unique<Impl>(registryText)) {}

Machine::Machine(const std::vector<Key> &keys, const std::vector<File> &files)
    : Machine(RegistryText(keys)) {
  for (const File &file : files) EXPECT_TRUE(WriteFile(file.path, file.bytes)) << file.path;
  Start();
}

Machine::~Machine() = default;

std::filesystem::path Machine::Folder() const { return impl_->folder; }

std::optional<std::string> Machine::ReadInFolder(const std::string &relative) const {
  return ReadHostFile(impl_->folder / relative);
}

void Machine::WriteInFolder(const std::string &relative, const std::string &bytes) const {
  EXPECT_TRUE(WriteHostFile(impl_->folder / relative, bytes)) << relative;
}

void Machine::Start() {
  std::string error;
  impl_->started = hosted::Start(impl_->folder.string(), &error);
  if (!impl_->started) ADD_FAILURE() << "hosted::Start: " << error;
}

void Machine::Stop() {
  if (!impl_->started) return;
  impl_->started = false;
  std::string error;
  if (!hosted::Stop(&error)) ADD_FAILURE() << "hosted::Stop: " << error;
}

bool Machine::OpenRegistry(hosted::Registry &registry, std::string *error) const {
  return registry.Open(impl_->machine.Fd(), error);  // keeps a descriptor of its own
}

platform::HKEY Machine::LocalMachine() const { return platform::HKEY_LOCAL_MACHINE; }
std::string Machine::WindowsDir() const { return "C:\\WINDOWS"; }
std::string Machine::SystemDir() const { return "C:\\WINDOWS\\SYSTEM"; }

std::filesystem::path Machine::HostPath(const std::string &relative) const {
  std::string path = relative.empty() ? "WINDOWS" : "WINDOWS/" + relative;
  std::replace(path.begin(), path.end(), '\\', '/');
  return impl_->folder / path;
}

void Machine::Hold(const std::string &relative) {
  const int fd = ::open(HostPath(relative).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << relative;
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << relative;
  impl_->held[relative] = fd;
}

void Machine::Release(const std::string &relative) {
  auto it = impl_->held.find(relative);
  if (it == impl_->held.end()) return;
  ::close(it->second);
  impl_->held.erase(it);
}

void Machine::Finish() {
  Stop();
  hosted::Registry reloaded;
  std::string error;
  EXPECT_TRUE(OpenRegistry(reloaded, &error)) << error;
}

}  // namespace scratch
