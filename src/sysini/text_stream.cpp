#include "sysini/text_stream.h"

using namespace platform;

namespace {

constexpr unsigned char CR = 0x0D;
constexpr unsigned char LF = 0x0A;
constexpr int NoChar = -1;

// Refills an emptied buffer; false, with the matching indicator set, at the
// end of the file or on a failed read.
bool Refill(TextInput &input) {
  if (input.endOfFile || input.error) return false;
  DWORD got = 0;
  input.next = 0;
  input.filled = 0;
  if (!ReadFile(input.file, input.buffer, input.chunkSize, &got, nullptr)) {
    input.error = true;
    return false;
  }
  if (got == 0) {
    input.endOfFile = true;
    return false;
  }
  // A short read is only a smaller chunk; the end shows as a read of 0.
  input.filled = got <= input.chunkSize ? got : input.chunkSize;
  return true;
}

// The next translated character, or NoChar once the data ended or a read
// failed.
int NextChar(TextInput &input) {
  if (input.next == input.filled && !Refill(input)) return NoChar;
  unsigned char c = input.buffer[input.next++];
  if (c != CR) return c;
  // The LF that makes this CR a line end may sit in the next chunk. If the
  // data ends here, or the read for it fails, the CR was a character of its
  // own and is delivered; the indicator set by the refill stops the piece.
  if (input.next == input.filled && !Refill(input)) return CR;
  if (input.buffer[input.next] != LF) return CR;
  ++input.next;
  return LF;
}

// Puts the buffered bytes into the file. Anything short of all of them is a
// failure: the file would silently miss text.
void Flush(TextOutput &output) {
  if (output.used == 0 || output.error) return;
  DWORD written = 0;
  if (!WriteFile(output.file, output.buffer, output.used, &written, nullptr) ||
      written != output.used) {
    output.error = true;
  }
  output.used = 0;
}

void PutByte(TextOutput &output, unsigned char c) {
  if (output.used == TextBufferSize) Flush(output);
  output.buffer[output.used++] = c;
}

}  // namespace

bool OpenTextInput(TextInput &input, LPCSTR path, DWORD chunkSize) {
  input.chunkSize = chunkSize >= 1 && chunkSize <= TextBufferSize ? chunkSize : TextBufferSize;
  input.next = 0;
  input.filled = 0;
  input.endOfFile = false;
  input.error = false;
  input.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return input.file != INVALID_HANDLE_VALUE;
}

DWORD ReadPiece(TextInput &input, char *piece, DWORD capacity) {
  DWORD length = 0;
  while (length + 1 < capacity) {
    int c = NextChar(input);
    if (c == NoChar) break;
    piece[length++] = static_cast<char>(c);
    if (c == LF) break;
  }
  piece[length] = '\0';
  return length;
}

void CloseTextInput(TextInput &input) {
  CloseHandle(input.file);
  input.file = INVALID_HANDLE_VALUE;
}

bool OpenTextOutput(TextOutput &output, LPCSTR path) {
  output.used = 0;
  output.error = false;
  output.file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return output.file != INVALID_HANDLE_VALUE;
}

bool WriteText(TextOutput &output, const char *text, DWORD length) {
  for (DWORD i = 0; i < length && !output.error; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == LF) PutByte(output, CR);
    PutByte(output, c);
  }
  return !output.error;
}

bool CloseTextOutput(TextOutput &output) {
  Flush(output);
  bool closed = CloseHandle(output.file) != FALSE;
  output.file = INVALID_HANDLE_VALUE;
  return closed && !output.error;
}
