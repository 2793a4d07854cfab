// The Windows program's switches, read from the text GetCommandLineA gives:
// the program's name, then arguments separated by blanks, where a quoted
// part may hold blanks (/LOG="C:\My Logs\tq72.log") and loses its quotes.
// A switch starts with '/' or '-', and case does not matter:
//
//   /S         no box: each is answered as a user who goes on would
//   /LOG=FILE  the call log, appended to FILE
//   /?         the usage box
//
// Anything else is ignored, so that a run with unknown switches is the
// program without any. Pure text work: the hosted tests run it too.
#pragma once

#include "platform/platform.h"

struct Switches {
  bool silent = false;  // /S
  bool usage = false;   // /?
  bool log = false;     // /LOG given, with or without a name
  // The log's name as given; empty when it had none or did not fit, and
  // then no log can be opened.
  char logPath[platform::MAX_PATH] = {};
};

void ParseSwitches(const char *commandLine, Switches *switches);

// A log named as one of the files the run deletes or rewrites, in whatever
// folder ('\', '/' or a drive's ':' ends a folder), in any case: it might be
// that file, and would then be deleted or overwritten under the run.
// Refusing the name anywhere needs no folder to be resolved.
bool IsRunFileName(const char *path);
