#include "platform/win32/switches.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

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
// a longer one is cut, and a cut log name is no name.
constexpr unsigned ArgumentCapacity = platform::MAX_PATH + 8;

}  // namespace

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

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
    bool quoted = false, cut = false;
    for (; *p != '\0' && (quoted || !IsBlank(*p)); ++p) {
      if (*p == '"') {
        quoted = !quoted;
      } else if (length + 1 < ArgumentCapacity) {
        argument[length++] = *p;
      } else {
        cut = true;
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
      unsigned n = 0;
      while (rest[n] != '\0' && n + 1 < platform::MAX_PATH) ++n;
      if (cut || rest[n] != '\0') continue;  // too long: no name at all
      for (unsigned i = 0; i <= n; ++i) switches->logPath[i] = rest[i];
    }
  }
}
