// Text streams over the platform's binary file calls, in the platform's text
// convention (CR LF line ends). They are this program's own code in both
// builds, so that system.ini is read and written byte for byte alike under
// Windows and on the hosted machine, and neither build needs C or C++ streams.
//
// Every byte is text: 0x00, Ctrl-Z (0x1A) and 0x80-0xFF pass through
// unchanged. Ctrl-Z is not taken as the end of the text, because whatever an
// editor left after one would otherwise be lost from system.ini for good.
#pragma once

#include "platform/platform.h"

// Bytes held by each stream between platform calls: enough that a file of
// many megabytes costs few calls, and spans of text are copied whole. Each
// stream holds its buffer, so a stream belongs in static storage, not on a
// small stack.
inline constexpr platform::DWORD TextBufferSize = 64 * 1024;

// ------------------------------------------------------------------ input
// Reads pieces: the characters up to and including the next LF, but no more
// than fit the caller's piece buffer. CR LF arrives as one LF wherever the
// file is divided between reads; a CR not followed by LF arrives as it is,
// also as the file's last byte.
struct TextInput {
  platform::HANDLE file;
  platform::DWORD next;    // first byte of buffer not yet delivered
  platform::DWORD filled;  // bytes in buffer
  bool endOfFile;
  bool error;
  unsigned char buffer[TextBufferSize];
};

// Opens an existing file for reading, letting others read and write it
// meanwhile. False, with nothing left open, when it cannot be opened.
bool OpenTextInput(TextInput &input, platform::LPCSTR path);

// Reads the next piece into piece (capacity bytes, at least 2), at most
// capacity - 1 characters followed by a zero byte, and returns its length.
// Zero bytes read from the file are part of the piece and of its length.
//
// Indicators, as the caller's loop relies on them:
// - data that ends inside the piece: the piece is returned and endOfFile is
//   set by the same call, so the piece is handled once and the loop stops;
// - no character left (also after a last LF): returns 0, sets endOfFile;
// - a failed ReadFile sets error, never endOfFile, and the call returns what
//   it had read before the failure (0 if nothing).
// Once either indicator is set, later calls read nothing and return 0.
platform::DWORD ReadPiece(TextInput &input, char *piece, platform::DWORD capacity);

void CloseTextInput(TextInput &input);

// ----------------------------------------------------------------- output
// Writes text with every LF as CR LF; a CR is written as it is and nothing
// is ever added (no final line end, no Ctrl-Z). Bytes are collected in
// TextBufferSize bytes, so a failure to write the file shows at a later
// write or only at the close.
struct TextOutput {
  platform::HANDLE file;
  platform::DWORD used;  // bytes in buffer
  bool error;            // some buffered data was not written completely
  unsigned char buffer[TextBufferSize];
};

// Creates the file, or empties it if present, for reading and writing,
// letting others read and write it meanwhile. False, with nothing left open,
// when it cannot be opened.
bool OpenTextOutput(TextOutput &output, platform::LPCSTR path);

// Writes length bytes of text (zero bytes included). False when this write
// or an earlier one could not put all its buffered data into the file
// (a short WriteFile counts as a failure); from then on nothing more is
// written and every write and the close report failure.
bool WriteText(TextOutput &output, const char *text, platform::DWORD length);

// Writes what is still buffered and closes the file, which is released
// whatever happens. False when any data did not reach the file completely
// or the close itself failed: the file is then not a faithful copy.
bool CloseTextOutput(TextOutput &output);
