// The rewrite of system.ini without the pieces that load the modem's driver.
#pragma once

// Below the Windows directory.
inline constexpr char IniName[] = "\\system.ini";
inline constexpr char NewName[] = "\\system.new";
// The text that marks a piece of system.ini as the driver's (case-sensitive).
inline constexpr char DriverMarker[] = "qvnvcd";
// What a marked piece becomes: two blanks and no line end, so the text of the
// next piece follows on the same line.
inline constexpr char BlankedLine[] = "  ";
// A piece is at most PieceBufferSize - 1 characters of a line, its LF included.
inline constexpr unsigned PieceBufferSize = 256;

// Copies WINDOWS\system.ini piece by piece into WINDOWS\system.new, each
// piece that holds DriverMarker (in its text before any zero byte) replaced
// by BlankedLine and every other byte kept, then copies system.new back over
// system.ini and deletes it.
//
// system.ini is written only by that one copy back, and only after all of
// system.ini was read and all of system.new written and closed; system.new is
// deleted only once the copy back succeeded. Otherwise:
// - no Windows directory, or no room for the paths: nothing is opened;
// - system.ini or system.new cannot be opened: nothing changes;
// - a failed read or write, or a failed close of system.new: system.ini is
//   unchanged and system.new stays in the Windows directory;
// - a failed copy back: system.new stays, whole, and system.ini may be as it
//   was or partly written (a copy is not atomic on Windows).
// Nothing is reported; every file opened is closed before the step ends.
void RewriteSystemIni();
