#include "platform/key_path.h"

namespace platform {

bool IsWellFormedKeyPath(const char *path) {
  if (path == nullptr || *path == '\0') return true;
  bool elementEmpty = true;
  for (const char *p = path; *p != '\0'; ++p) {
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
