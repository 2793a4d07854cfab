#include "support/registry_content.h"

#include <map>
#include <utility>
#include <vector>

#include "hosted/text_helpers.h"

namespace scratch {

using hosted::Key;
using hosted::RootId;
using hosted::Tree;
using hosted::Value;

std::unique_ptr<Loaded> Load(std::string text, const std::string &name, std::string *error) {
  auto loaded = std::make_unique<Loaded>();
  if (!loaded->store.Parse(std::move(text), name, &loaded->tree, error)) return nullptr;
  return loaded;
}

std::string Canonical(const Tree &doc) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  std::vector<Key *> stack;
  for (std::size_t i = hosted::kRootCount; i > 0; --i)
    stack.push_back(doc.Root(static_cast<RootId>(i - 1)));
  std::vector<const Value *> values;
  auto less = [](std::string_view a, std::string_view b) { return hosted::CompareNames(a, b) < 0; };
  std::map<std::string_view, std::size_t, decltype(less)> slots(less);
  while (!stack.empty()) {
    Key *key = stack.back();
    stack.pop_back();
    out += hosted::Quoted(Tree::PathOf(key)) + '\n';
    // Each name once, where it first appears, with its last data (a key may
    // hold hundreds of thousands of values: no pairwise search).
    values.clear();
    slots.clear();
    for (const Value *value = doc.FirstValue(key); value; value = doc.NextValue(value)) {
      auto [slot, added] = slots.try_emplace(value->name, values.size());
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
      if (value->terminated) out += " 00";
      out += '\n';
    }
    const auto &children = key->children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
  }
  return out;
}

std::string SavedText(const Loaded &loaded) {
  std::vector<std::string_view> pieces;
  std::string extra, text;
  loaded.store.SaveText(loaded.tree, &pieces, &extra);
  for (std::string_view piece : pieces) text += piece;
  return text;
}

using hosted::RootKey;

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
  const Tree names;  // the roots' names
  for (std::size_t i = 0; i < hosted::kRootCount; ++i) {
    const auto root = static_cast<RootId>(i);
    const std::string name(names.Root(root)->name);
    out += name + '\n';
    for (const std::string &key : scratch::KeysBelow(Reader(registry), RootKey(root)))
      out += name + '\\' + key + '\n';
  }
  return out;
}

std::string KeyTree(const Tree &content) {
  std::string out;
  std::vector<Key *> stack;
  for (std::size_t i = hosted::kRootCount; i > 0; --i)
    stack.push_back(content.Root(static_cast<RootId>(i - 1)));
  while (!stack.empty()) {
    Key *key = stack.back();
    stack.pop_back();
    out += Tree::PathOf(key) + '\n';
    const auto &children = key->children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
  }
  return out;
}

}  // namespace scratch
