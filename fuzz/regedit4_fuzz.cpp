// The REGEDIT4 loader on arbitrary bytes: a file that loads saves back byte
// for byte and reloads to the same content, also after removing keys; a file
// that is refused gets "NAME:LINE: reason" on one line, LINE within the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "hosted/regedit4.h"
#include "support/registry_content.h"

using hosted::Key;
using scratch::Loaded;

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

void CheckReload(const Loaded &doc) {
  std::string error;
  auto again = scratch::Load(scratch::SavedText(doc), "again.reg", &error);
  FUZZ_CHECK(again != nullptr, "%s", error.c_str());
  FUZZ_CHECK(scratch::Canonical(again->tree) == scratch::Canonical(doc.tree),
             "reloaded content differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::string error;
  auto doc = scratch::Load(text, "f.reg", &error);
  if (!doc) {
    CheckRefusal(text, error);
    return 0;
  }
  FUZZ_CHECK(scratch::SavedText(*doc) == text, "an unchanged file saves other bytes");
  CheckReload(*doc);
  // Remove a key one level down, then the first key below each root.
  hosted::Tree &tree = doc->tree;
  for (std::size_t i = 0; i < hosted::kRootCount; ++i) {
    Key *root = tree.Root(static_cast<hosted::RootId>(i));
    if (root->children.empty()) continue;
    Key *first = root->children.front();
    if (!first->children.empty()) tree.Remove(first->children.front());
    tree.Remove(root->children.front());
  }
  CheckReload(*doc);
  return 0;
}
