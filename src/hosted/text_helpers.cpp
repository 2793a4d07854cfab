#include "hosted/text_helpers.h"

#include <algorithm>

#include "platform/key_path.h"

namespace hosted {

namespace {

struct FoldTable {
  unsigned char up[256];
  constexpr FoldTable() : up() {
    for (int c = 0; c < 256; ++c) up[c] = static_cast<unsigned char>(c);
    for (int c = 'a'; c <= 'z'; ++c) up[c] = static_cast<unsigned char>(c - 0x20);
    for (int c = 0xE0; c <= 0xFE; ++c)
      if (c != 0xF7) up[c] = static_cast<unsigned char>(c - 0x20);
    up[0x9A] = 0x8A;  // š Š
    up[0x9C] = 0x8C;  // œ Œ
    up[0x9E] = 0x8E;  // ž Ž
    up[0xFF] = 0x9F;  // ÿ Ÿ
  }
};
constexpr FoldTable kFold;

}  // namespace

std::string Quoted(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n' || c == '\r' || c == '\t') {
      out += {'\\', c == '\n' ? 'n' : c == '\r' ? 'r' : 't'};
    } else if (c == '"' || c == '\\') {
      out += {'\\', c};
    } else if (byte < 0x20 || byte == 0x7f) {
      out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    } else {
      out += c;
    }
  }
  return out + '"';
}

int CompareNames(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = kFold.up[static_cast<unsigned char>(a[i])];
    const unsigned char y = kFold.up[static_cast<unsigned char>(b[i])];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

bool SplitNames(std::string_view path, std::vector<std::string_view> *names) {
  names->clear();
  if (path.empty() || !platform::IsWellFormedKeyPath(path.data(), path.size())) return false;
  for (;;) {
    const std::size_t slash = path.find('\\');
    names->push_back(path.substr(0, slash));
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace hosted
