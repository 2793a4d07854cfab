#include "windows_program/switches.h"

#include <cstring>

#include "files/file_removal.h"
#include "sysini/system_ini.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// c in capitals, for the names of switches and files, which compare in any
// case; ASCII letters only.
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The name after the last backslash (or '/' or drive colon) of path.
const char *Leaf(const char *path) {
  const char *leaf = path;
  for (; *path != '\0'; ++path) {
    if (*path == '\\' || *path == '/' || *path == ':') leaf = path + 1;
  }
  return leaf;
}

bool SameName(const char *a, const char *b) {
  while (*a != '\0' && UpperAscii(*a) == UpperAscii(*b)) ++a, ++b;
  return *a == '\0' && *b == '\0';
}

// The switch's name (after its '/' or '-') begins with word, in any case;
// the rest of the name, if any, is *rest.
bool StartsWith(const char *name, const char *word, const char **rest) {
  for (; *word != '\0'; ++word, ++name) {
    if (UpperAscii(*name) != *word) return false;
  }
  *rest = name;
  return true;
}

// An argument long enough for "/LOG=" and the longest path a log may have;
// a longer one is cut, still longer than any path after "/LOG=", so a cut
// log name is never taken.
constexpr unsigned ArgumentCapacity = platform::MAX_PATH + 8;

}  // namespace

bool IsRunFileName(const char *path) {
  const char *leaf = Leaf(path);
  for (const char *name : DriverFileTable)
    if (SameName(leaf, Leaf(name))) return true;
  const char *const others[] = {AppletName, AppletHelpName, IniName, NewName};
  for (const char *name : others)
    if (SameName(leaf, Leaf(name))) return true;
  return false;
}

void ParseSwitches(const char *commandLine, Switches *switches) {
  *switches = Switches{};
  if (commandLine == nullptr) return;
  const char *p = commandLine;
  // The program's name: quoted, or up to the first blank.
  if (*p == '"') {
    for (++p; *p != '\0' && *p != '"'; ++p) {
    }
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && !IsBlank(*p)) ++p;
  }
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') return;
    char argument[ArgumentCapacity];
    unsigned length = 0;
    bool quoted = false;
    for (; *p != '\0' && (quoted || !IsBlank(*p)); ++p) {
      if (*p == '"') {
        quoted = !quoted;
      } else if (length + 1 < ArgumentCapacity) {
        argument[length++] = *p;
      }
    }
    argument[length] = '\0';
    if (argument[0] != '/' && argument[0] != '-') continue;
    const char *name = argument + 1, *rest = nullptr;
    if (StartsWith(name, "S", &rest) && *rest == '\0') {
      switches->silent = true;
    } else if (StartsWith(name, "?", &rest) && *rest == '\0') {
      switches->usage = true;
    } else if (StartsWith(name, "LOG", &rest) && (*rest == '\0' || *rest == '=')) {
      switches->log = true;
      switches->logPath[0] = '\0';
      if (*rest == '=') ++rest;
      const std::size_t n = std::strlen(rest);
      if (n < platform::MAX_PATH) std::memcpy(switches->logPath, rest, n + 1);  // else no name
    }
  }
}
