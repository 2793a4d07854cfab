// The registry keys that the steps read or delete by a fixed path, below
// HKEY_LOCAL_MACHINE. The card's enumeration key is found through the product
// key's "PNP ID" (pci_device.h), the models' keys are ModelKeyTable's
// (model_keys.h).
#pragma once

// The product's own keys: read for the card's "PNP ID", never deleted.
inline constexpr char ProductServiceKeyPath[] = "System\\CurrentControlSet\\Services\\TQ19KVN";
inline constexpr char ProductSoftwareKeyPath[] = "Software\\Quorvane\\TQ19KVN";
// Where a device instance's "driver" value leads: its class key below this.
inline constexpr char ClassRootPath[] = "System\\CurrentControlSet\\Services\\Class";
// The serial wave driver's media-resources key and the product's entry in
// the list of installed software.
inline constexpr char WaveResourceKeyPath[] =
    "System\\CurrentControlSet\\Control\\MediaResources\\Wave\\Serwvdrv.drv<0000>";
inline constexpr char UninstallEntryPath[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TQ19KVN";
