// The scratch machine on the hosted build: a machine folder whose
// registry.reg is written as REGEDIT4 text, with the platform started on it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/hosted/hosted.h"
#include "platform/hosted/registry.h"
#include "portable/scratch_machine.h"
#include "support/registry_content.h"
#include "support/temp_machine.h"

namespace scratch {

namespace {

// REGEDIT4 for one value: "text" for text stored with one terminator, so
// that it stays what regedit makes of it; hex(N): for every other byte.
std::string ValueLine(const Value &value) {
  std::string line = value.name.empty() ? "@=" : "\"" + value.name + "\"=";
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

std::string HostRelative(const std::string &windowsRelative) {
  std::string path = "WINDOWS/" + windowsRelative;
  for (char &c : path)
    if (c == '\\') c = '/';
  return path;
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
  explicit Impl(const std::vector<Key> &keys) : folder(RegistryText(keys)) {}
  testsupport::TempMachine folder;
};

Machine::Machine(const std::vector<Key> &keys, const std::vector<File> &files)
    : impl_(std::make_unique<Impl>(keys)) {
  for (const File &file : files) {
    const std::string path = HostRelative(file.path);
    std::filesystem::create_directories(
        std::filesystem::path(impl_->folder.HostPath(path)).parent_path());
    impl_->folder.WriteFile(path, file.bytes);
  }
  impl_->folder.Start();
}

Machine::~Machine() = default;

platform::HKEY Machine::LocalMachine() const { return platform::HKEY_LOCAL_MACHINE; }
std::string Machine::WindowsDir() const { return "C:\\WINDOWS"; }
std::string Machine::SystemDir() const { return "C:\\WINDOWS\\SYSTEM"; }

std::optional<std::string> Machine::ReadFile(const std::string &relative) const {
  const std::string path = HostRelative(relative);
  if (!impl_->folder.Exists(path)) return std::nullopt;
  return impl_->folder.ReadFile(path);
}

bool Machine::HasKey(const std::string &path) const {
  return testsupport::KeyExists(hosted::CurrentRegistry(), "HKEY_LOCAL_MACHINE\\" + path);
}

void Machine::Finish() {
  impl_->folder.Stop();
  hosted::Registry reloaded;
  std::string error;
  EXPECT_TRUE(reloaded.LoadText(impl_->folder.ReadFile("registry.reg"), "registry.reg", &error))
      << error;
}

}  // namespace scratch
