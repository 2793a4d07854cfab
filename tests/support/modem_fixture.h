// A small machine with the modem installed, for the suites that run on every
// platform. Keys and files that must survive stand beside the ones that must
// go, so that a deletion too wide shows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/scratch_machine.h"

namespace scratch {

// Product keys, card, one model, fixed keys, and unrelated neighbours.
std::vector<Key> ModemKeys();
// Keys that a full run removes, and keys it must leave.
extern const std::vector<std::string> KeysRemoved;
extern const std::vector<std::string> KeysKept;

// The six product files (in the order a run deletes them) and some
// neighbours, below the Windows folder.
extern const std::vector<std::string> ProductFiles;
extern const std::vector<std::string> NeighbourFiles;
// system.ini (as SYSTEM.INI) before and after the rewrite.
extern const std::string_view SystemIni;
extern const std::string_view CleanedSystemIni;
// Every file above, with system.ini.
std::vector<File> ModemFiles();

}  // namespace scratch
