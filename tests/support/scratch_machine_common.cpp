// What the scratch machine does alike on every platform: its files through
// the host's file system, its keys through the platform's own calls below
// the interposer (platform::NativeCalls).
#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/call_table.h"
#include "support/scratch_machine.h"

namespace scratch {

using namespace platform;

Value Text(std::string name, const std::string &text) {
  return {std::move(name), REG_SZ, text + std::string(1, '\0')};
}

Value Unterminated(std::string name, const std::string &text) {
  return {std::move(name), REG_SZ, text};
}

std::string Machine::PathOf(const std::string &relative) const {
  return WindowsDir() + "\\" + relative;
}

void Machine::Interpose(interposer::Interposer &layer) const {
  layer.SetLocalMachine(LocalMachine());
  layer.SetDirectories(WindowsDir(), SystemDir());
}

std::optional<std::string> Machine::ReadFile(const std::string &relative) const {
  std::error_code error;
  if (!std::filesystem::is_regular_file(HostPath(relative), error)) return std::nullopt;
  std::ifstream in(HostPath(relative), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool Machine::WriteFile(const std::string &relative, const std::string &bytes) const {
  const std::filesystem::path path = HostPath(relative);
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return out.good();
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
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      snapshot[relative] = bytes.str();
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

bool Machine::HasKey(const std::string &path) const {
  HKEY key = nullptr;
  if (NativeCalls.RegOpenKeyExA(LocalMachine(), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  NativeCalls.RegCloseKey(key);
  return true;
}

namespace {

void AppendSubkeys(HKEY key, const std::string &path, std::vector<std::string> &keys) {
  char name[512];  // room for names longer than Windows allows
  DWORD chars = sizeof name;
  for (DWORD index = 0; NativeCalls.RegEnumKeyExA(key, index, name, &chars, nullptr, nullptr,
                                                  nullptr, nullptr) == ERROR_SUCCESS;
       ++index, chars = sizeof name) {
    const std::string subkey = path.empty() ? name : path + "\\" + name;
    keys.push_back(subkey);
    HKEY child = nullptr;
    if (NativeCalls.RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
      AppendSubkeys(child, subkey, keys);
      NativeCalls.RegCloseKey(child);
    }
  }
}

}  // namespace

std::vector<std::string> Machine::Keys() const {
  std::vector<std::string> keys;
  AppendSubkeys(LocalMachine(), "", keys);
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
