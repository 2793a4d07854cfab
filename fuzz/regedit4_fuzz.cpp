// The REGEDIT4 loader on arbitrary bytes: a file that loads saves back byte
// for byte and reloads to the same content, also after removing keys; a file
// that is refused gets "NAME:LINE: reason" on one line, LINE within the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/hosted/registry.h"
#include "support/registry_content.h"

using namespace platform;

namespace {

void CheckRefusal(std::string_view text, const std::string &error) {
  constexpr std::string_view kName = "f.reg:";
  FUZZ_CHECK(error.starts_with(kName), "%s", error.c_str());
  std::size_t at = kName.size(), line = 0;
  while (at < error.size() && error[at] >= '0' && error[at] <= '9')
    line = line * 10 + static_cast<std::size_t>(error[at++] - '0');
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n';
  FUZZ_CHECK(line >= 1 && line <= lines, "line %zu of %zu: %s", line, lines, error.c_str());
  FUZZ_CHECK(error.compare(at, 2, ": ") == 0 && error.size() > at + 2, "%s", error.c_str());
  for (char c : error)
    FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20, "control byte in \"%s\"", error.c_str());
}

void CheckReload(const hosted::Registry &reg) {
  hosted::Registry again;
  std::string error;
  FUZZ_CHECK(again.LoadText(testsupport::SavedText(reg), "again.reg", &error), "%s", error.c_str());
  FUZZ_CHECK(testsupport::Canonical(again) == testsupport::Canonical(reg),
             "reloaded content differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  hosted::Registry reg;
  std::string error;
  if (!reg.LoadText(text, "f.reg", &error)) {
    CheckRefusal(text, error);
    return 0;
  }
  FUZZ_CHECK(testsupport::SavedText(reg) == text, "an unchanged file saves other bytes");
  CheckReload(reg);
  // Remove a key one level down, then the first key below each root.
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                    HKEY_CURRENT_CONFIG, HKEY_DYN_DATA}) {
    char name[4096];
    DWORD chars = sizeof name;
    if (reg.EnumKey(root, 0, name, &chars) != ERROR_SUCCESS) continue;
    HKEY key = nullptr;
    if (reg.OpenKey(root, name, &key) == ERROR_SUCCESS) {
      chars = sizeof name;
      if (reg.EnumKey(key, 0, name, &chars) == ERROR_SUCCESS) reg.DeleteKey(key, name);
      reg.CloseKey(key);
    }
    chars = sizeof name;
    if (reg.EnumKey(root, 0, name, &chars) == ERROR_SUCCESS)
      FUZZ_CHECK(reg.DeleteKey(root, name) == ERROR_SUCCESS, "cannot delete %s", name);
  }
  CheckReload(reg);
  return 0;
}
