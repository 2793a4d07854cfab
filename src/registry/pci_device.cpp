#include "registry/pci_device.h"

#include <cstring>

#include "platform/platform.h"
#include "registry/device_instance.h"
#include "registry/key_paths.h"
#include "texts/texts.h"

using namespace platform;

namespace {

// "Enum\PCI\" followed by the PNP ID once RemovePciDevice has read it; kept
// for the rest of the run.
char PciEnumKeyPath[PciEnumKeyPathSize];
char PnpIdBuffer[PnpIdBufferSize];

const char PnpIdValueName[] = "PNP ID";

bool PciEnumKeyPathEqualsPrefix() { return std::strcmp(PciEnumKeyPath, PciEnumKeyPrefix) == 0; }

// Opens the product key, preferring the service key; both opens are always
// attempted. Null when neither exists.
HKEY OpenProductKey() {
  HKEY serviceKey = nullptr;
  HKEY softwareKey = nullptr;
  bool haveService = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProductServiceKeyPath, 0, KEY_QUERY_VALUE,
                                   &serviceKey) == ERROR_SUCCESS;
  bool haveSoftware = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProductSoftwareKeyPath, 0, KEY_QUERY_VALUE,
                                    &softwareKey) == ERROR_SUCCESS;
  if (haveService) {
    if (haveSoftware) RegCloseKey(softwareKey);
    return serviceKey;
  }
  return haveSoftware ? softwareKey : nullptr;
}

}  // namespace

void ResetPciDeviceState() {
  std::memset(PciEnumKeyPath, 0, sizeof PciEnumKeyPath);
  std::memcpy(PciEnumKeyPath, PciEnumKeyPrefix, sizeof PciEnumKeyPrefix);
  std::memset(PnpIdBuffer, 0, sizeof PnpIdBuffer);
}

void RemovePciDevice() {
  HKEY productKey = OpenProductKey();
  if (productKey == nullptr) {
    MessageBoxA(nullptr, NoProductKeyText, ProductCaption, MB_OK);
    return;
  }
  bool havePnpId = QueryTextValue(productKey, PnpIdValueName, PnpIdBuffer, sizeof PnpIdBuffer);
  RegCloseKey(productKey);
  if (!havePnpId) return;

  // 9 + 41 characters and the terminator always fit the 56-byte path.
  std::strcat(PciEnumKeyPath, PnpIdBuffer);
  // Equal to the prefix exactly when the ID was empty. An ID with an empty
  // element (a leading, trailing or doubled backslash) names no key of its
  // own, and a registry that ignores such an element would lead the step to
  // another card's key and its class key: the step ends before any call, as
  // RemovePciEnumKey does, and relies on no platform to refuse the path.
  if (PciEnumKeyPathEqualsPrefix() || !IsWellFormedKeyPath(PciEnumKeyPath)) return;

  HKEY enumKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PciEnumKeyPath, 0, KEY_READ, &enumKey) != ERROR_SUCCESS) {
    return;
  }
  // Only the first instance is ever looked at.
  char instanceName[PciInstanceNameSize];
  if (!FirstSubkeyName(enumKey, instanceName, sizeof instanceName)) {
    RegCloseKey(enumKey);
    return;
  }
  char driver[PciDriverValueSize];
  bool haveDriver = QueryInstanceDriver(enumKey, instanceName, driver, sizeof driver);
  RegCloseKey(enumKey);
  if (!haveDriver) return;

  DeleteDriverClassKey(driver);
}

void RemovePciEnumKey() {
  // Equal to the bare prefix exactly when no PNP ID was read or it was
  // empty; deleting then would take the whole PCI branch. An ID with an
  // empty element would name a parent branch: the platform refuses such a
  // path, and the step does not rely on that.
  if (!PciEnumKeyPathEqualsPrefix() && IsWellFormedKeyPath(PciEnumKeyPath))
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, PciEnumKeyPath);
}
