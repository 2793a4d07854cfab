#include "sysini/text_stream.h"

#include <algorithm>
#include <cstring>

using namespace platform;

namespace {

constexpr unsigned char CR = 0x0D;
constexpr unsigned char LF = 0x0A;
constexpr unsigned char LineEnd[] = {CR, LF};

// Refills an emptied buffer; false, with the matching indicator set, at the
// end of the file or on a failed read.
bool Refill(TextInput &input) {
  if (input.endOfFile || input.error) return false;
  DWORD got = 0;
  input.next = 0;
  input.filled = 0;
  if (!ReadFile(input.file, input.buffer, TextBufferSize, &got, nullptr)) {
    input.error = true;
    return false;
  }
  if (got == 0) {
    input.endOfFile = true;
    return false;
  }
  // A short read is only a smaller chunk; the end shows as a read of 0. A
  // count past the buffer is never taken for bytes in it.
  input.filled = std::min(got, TextBufferSize);
  return true;
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

// Spans are copied whole; the buffer goes to the file only once full and more
// is to come, so the file is written in whole buffers until the close.
void PutAcrossBuffers(TextOutput &output, const unsigned char *bytes, DWORD count) {
  while (count > 0) {
    if (output.used == TextBufferSize) {
      Flush(output);
      if (output.error) return;
    }
    DWORD room = TextBufferSize - output.used;
    DWORD span = count < room ? count : room;
    std::memcpy(output.buffer + output.used, bytes, span);
    output.used += span;
    bytes += span;
    count -= span;
  }
}

// Nearly every span fits what is left of the buffer: that case is a copy.
inline void PutBytes(TextOutput &output, const unsigned char *bytes, DWORD count) {
  if (count > TextBufferSize - output.used) return PutAcrossBuffers(output, bytes, count);
  std::memcpy(output.buffer + output.used, bytes, count);
  output.used += count;
}

inline void PutLineEnd(TextOutput &output) {
  if (TextBufferSize - output.used < sizeof LineEnd)
    return PutAcrossBuffers(output, LineEnd, sizeof LineEnd);
  output.buffer[output.used] = CR;
  output.buffer[output.used + 1] = LF;
  output.used += sizeof LineEnd;
}

}  // namespace

bool OpenTextInput(TextInput &input, LPCSTR path) {
  input.next = 0;
  input.filled = 0;
  input.endOfFile = false;
  input.error = false;
  input.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return input.file != INVALID_HANDLE_VALUE;
}

DWORD ReadPiece(TextInput &input, char *piece, DWORD capacity) {
  if (capacity == 0) return 0;
  const DWORD room = capacity - 1;
  DWORD length = 0;
  while (length < room) {
    if (input.next == input.filled && !Refill(input)) break;
    const unsigned char *start = input.buffer + input.next;
    const DWORD available = input.filled - input.next;
    const DWORD wanted = room - length;
    // Only the CR right before the first LF can be half of a pair; any other
    // CR is a character of its own. So the piece ends at that LF if it fits
    // once its CR is dropped, which is why one byte past the room is looked at.
    const DWORD window = available <= wanted ? available : wanted + 1;
    const auto *lf = static_cast<const unsigned char *>(std::memchr(start, LF, window));
    if (lf != nullptr) {
      const auto at = static_cast<DWORD>(lf - start);
      const bool pair = at > 0 && lf[-1] == CR;
      if (at < wanted || pair) {
        const DWORD kept = pair ? at - 1 : at;
        std::memcpy(piece + length, start, kept);
        length += kept;
        piece[length++] = static_cast<char>(LF);
        input.next += at + 1;
        break;
      }
    }
    DWORD take = available < wanted ? available : wanted;
    if (take == available && start[take - 1] == CR) {
      // The LF that makes this CR a line end may come with the next read. If
      // the data ends here, or that read fails, the CR is a character of its
      // own; the indicator set by the refill then ends the piece.
      std::memcpy(piece + length, start, take - 1);
      length += take - 1;
      input.next = input.filled;
      if (Refill(input) && input.buffer[0] == LF) {
        input.next = 1;
        piece[length++] = static_cast<char>(LF);
        break;
      }
      piece[length++] = static_cast<char>(CR);
      continue;
    }
    std::memcpy(piece + length, start, take);
    length += take;
    input.next += take;
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
  const auto *bytes = reinterpret_cast<const unsigned char *>(text);
  while (length > 0 && !output.error) {
    const auto *lf = static_cast<const unsigned char *>(std::memchr(bytes, LF, length));
    const DWORD span = lf != nullptr ? static_cast<DWORD>(lf - bytes) : length;
    PutBytes(output, bytes, span);
    if (lf == nullptr) break;
    PutLineEnd(output);
    bytes += span + 1;
    length -= span + 1;
  }
  return !output.error;
}

bool CloseTextOutput(TextOutput &output) {
  Flush(output);
  bool closed = CloseHandle(output.file) != FALSE;
  output.file = INVALID_HANDLE_VALUE;
  return closed && !output.error;
}
