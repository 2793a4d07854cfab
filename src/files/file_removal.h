// Removal of the driver, program and applet files and of the applet's help.
#pragma once

#include <cstddef>

// Below the system directory.
inline constexpr std::size_t DriverFileCount = 4;
inline constexpr const char *DriverFileTable[DriverFileCount] = {
    "\\quninst.exe",
    "\\qvnvcd.vxd",
    "\\tq72pci.vxd",
    "\\tq72pci1.vxd",
};
inline constexpr char AppletName[] = "\\tqc.cpl";
// Below the Windows directory.
inline constexpr char AppletHelpName[] = "\\Help\\tqc.hlp";

void RemoveDriverFiles();
void RemoveControlPanelApplet();
