#include "sysini/system_ini.h"

#include <cstring>

#include "paths/path_buffer.h"
#include "platform/platform.h"
#include "sysini/text_stream.h"

using namespace platform;

namespace {

constexpr DWORD BlankedLineLength = sizeof BlankedLine - 1;
constexpr std::size_t MarkerLength = sizeof DriverMarker - 1;

// The streams' buffers are too big for a small stack; the step runs once.
TextInput SystemIniInput;
TextOutput SystemNewOutput;

// Leftmost plain byte search of the piece's text before its first zero byte
// (the text after it is still written back unchanged). The marker holds no
// zero byte, so a match counts when no zero byte comes before it, and if the
// leftmost one does not count, no later one can.
bool MentionsDriver(const char *piece, DWORD length) {
  if (length < MarkerLength) return false;
  const char *last = piece + (length - MarkerLength);  // where a match can start last
  for (const char *p = piece; p <= last; ++p) {
    p = static_cast<const char *>(
        std::memchr(p, DriverMarker[0], static_cast<std::size_t>(last - p) + 1));
    if (p == nullptr) return false;
    if (std::memcmp(p + 1, DriverMarker + 1, MarkerLength - 1) == 0)
      return std::memchr(piece, '\0', static_cast<std::size_t>(p - piece)) == nullptr;
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
    bool written = MentionsDriver(piece, length) ? WriteText(output, BlankedLine, BlankedLineLength)
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

  if (!OpenTextInput(SystemIniInput, iniPath)) return;
  if (!OpenTextOutput(SystemNewOutput, newPath)) {
    CloseTextInput(SystemIniInput);
    return;
  }
  bool copied = CopyPieces(SystemIniInput, SystemNewOutput);
  CloseTextInput(SystemIniInput);
  bool closed = CloseTextOutput(SystemNewOutput);
  // An incomplete system.new is left behind rather than copied: it is all
  // that shows what went wrong, and system.ini is still whole.
  if (!copied || !closed) return;

  // A copy that fails may have written part of system.ini (Windows copies in
  // place): system.new then stays, the one whole copy of the rewrite.
  if (CopyFileA(newPath, iniPath, FALSE)) DeleteFileA(newPath);
}
