// Removal of the modem-wave models' keys: for each model of ModelKeyTable,
// the class key its first instance names, then the model key itself.
#pragma once

#include <cstddef>

inline constexpr std::size_t ModelCount = 5;
inline constexpr std::size_t InstanceNameBufferSize = 256;
inline constexpr std::size_t ModelDriverValueSize = 50;

extern const char *const ModelKeyTable[ModelCount];

// One instance name is shared by all ten model steps: each class-key pass
// that enumerates its model's first instance overwrites it; each
// enumeration-key pass deletes that name below its own model key.
void RemoveModelClassKey(const char *modelKeyPath);
void RemoveModelEnumKey(const char *modelKeyPath);

// Start-up state: no instance name.
void ResetModelKeyState();
