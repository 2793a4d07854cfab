// Removal of the driver, program and applet files and of the applet's help.
#pragma once

#include <cstddef>

inline constexpr std::size_t DirectoryPathSize = 256;

inline constexpr char AppletPrompt[] =
    "Unable to delete Control Panel entry\r\n\r\nPlease close the Control Panel and continue";

void RemoveDriverFiles();
void RemoveControlPanelApplet();
