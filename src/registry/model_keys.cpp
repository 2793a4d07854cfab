#include "registry/model_keys.h"

#include <cstring>

#include "platform/platform.h"
#include "registry/device_instance.h"

using namespace platform;

const char *const ModelKeyTable[ModelCount] = {
    "Enum\\MODEMWAVE\\Quorvane_TQ72_PCI_Voice_Modem",
    "Enum\\MODEMWAVE\\Quorvane_TQ72_PCI_Fax_Modem",
    "Enum\\MODEMWAVE\\Quorvane_TQ72_Voice_Modem",
    "Enum\\MODEMWAVE\\Quorvane_TQ72_Modem",
    "Enum\\MODEMWAVE\\Quorvane_TQ72_PCI_Speakerphone_Modem",
};

namespace {

// Shared by all ten model steps: each class-key pass that enumerates its
// model's first instance overwrites it; each enumeration-key pass reads it.
char InstanceNameBuffer[InstanceNameBufferSize];

}  // namespace

void ResetModelKeyState() { std::memset(InstanceNameBuffer, 0, sizeof InstanceNameBuffer); }

void RemoveModelClassKey(const char *modelKeyPath) {
  HKEY modelKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, modelKeyPath, 0, KEY_READ, &modelKey) != ERROR_SUCCESS) {
    return;
  }
  // Enumerate into a scratch buffer so that only a successful enumeration
  // replaces the shared name: a failed one may leave partial text behind.
  char firstInstance[InstanceNameBufferSize];
  if (!FirstSubkeyName(modelKey, firstInstance, sizeof firstInstance)) {
    RegCloseKey(modelKey);
    return;
  }
  std::memcpy(InstanceNameBuffer, firstInstance, sizeof InstanceNameBuffer);

  char driver[ModelDriverValueSize];
  bool haveDriver = QueryInstanceDriver(modelKey, InstanceNameBuffer, driver, sizeof driver);
  RegCloseKey(modelKey);
  if (!haveDriver) return;

  DeleteDriverClassKey(driver);
}

void RemoveModelEnumKey(const char *modelKeyPath) {
  HKEY modelKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, modelKeyPath, 0, KEY_READ, &modelKey) != ERROR_SUCCESS) {
    return;
  }
  if (InstanceNameBuffer[0] != '\0') RegDeleteKeyA(modelKey, InstanceNameBuffer);
  RegCloseKey(modelKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, modelKeyPath);
}
