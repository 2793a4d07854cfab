// Removal of the modem-wave models' keys and of the two fixed keys.
#pragma once

#include <cstddef>

inline constexpr std::size_t ModelCount = 5;
inline constexpr std::size_t InstanceNameBufferSize = 256;
inline constexpr std::size_t ModelDriverValueSize = 50;

extern const char *const ModelKeyTable[ModelCount];

// Shared by all ten model steps: each class-key pass that enumerates its
// model's first instance overwrites it; each enumeration-key pass reads it.
extern char InstanceNameBuffer[InstanceNameBufferSize];

void RemoveModelClassKey(const char *modelKeyPath);
void RemoveModelEnumKey(const char *modelKeyPath);
void RemoveWaveResourceKey();
void RemoveUninstallEntry();

// Start-up content of InstanceNameBuffer (empty).
void ResetModelKeyState();
