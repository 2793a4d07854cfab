#include "sysini/system_ini.h"

#include "files/path_buffer.h"
#include "platform/platform.h"
#include "sysini/text_stream.h"

using namespace platform;

namespace {

const char IniName[] = "\\system.ini";
const char NewName[] = "\\system.new";
constexpr DWORD BlankedLineLength = sizeof BlankedLine - 1;

// Leftmost plain byte search. The piece is taken as a C string: text after a
// zero byte is never searched (it is still written back unchanged).
bool MentionsDriver(const char *piece) {
  for (const char *start = piece; *start != '\0'; ++start) {
    const char *p = start;
    const char *m = DriverMarker;
    while (*m != '\0' && *p == *m) {
      ++p;
      ++m;
    }
    if (*m == '\0') return true;
  }
  return false;
}

// Copies every piece of input to output; false at the first failed read or
// write. A read error ends the copy as well: the end of the file may never
// show, and a system.new missing text must not replace system.ini.
bool CopyPieces(TextInput &input, TextOutput &output) {
  char piece[PieceBufferSize];
  while (!input.endOfFile) {
    DWORD length = ReadPiece(input, piece, PieceBufferSize);
    if (input.error) return false;
    if (length == 0) continue;
    bool written = MentionsDriver(piece) ? WriteText(output, BlankedLine, BlankedLineLength)
                                         : WriteText(output, piece, length);
    if (!written) return false;
  }
  return true;
}

}  // namespace

void RewriteSystemIni() {
  char windowsDirectory[PathBufferSize];
  char iniPath[PathBufferSize];
  char newPath[PathBufferSize];
  if (!QueryDirectory(GetWindowsDirectoryA, windowsDirectory)) return;
  if (!BuildPath(iniPath, windowsDirectory, IniName)) return;
  if (!BuildPath(newPath, windowsDirectory, NewName)) return;

  TextInput input;
  if (!OpenTextInput(input, iniPath)) return;
  TextOutput output;
  if (!OpenTextOutput(output, newPath)) {
    CloseTextInput(input);
    return;
  }
  bool copied = CopyPieces(input, output);
  CloseTextInput(input);
  bool closed = CloseTextOutput(output);
  // An incomplete system.new is left behind rather than copied: it is all
  // that shows what went wrong, and system.ini is still whole.
  if (!copied || !closed) return;

  CopyFileA(newPath, iniPath, FALSE);
  // Deleted whether or not the copy back succeeded.
  DeleteFileA(newPath);
}
