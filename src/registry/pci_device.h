// Removal of the card's PCI enumeration key and of the class key its first
// instance names, found through the product key's "PNP ID".
#pragma once

#include <cstddef>

inline constexpr std::size_t PciEnumKeyPathSize = 56;
inline constexpr std::size_t PnpIdBufferSize = 42;
inline constexpr std::size_t PciInstanceNameSize = 40;
inline constexpr std::size_t PciDriverValueSize = 40;

inline constexpr char PciEnumKeyPrefix[] = "Enum\\PCI\\";

// RemovePciDevice reads the PNP ID; RemovePciEnumKey, whenever it runs in
// the rest of the run, deletes "Enum\PCI\" followed by that ID.
void RemovePciDevice();
void RemovePciEnumKey();

// Start-up state: no PNP ID read.
void ResetPciDeviceState();
