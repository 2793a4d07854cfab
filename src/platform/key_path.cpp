#include "platform/key_path.h"

namespace platform {

bool IsWellFormedKeyPath(const char *path) {
  unsigned long length = 0;
  while (path != nullptr && path[length] != '\0') ++length;
  return IsWellFormedKeyPath(path, length);
}

bool IsWellFormedKeyPath(const char *path, unsigned long length) {
  if (length == 0) return true;
  bool elementEmpty = true;
  for (const char *p = path; p != path + length; ++p) {
    if (*p == '\\') {
      if (elementEmpty) return false;
      elementEmpty = true;
    } else {
      elementEmpty = false;
    }
  }
  return !elementEmpty;
}

}  // namespace platform
