#include "support/key_walk.h"

namespace scratch {

using namespace platform;

bool KeyOpens(const KeyReader &reader, HKEY from, const std::string &path) {
  HKEY key = nullptr;
  if (reader.open(from, path.c_str(), &key) != ERROR_SUCCESS) return false;
  reader.close(key);
  return true;
}

namespace {

// Each subkey is opened from its parent: Wine's ANSI calls take no path
// longer than MAX_PATH, and a scratch key's may be longer.
void AppendKeysBelow(const KeyReader &reader, HKEY key, const std::string &path,
                     std::vector<char> &name, std::vector<std::string> &keys) {
  std::vector<std::string> children;
  for (DWORD index = 0;; ++index) {
    DWORD chars = static_cast<DWORD>(name.size());
    if (reader.enumerate(key, index, name.data(), &chars) != ERROR_SUCCESS) break;
    children.emplace_back(name.data(), chars);
  }
  for (const std::string &child : children) {
    keys.push_back(path.empty() ? child : path + "\\" + child);
    HKEY opened = nullptr;
    if (reader.open(key, child.c_str(), &opened) != ERROR_SUCCESS) {
      keys.back() += " (listed, but does not open)";
      continue;
    }
    AppendKeysBelow(reader, opened, std::string(keys.back()), name, keys);
    reader.close(opened);
  }
}

}  // namespace

std::vector<std::string> KeysBelow(const KeyReader &reader, HKEY from) {
  std::vector<std::string> keys;
  std::vector<char> name(1 << 16);  // room for names longer than Windows allows
  AppendKeysBelow(reader, from, "", name, keys);
  return keys;
}

}  // namespace scratch
