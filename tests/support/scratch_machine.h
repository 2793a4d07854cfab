// The scratch machine every suite runs on: a registry below a root key that
// stands for HKEY_LOCAL_MACHINE and a Windows folder. It is made on the host
// and inspected below the interposer (through platform::NativeCalls and the
// host's files), never through the calls a test observes. On the hosted
// build it is a machine folder in a temporary directory (the root is
// HKEY_LOCAL_MACHINE itself); on Windows, a key below HKEY_CURRENT_USER and
// a folder below the temporary folder, both removed again by the destructor.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interposer/interposer.h"
#include "platform/platform.h"
#include "support/host_files.h"

namespace hosted {
class Registry;
}

namespace scratch {

struct Value {
  std::string name;  // "" for the default value
  platform::DWORD type;
  std::string bytes;  // as stored
};
// A REG_SZ stored with its terminator, as regedit writes "text".
Value Text(std::string name, const std::string &text);
// A REG_SZ stored without a terminator, as a program may write one.
Value Unterminated(std::string name, const std::string &text);

struct Key {
  std::string path;  // below the root, e.g. "Enum\PCI\VEN_1"
  std::vector<Value> values;
};

struct File {
  std::string path;  // below the Windows folder, e.g. "SYSTEM\tqc.cpl"
  std::string bytes;
};

// The longest key name a machine of this platform holds: Windows keeps names
// to 255 characters (Wine takes a longer one, which then nothing deletes);
// the hosted machine takes any.
extern const std::size_t LongestKeyName;

// Every entry below root, keyed by its path relative to root: a file with its
// bytes, a folder by a trailing separator, a link by its target ("-> ...",
// never followed).
std::map<std::string, std::string> SnapshotFolder(const std::filesystem::path &root);

// Everything of a machine that a run may change, for comparing runs.
struct Snapshot {
  std::vector<std::string> keys;             // as Machine::Keys()
  std::map<std::string, std::string> files;  // as Machine::Files()
  bool operator==(const Snapshot &) const = default;
};

#if !defined(_WIN32)
// The keys as the REGEDIT4 text of registry.reg, below HKEY_LOCAL_MACHINE:
// "text" for text stored with one terminator, hex(N): for anything else.
std::string RegistryText(const std::vector<Key> &keys);
#endif

class Machine {
 public:
  Machine(const std::vector<Key> &keys, const std::vector<File> &files);
#if !defined(_WIN32)
  // For the hosted platform's own suites: a machine folder whose
  // registry.reg holds registryText byte for byte, beside empty WINDOWS,
  // WINDOWS\SYSTEM and WINDOWS\Help folders; the platform is not started.
  explicit Machine(const std::string &registryText = "REGEDIT4\r\n\r\n");
  // The machine folder on the host. Its parent is the test's too: a place
  // outside the machine, removed with it.
  std::filesystem::path Folder() const;
  // A file of the folder ("registry.reg", "WINDOWS/SYSTEM.INI"); nothing
  // when it is not a regular file. A write that fails fails the test.
  std::optional<std::string> ReadInFolder(const std::string &relative) const;
  void WriteInFolder(const std::string &relative, const std::string &bytes) const;
  // Starts and stops the hosted platform on the folder; a failure fails the
  // current test. The destructor stops a started platform.
  void Start();
  void Stop();
  // Loads registry.reg (and a journal) into registry as a start does; false
  // with the reason.
  bool OpenRegistry(hosted::Registry &registry, std::string *error) const;
#endif
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
  // Leads the logic's HKEY_LOCAL_MACHINE and directory queries through the
  // interposer to this machine.
  void Interpose(interposer::Interposer &layer) const;

  // A file below the Windows folder; nothing when it does not exist.
  std::optional<std::string> ReadFile(const std::string &relative) const;
  // Writes a file below the Windows folder, making its folders; false when
  // the host cannot (a path too long for it).
  bool WriteFile(const std::string &relative, const std::string &bytes) const;
  // Every file below the Windows folder with its bytes, by relative path.
  std::map<std::string, std::string> Files() const;
  // A key below the root, compared case-insensitively.
  bool HasKey(const std::string &path) const;
  // Every key below the root, sorted.
  std::vector<std::string> Keys() const;
  Snapshot TakeSnapshot() const;

  // Puts a file in use, as a running Control Panel holds its applet, until
  // Release or the end: a flock on the hosted build, an open handle that
  // does not share deletion on Windows.
  void Hold(const std::string &relative);
  void Release(const std::string &relative);

  // Ends the platform's use of the machine: the hosted build saves the
  // registry, and fails the test unless the saved file loads again.
  void Finish();

 private:
  std::filesystem::path HostPath(const std::string &relative) const;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A test rig: a scratch machine with the interposer over it, as the logic's
// suites run it: the logic's HKEY_LOCAL_MACHINE and directory queries lead to the
// machine, and its boxes are answered (Yes, then OK, unless the test says
// otherwise) and kept.
struct Rig {
  Rig(const std::vector<Key> &keys, const std::vector<File> &files);
  Machine machine;
  interposer::Interposer layer;
};

}  // namespace scratch
