#include "support/modem_machine.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/hosted/registry.h"
#include "support/registry_content.h"

namespace testsupport {

std::string RegistryText(const std::vector<std::string> &lines) {
  std::string text = "REGEDIT4\r\n";
  for (const std::string &line : lines) {
    if (!line.empty() && line[0] == '[') text += "\r\n";
    text += line;
    text += "\r\n";
  }
  return text + "\r\n";
}

std::string ModemRegistryText() { return scratch::RegistryText(modem::Keys()); }

const std::vector<std::string> &ModemKeysRemoved = modem::KeysRemoved;
const std::vector<std::string> &ModemKeysKept = modem::KeysKept;

// modem::ProductFiles and NeighbourFiles in the machine folder.
const std::vector<std::string> ModemFiles = {
    "WINDOWS/SYSTEM/quninst.exe",  "WINDOWS/SYSTEM/qvnvcd.vxd", "WINDOWS/SYSTEM/tq72pci.vxd",
    "WINDOWS/SYSTEM/tq72pci1.vxd", "WINDOWS/SYSTEM/tqc.cpl",    "WINDOWS/Help/tqc.hlp",
};
const std::vector<std::string> NeighbourFiles = {
    "WINDOWS/SYSTEM/vmm32.vxd",
    "WINDOWS/SYSTEM/main.cpl",
    "WINDOWS/Help/windows.hlp",
    "WINDOWS/WIN.INI",
};
const std::string_view ModemSystemIni = modem::SystemIni;
const std::string_view CleanedSystemIni = modem::CleanedSystemIni;

void InstallModemFiles(const TempMachine &machine) {
  for (const std::string &file : ModemFiles) machine.WriteFile(file, "MZ product " + file);
  for (const std::string &file : NeighbourFiles) machine.WriteFile(file, "MZ other " + file);
  machine.WriteFile("WINDOWS/SYSTEM.INI", ModemSystemIni);
}

std::map<std::string, std::string> SnapshotFolder(const std::string &root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> snapshot;
  for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      snapshot[relative] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      snapshot[relative + "/"] = "";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      snapshot[relative] = bytes.str();
    }
  }
  return snapshot;
}

bool HasKey(std::string_view localMachinePath) {
  return testsupport::KeyExists(hosted::CurrentRegistry(),
                                "HKEY_LOCAL_MACHINE\\" + std::string(localMachinePath));
}

}  // namespace testsupport
