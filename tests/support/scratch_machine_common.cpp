// What the scratch machine does alike on every platform: its files through
// the host's file system, its keys through the platform's own calls below
// the interposer (platform::NativeCalls).
#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/call_table.h"
#include "support/key_walk.h"
#include "support/scratch_machine.h"

namespace scratch {

using namespace platform;

std::string Machine::PathOf(const std::string &relative) const {
  return WindowsDir() + "\\" + relative;
}

void Machine::Interpose(interposer::Interposer &layer) const {
  layer.SetLocalMachine(LocalMachine());
  layer.SetDirectories(WindowsDir(), SystemDir());
}

std::optional<std::string> Machine::ReadFile(const std::string &relative) const {
  return ReadHostFile(HostPath(relative));
}

bool Machine::WriteFile(const std::string &relative, const std::string &bytes) const {
  return WriteHostFile(HostPath(relative), bytes);
}

std::map<std::string, std::string> SnapshotFolder(const std::filesystem::path &root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> snapshot;
  for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).string();
    if (entry.is_symlink()) {
      snapshot[relative] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      snapshot[relative + "/"] = "";
    } else {
      snapshot[relative] = ReadHostFile(entry.path()).value_or("");
    }
  }
  return snapshot;
}

std::map<std::string, std::string> Machine::Files() const {
  std::map<std::string, std::string> files;
  for (auto &[relative, bytes] : SnapshotFolder(HostPath(""))) {
    if (relative.back() == '/') continue;  // the folders
    std::string path = relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    files[path] = std::move(bytes);
  }
  return files;
}

namespace {

// The platform's own calls, below the interposer.
KeyReader NativeReader() {
  return {
      [](HKEY key, const char *path, HKEY *result) {
        return NativeCalls.RegOpenKeyExA(key, path, 0, KEY_READ, result);
      },
      [](HKEY key, DWORD index, char *name, DWORD *chars) {
        return NativeCalls.RegEnumKeyExA(key, index, name, chars, nullptr, nullptr, nullptr,
                                         nullptr);
      },
      [](HKEY key) { NativeCalls.RegCloseKey(key); },
  };
}

}  // namespace

bool Machine::HasKey(const std::string &path) const {
  return KeyOpens(NativeReader(), LocalMachine(), path);
}

std::vector<std::string> Machine::Keys() const {
  std::vector<std::string> keys = KeysBelow(NativeReader(), LocalMachine());
  std::sort(keys.begin(), keys.end());
  return keys;
}

Snapshot Machine::TakeSnapshot() const { return {Keys(), Files()}; }

Rig::Rig(const std::vector<Key> &keys, const std::vector<File> &files)
    : machine(keys, files) {
  machine.Interpose(layer);
  layer.AnswerBoxes();
}

}  // namespace scratch
