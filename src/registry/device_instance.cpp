#include "registry/device_instance.h"

#include "registry/key_paths.h"

using namespace platform;

namespace {

const char DriverValueName[] = "driver";

}  // namespace

bool QueryTextValue(HKEY key, const char *valueName, char *buffer, std::size_t size) {
  DWORD type = REG_NONE;
  DWORD bytes = static_cast<DWORD>(size);
  if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &bytes) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (bytes > size) return false;
  for (DWORD i = 0; i < bytes; ++i) {
    if (buffer[i] == '\0') return true;
  }
  // Binary data or a string stored without its terminator that happens to
  // fit: terminate it inside the buffer if there is room, else it did not fit.
  if (bytes < size) {
    buffer[bytes] = '\0';
    return true;
  }
  return false;
}

bool FirstSubkeyName(HKEY key, char *name, std::size_t size) {
  DWORD nameChars = static_cast<DWORD>(size);
  return RegEnumKeyExA(key, 0, name, &nameChars, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

bool QueryInstanceDriver(HKEY deviceKey, const char *instanceName, char *driver, std::size_t size) {
  HKEY instanceKey = nullptr;
  if (RegOpenKeyExA(deviceKey, instanceName, 0, KEY_READ, &instanceKey) != ERROR_SUCCESS) {
    return false;
  }
  bool haveDriver = QueryTextValue(instanceKey, DriverValueName, driver, size);
  RegCloseKey(instanceKey);
  return haveDriver;
}

namespace {

// A class key is named "CLASS\INSTANCE": at least two non-empty elements.
// Anything shorter would take a whole class, or the root itself, with it.
bool NamesInstanceBelowClass(const char *path) {
  if (!IsWellFormedKeyPath(path)) return false;
  for (const char *p = path; *p != '\0'; ++p) {
    if (*p == '\\') return true;
  }
  return false;
}

}  // namespace

void DeleteDriverClassKey(const char *driverValue) {
  HKEY classRoot = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ClassRootPath, 0, KEY_READ, &classRoot) != ERROR_SUCCESS) {
    return;
  }
  if (NamesInstanceBelowClass(driverValue)) RegDeleteKeyA(classRoot, driverValue);
  RegCloseKey(classRoot);
}
