// Placeholder hosted registry: compiles and links; the full implementation
// (REGEDIT4 parsing, journal) replaces it shortly.
#include "platform/hosted/registry.h"

#include <map>
#include <string>

#include "platform/key_path.h"

namespace hosted {

using namespace platform;

struct Registry::Impl {
  std::map<HKEY, std::string> handles;
};

Registry::Registry() : impl_(std::make_unique<Impl>()) {}
Registry::~Registry() = default;

bool Registry::LoadText(std::string_view, const std::string &name, std::string *error) {
  if (error) *error = name + ":1: not implemented yet";
  return false;
}
std::string Registry::SaveText() const { return "REGEDIT4\r\n\r\n"; }
bool Registry::Open(int, std::string *error) {
  if (error) *error = "not implemented yet";
  return false;
}
bool Registry::Close(std::string *) { return true; }

LONG Registry::OpenKey(HKEY, const char *subKey, PHKEY) {
  if (!IsWellFormedKeyPath(subKey)) return ERROR_INVALID_PARAMETER;
  return ERROR_FILE_NOT_FOUND;
}
LONG Registry::EnumKey(HKEY, DWORD, char *, DWORD *) { return ERROR_NO_MORE_ITEMS; }
LONG Registry::QueryValue(HKEY, const char *, DWORD *, BYTE *, DWORD *) {
  return ERROR_FILE_NOT_FOUND;
}
LONG Registry::DeleteKey(HKEY, const char *subKey) {
  if (subKey == nullptr || *subKey == '\0' || !IsWellFormedKeyPath(subKey))
    return ERROR_INVALID_PARAMETER;
  return ERROR_FILE_NOT_FOUND;
}
LONG Registry::CloseKey(HKEY key) {
  return impl_->handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
std::string Registry::PathOf(HKEY) const { return {}; }
std::size_t Registry::OpenHandleCount() const { return impl_->handles.size(); }
bool Registry::KeyExists(std::string_view) const { return false; }

}  // namespace hosted
