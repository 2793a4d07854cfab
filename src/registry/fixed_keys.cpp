#include "registry/fixed_keys.h"

#include "platform/platform.h"
#include "registry/key_paths.h"

using namespace platform;

void RemoveWaveResourceKey() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, WaveResourceKeyPath); }

void RemoveUninstallEntry() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallEntryPath); }
