// A small machine with the modem installed, for tests that run whole steps
// or the whole uninstaller. Keys and files that must survive stand beside the
// ones that must go, so that a deletion too wide shows.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "portable/modem_fixture.h"
#include "support/temp_machine.h"

namespace testsupport {

// REGEDIT4 text of `sections`, each "[HKEY_...\path]" followed by its value
// lines, joined with CR LF as regedit writes them.
std::string RegistryText(const std::vector<std::string> &lines);

// The modem's registry: product keys, card, one model, fixed keys, and
// unrelated neighbours.
std::string ModemRegistryText();

// Keys that a full run removes, and keys it must leave.
extern const std::vector<std::string> &ModemKeysRemoved;
extern const std::vector<std::string> &ModemKeysKept;

// The six product files and some neighbours, relative to the machine folder.
extern const std::vector<std::string> ModemFiles;
extern const std::vector<std::string> NeighbourFiles;

// system.ini before and after the rewrite.
extern const std::string_view ModemSystemIni;
extern const std::string_view CleanedSystemIni;

// Writes every file above (system.ini as WINDOWS/SYSTEM.INI).
void InstallModemFiles(const TempMachine &machine);

// Every file below root with its bytes, keyed by relative path; links are
// recorded by their target, folders by a trailing slash.
std::map<std::string, std::string> SnapshotFolder(const std::string &root);

// HKEY_LOCAL_MACHINE\path exists in the running machine's registry.
bool HasKey(std::string_view localMachinePath);

}  // namespace testsupport
