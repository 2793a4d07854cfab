#include "support/modem_fixture.h"

namespace scratch {

// Here rather than with the machine, so that the benchmarks take the
// fixture without the machine and its interposer.
Value Text(std::string name, const std::string &text) {
  return {std::move(name), platform::REG_SZ, text + std::string(1, '\0')};
}

Value Unterminated(std::string name, const std::string &text) {
  return {std::move(name), platform::REG_SZ, text};
}

std::vector<Key> ModemKeys() {
  const std::string classRoot = "System\\CurrentControlSet\\Services\\Class\\";
  const std::string wave = "System\\CurrentControlSet\\Control\\MediaResources\\Wave\\";
  const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  return {
      {"System\\CurrentControlSet\\Services\\TQ19KVN", {Text("PNP ID", "VEN_1F8C&DEV_0072")}},
      {"Software\\Quorvane\\TQ19KVN", {Text("PNP ID", "VEN_1F8C&DEV_0072")}},
      {"Enum\\PCI\\VEN_1F8C&DEV_0072\\BUS_00&DEV_0A&FUNC_00",
       {Text("driver", "Modem\\0000"), Text("Class", "Modem")}},
      {"Enum\\PCI\\VEN_8086&DEV_7110\\BUS_00&DEV_07&FUNC_00", {Text("driver", "System\\0004")}},
      {"Enum\\MODEMWAVE\\Quorvane_TQ72_PCI_Voice_Modem\\0000", {Text("driver", "MEDIA\\0003")}},
      {"Enum\\MODEMWAVE\\Other_Voice_Modem\\0000", {Text("driver", "MEDIA\\0004")}},
      {classRoot + "Modem\\0000", {Text("DriverDesc", "Quorvane TQ72 PCI Modem")}},
      {classRoot + "Modem\\0000\\Init", {Text("1", "AT&F")}},
      {classRoot + "Modem\\0001", {Text("DriverDesc", "Other Modem")}},
      {classRoot + "MEDIA\\0003", {Text("DriverDesc", "Quorvane TQ72 Wave Device")}},
      {classRoot + "MEDIA\\0004", {Text("DriverDesc", "Other Wave Device")}},
      {classRoot + "System\\0004", {Text("DriverDesc", "PCI bridge")}},
      {wave + "Serwvdrv.drv<0000>", {Text("Description", "Serial Wave Driver")}},
      {wave + "mmsystem.dll<0000>", {Text("Description", "Sound")}},
      {uninstall + "TQ19KVN", {Text("DisplayName", "Quorvane TQ72 Modem")}},
      {uninstall + "Other", {Text("DisplayName", "Other")}},
  };
}

const std::vector<std::string> KeysRemoved = {
    "Enum\\PCI\\VEN_1F8C&DEV_0072",
    "Enum\\MODEMWAVE\\Quorvane_TQ72_PCI_Voice_Modem",
    "System\\CurrentControlSet\\Services\\Class\\Modem\\0000",
    "System\\CurrentControlSet\\Services\\Class\\MEDIA\\0003",
    "System\\CurrentControlSet\\Control\\MediaResources\\Wave\\Serwvdrv.drv<0000>",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TQ19KVN",
};

const std::vector<std::string> KeysKept = {
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

const std::vector<std::string> ProductFiles = {
#include "support/product_files.inc"
};

const std::vector<std::string> NeighbourFiles = {
    "SYSTEM\\vmm32.vxd",
    "SYSTEM\\main.cpl",
    "Help\\windows.hlp",
    "WIN.INI",
};

const std::string_view SystemIni =
    "[boot]\r\nshell=Explorer.exe\r\n\r\n[386Enh]\r\ndevice=*vmm32\r\n"
    "device=qvnvcd.vxd\r\ndevice=*dynapage\r\n\r\n[Quorvane]\r\nDriver=QVNVCD\r\n";
const std::string_view CleanedSystemIni =
    "[boot]\r\nshell=Explorer.exe\r\n\r\n[386Enh]\r\ndevice=*vmm32\r\n"
    "  device=*dynapage\r\n\r\n[Quorvane]\r\nDriver=QVNVCD\r\n";

std::vector<File> ModemFiles() {
  std::vector<File> files;
  for (const std::string &file : ProductFiles) files.push_back({file, "MZ product " + file});
  for (const std::string &file : NeighbourFiles) files.push_back({file, "MZ other " + file});
  files.push_back({"SYSTEM.INI", std::string(SystemIni)});
  return files;
}

}  // namespace scratch
