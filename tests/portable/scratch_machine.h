// A scratch machine for the suites that run on every platform: a registry
// below a root key that stands for HKEY_LOCAL_MACHINE and a Windows folder,
// made and inspected through the host, never through the platform calls
// under test. On the hosted build it is a machine folder in a temporary
// directory (the root is HKEY_LOCAL_MACHINE itself); on Windows, a key below
// HKEY_CURRENT_USER and a folder below the temporary folder, both removed
// again by the destructor.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace scratch {

struct Value {
  std::string name;  // "" for the default value
  platform::DWORD type;
  std::string bytes;  // as stored
};
// A REG_SZ stored with its terminator, as regedit writes "text".
Value Text(std::string name, const std::string &text);

struct Key {
  std::string path;  // below the root, e.g. "Enum\PCI\VEN_1"
  std::vector<Value> values;
};

struct File {
  std::string path;  // below the Windows folder, e.g. "SYSTEM\tqc.cpl"
  std::string bytes;
};

// The keys as the REGEDIT4 text of a machine folder's registry.reg, below
// HKEY_LOCAL_MACHINE (hosted build only).
std::string RegistryText(const std::vector<Key> &keys);

class Machine {
 public:
  Machine(const std::vector<Key> &keys, const std::vector<File> &files);
  ~Machine();
  Machine(const Machine &) = delete;
  Machine &operator=(const Machine &) = delete;

  // The open key that stands for HKEY_LOCAL_MACHINE.
  platform::HKEY LocalMachine() const;
  // Windows paths of the Windows folder and of its SYSTEM folder.
  std::string WindowsDir() const;
  std::string SystemDir() const;
  // WindowsDir() + "\" + relative.
  std::string PathOf(const std::string &relative) const;

  // A file below the Windows folder; nothing when it does not exist.
  std::optional<std::string> ReadFile(const std::string &relative) const;
  // A key below the root, compared case-insensitively.
  bool HasKey(const std::string &path) const;

  // Ends the platform's use of the machine: the hosted build saves the
  // registry, and fails the test unless the saved file loads again.
  void Finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace scratch
