// The session: how a run's message boxes are answered and where its calls
// are logged, for both programs. It sits in the call table above whichever
// calls are installed when it begins (the platform's own, or a test layer's),
// so the log shows what the removal logic asked and what it got back. The
// hosted command line (--answers, --log) and the Windows program's switches
// (/S, /LOG=FILE) only configure it.
//
// It runs inside the Windows program, which has no C runtime and no start-up
// code: fixed buffers, constant-initialised state, no allocation.
#pragma once

#include "platform/platform.h"

namespace session {

enum class Answer : unsigned char { Yes, No, Ok, Enter, None };

// The result of an answer given to a box (platform/box_rules.h). An answer that names no button of
// the box (ok on a Yes/No box, yes or no on an OK box) presses the default
// button: an answer meant for one box must never confirm another by accident.
// None, and any box that cannot be shown, give 0.
int ResultOf(Answer answer, platform::UINT style);
// What a user who goes on answers: Yes on a Yes/No box, OK on an OK box.
int GoOnResult(platform::UINT style);

// Takes each piece of the log, in order; a line ends in one call. A write
// that fails is not the run's failure.
using LogWriter = void (*)(const char *bytes, unsigned length);

struct Settings {
  // Given to the boxes in order, without showing them.
  const Answer *answers = nullptr;
  unsigned answerCount = 0;
  // Once the answers run out: true answers every box as a user who goes on
  // would, without showing it; false shows it through the calls below.
  bool goOn = false;
  LogWriter log = nullptr;  // no log when null
  bool crlf = false;        // the log's lines end in CR LF rather than LF
};

// One JSON object per call, in call order, numbered from 1 ("n"), with
// "call", the arguments ("key": the full path, from the opens that made the
// handle, e.g. "HKEY_LOCAL_MACHINE\Enum\PCI"; "path", or "from" and "to";
// a box's "caption", "text" and "style") and "result". Text is escaped as
// JSON has it (\", \\, \n, \r, \t), and other control bytes and bytes >=
// 0x7f as \u00HH, so a line is ASCII whatever the text.
//
// A handle's path is kept from the open that made it until its close, for
// up to OpenPathCapacity keys and as many files at once, each path up to
// PathCapacity - 1 characters; a handle beyond that, or a key's path longer
// than that, logs its path as "".
inline constexpr unsigned OpenPathCapacity = 16;
inline constexpr unsigned PathCapacity = 512;

// Installs the session as a layer over the calls installed now
// (platform::Layer); End puts them back. One session at a time.
void Begin(const Settings &settings);
void End();

}  // namespace session
