// Removal of the two keys whose paths are fixed (key_paths.h): the serial
// wave driver's media-resources key and the product's uninstall entry. A key
// that is not there is no failure.
#pragma once

void RemoveWaveResourceKey();
void RemoveUninstallEntry();
