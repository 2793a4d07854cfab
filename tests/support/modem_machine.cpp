#include "support/modem_machine.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/hosted/registry.h"

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

std::string ModemRegistryText() {
  return RegistryText({
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\TQ19KVN]",
      "\"PNP ID\"=\"VEN_1F8C&DEV_0072\"",
      "[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\TQ19KVN]",
      "\"PNP ID\"=\"VEN_1F8C&DEV_0072\"",
      "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1F8C&DEV_0072\\BUS_00&DEV_0A&FUNC_00]",
      "\"driver\"=\"Modem\\\\0000\"",
      "\"Class\"=\"Modem\"",
      "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_8086&DEV_7110\\BUS_00&DEV_07&FUNC_00]",
      "\"driver\"=\"System\\\\0004\"",
      "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\Quorvane_TQ72_PCI_Voice_Modem\\0000]",
      "\"driver\"=\"MEDIA\\\\0003\"",
      "[HKEY_LOCAL_MACHINE\\Enum\\MODEMWAVE\\Other_Voice_Modem\\0000]",
      "\"driver\"=\"MEDIA\\\\0004\"",
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0000]",
      "\"DriverDesc\"=\"Quorvane TQ72 PCI Modem\"",
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0000\\Init]",
      "\"1\"=\"AT&F\"",
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0001]",
      "\"DriverDesc\"=\"Other Modem\"",
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\MEDIA\\0003]",
      "\"DriverDesc\"=\"Quorvane TQ72 Wave Device\"",
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\MEDIA\\0004]",
      "\"DriverDesc\"=\"Other Wave Device\"",
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\System\\0004]",
      "\"DriverDesc\"=\"PCI bridge\"",
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\MediaResources\\Wave\\"
      "Serwvdrv.drv<0000>]",
      "\"Description\"=\"Serial Wave Driver\"",
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\MediaResources\\Wave\\"
      "mmsystem.dll<0000>]",
      "\"Description\"=\"Sound\"",
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TQ19KVN]",
      "\"DisplayName\"=\"Quorvane TQ72 Modem\"",
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other]",
      "\"DisplayName\"=\"Other\"",
  });
}

const std::vector<std::string> ModemKeysRemoved = {
    "Enum\\PCI\\VEN_1F8C&DEV_0072",
    "Enum\\MODEMWAVE\\Quorvane_TQ72_PCI_Voice_Modem",
    "System\\CurrentControlSet\\Services\\Class\\Modem\\0000",
    "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0003",
    "System\\CurrentControlSet\\Control\\MediaResources\\Wave\\Serwvdrv.drv<0000>",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TQ19KVN",
};

const std::vector<std::string> ModemKeysKept = {
    "System\\CurrentControlSet\\Services\\TQ19KVN",
    "Software\\Quorvane\\TQ19KVN",
    "Enum\\PCI",
    "Enum\\PCI\\VEN_8086&DEV_7110\\BUS_00&DEV_07&FUNC_00",
    "Enum\\MODEMWAVE\\Other_Voice_Modem\\0000",
    "System\\CurrentControlSet\\Services\\Class\\Modem\\0001",
    "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0004",
    "System\\CurrentControlSet\\Services\\Class\\System\\0004",
    "System\\CurrentControlSet\\Control\\MediaResources\\Wave\\mmsystem.dll<0000>",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other",
};

const std::vector<std::string> ModemFiles = {
    "WINDOWS/SYSTEM/quninst.exe", "WINDOWS/SYSTEM/qvnvcd.vxd", "WINDOWS/SYSTEM/tq72pci.vxd",
    "WINDOWS/SYSTEM/tq72pci1.vxd", "WINDOWS/SYSTEM/tqc.cpl",   "WINDOWS/Help/tqc.hlp",
};

const std::vector<std::string> NeighbourFiles = {
    "WINDOWS/SYSTEM/vmm32.vxd", "WINDOWS/SYSTEM/main.cpl", "WINDOWS/Help/windows.hlp",
    "WINDOWS/WIN.INI",
};

const std::string_view ModemSystemIni =
    "[boot]\r\nshell=Explorer.exe\r\n\r\n[386Enh]\r\ndevice=*vmm32\r\n"
    "device=qvnvcd.vxd\r\ndevice=*dynapage\r\n\r\n[Quorvane]\r\nDriver=QVNVCD\r\n";
const std::string_view CleanedSystemIni =
    "[boot]\r\nshell=Explorer.exe\r\n\r\n[386Enh]\r\ndevice=*vmm32\r\n"
    "  device=*dynapage\r\n\r\n[Quorvane]\r\nDriver=QVNVCD\r\n";

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
  return hosted::CurrentRegistry().KeyExists("HKEY_LOCAL_MACHINE\\" +
                                             std::string(localMachinePath));
}

}  // namespace testsupport
