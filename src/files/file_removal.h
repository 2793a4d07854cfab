// Removal of the driver, program and applet files and of the applet's help.
#pragma once

void RemoveDriverFiles();
void RemoveControlPanelApplet();
