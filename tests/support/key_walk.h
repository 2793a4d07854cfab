// How the suites see which keys a registry holds: through its calls, as the
// removal logic sees them, whatever registry it is (a scratch machine's, or
// one the hosted suites open themselves).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace scratch {

// The calls a walk of keys reads through: the platform's own below the
// interposer, or, in the hosted suites, a registry of their own.
struct KeyReader {
  std::function<platform::LONG(platform::HKEY, const char *, platform::HKEY *)> open;
  std::function<platform::LONG(platform::HKEY, platform::DWORD, char *, platform::DWORD *)>
      enumerate;
  std::function<void(platform::HKEY)> close;
};
// Every key below `from`, by its path from there, each before its subkeys,
// in enumeration order; one that is listed but does not open is marked
// " (listed, but does not open)".
std::vector<std::string> KeysBelow(const KeyReader &reader, platform::HKEY from);
// The key at `path` below `from` opens (every registry call folds case).
bool KeyOpens(const KeyReader &reader, platform::HKEY from, const std::string &path);

}  // namespace scratch
