// Removal of the card's PCI enumeration key and of the class key its first
// instance names, found through the product key's "PNP ID".
#pragma once

#include <cstddef>

inline constexpr std::size_t PciEnumKeyPathSize = 56;
inline constexpr std::size_t PnpIdBufferSize = 42;
inline constexpr std::size_t PciInstanceNameSize = 40;
inline constexpr std::size_t PciDriverValueSize = 40;

inline constexpr char PciEnumKeyPrefix[] = "Enum\\PCI\\";

// "Enum\PCI\" followed by the PNP ID once RemovePciDevice has read it; kept
// for the rest of the run.
extern char PciEnumKeyPath[PciEnumKeyPathSize];

void RemovePciDevice();
void RemovePciEnumKey();

// Start-up content of PciEnumKeyPath.
void ResetPciDeviceState();
