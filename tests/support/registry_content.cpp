#include "support/registry_content.h"

#include <unordered_map>
#include <vector>

#include "platform/hosted/text_helpers.h"

namespace testsupport {

using hosted::regedit4::Document;
using hosted::regedit4::Key;
using hosted::regedit4::Value;

std::string Canonical(const Document &doc) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  std::vector<Key *> stack;
  for (std::size_t i = hosted::regedit4::kRootCount; i > 0; --i)
    stack.push_back(doc.Root(static_cast<hosted::regedit4::RootId>(i - 1)));
  std::vector<const Value *> values;
  std::unordered_map<std::string, std::size_t> slots;
  while (!stack.empty()) {
    Key *key = stack.back();
    stack.pop_back();
    out += hosted::Quoted(Document::PathOf(key)) + '\n';
    // Each name once, where it first appears, with its last data (a key may
    // hold hundreds of thousands of values: no pairwise search).
    values.clear();
    slots.clear();
    for (const Value *value = doc.FirstValue(key); value; value = doc.NextValue(value)) {
      std::string folded(value->name);
      for (char &c : folded) c = static_cast<char>(hosted::FoldCase(static_cast<unsigned char>(c)));
      auto [slot, added] = slots.try_emplace(std::move(folded), values.size());
      if (added) {
        values.push_back(value);
      } else {
        values[slot->second] = value;
      }
    }
    for (const Value *value : values) {
      out += "  " + (value->name.empty() ? "@" : hosted::Quoted(value->name));
      out += " type " + std::to_string(value->type) + ':';
      for (char c : value->data) {
        const auto byte = static_cast<unsigned char>(c);
        out += ' ';
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
      }
      if (value->quoted) out += " 00";
      out += '\n';
    }
    const auto &children = doc.Children(key);
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
  }
  return out;
}

std::string Canonical(const hosted::Registry &registry) { return Canonical(registry.Content()); }

std::string SavedText(const hosted::Registry &registry) {
  std::vector<std::string_view> pieces;
  std::string extra, text;
  registry.Content().Save(&pieces, &extra);
  for (std::string_view piece : pieces) text += piece;
  return text;
}

bool KeyExists(const hosted::Registry &registry, std::string_view fullPath) {
  return registry.Content().FindPath(fullPath) != nullptr;
}

}  // namespace testsupport
