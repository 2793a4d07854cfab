#include "support/registry_content.h"

#include <unordered_map>
#include <utility>
#include <vector>

#include "hosted/text_helpers.h"

namespace scratch {

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

std::string SavedText(const Document &content) {
  std::vector<std::string_view> pieces;
  std::string extra, text;
  content.Save(&pieces, &extra);
  for (std::string_view piece : pieces) text += piece;
  return text;
}

using hosted::RootKey;
using hosted::regedit4::RootId;

scratch::KeyReader Reader(hosted::Registry &registry) {
  return {
      [&registry](platform::HKEY key, const char *path, platform::HKEY *result) {
        return registry.OpenKey(key, path, result);
      },
      [&registry](platform::HKEY key, platform::DWORD index, char *name, platform::DWORD *chars) {
        return registry.EnumKey(key, index, name, chars);
      },
      [&registry](platform::HKEY key) { registry.CloseKey(key); },
  };
}

std::string KeyTree(hosted::Registry &registry) {
  std::string out;
  for (std::size_t i = 0; i < hosted::regedit4::kRootCount; ++i) {
    const auto root = static_cast<RootId>(i);
    const std::string name(hosted::regedit4::RootName(root));
    out += name + '\n';
    for (const std::string &key : scratch::KeysBelow(Reader(registry), RootKey(root)))
      out += name + '\\' + key + '\n';
  }
  return out;
}

std::string KeyTree(const Document &content) {
  std::string out;
  std::vector<Key *> stack;
  for (std::size_t i = hosted::regedit4::kRootCount; i > 0; --i)
    stack.push_back(content.Root(static_cast<RootId>(i - 1)));
  while (!stack.empty()) {
    Key *key = stack.back();
    stack.pop_back();
    out += Document::PathOf(key) + '\n';
    const auto &children = content.Children(key);
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
  }
  return out;
}

}  // namespace scratch
