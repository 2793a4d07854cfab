// What a hosted registry holds, in forms tests compare: the oracle of the
// REGEDIT4 round trip, of the journal's replay and of the fold. A registry
// is seen only through its own calls, as the removal logic sees it; a tree
// through its own interface.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "hosted/regedit4.h"
#include "hosted/registry.h"
#include "hosted/tree.h"
#include "support/key_walk.h"

namespace scratch {

// REGEDIT4 text loaded as the registry loads registry.reg: the store and
// the tree it filled.
struct Loaded {
  hosted::Regedit4Store store;
  hosted::Tree tree;
};
// Null when the text is refused, with *error "NAME:LINE: reason".
std::unique_ptr<Loaded> Load(std::string text, const std::string &name, std::string *error);

// Every live key in enumeration order, each with its values (every name
// once, with its final type and the bytes a query returns, a "text"
// value's terminator included): two trees hold the same keys and values
// exactly when their texts are equal, whatever file they came from.
std::string Canonical(const hosted::Tree &tree);

// The tree as REGEDIT4 text, as the fold writes it.
std::string SavedText(const Loaded &loaded);

// A registry's own calls, for scratch::KeysBelow and scratch::KeyOpens.
scratch::KeyReader Reader(hosted::Registry &registry);

// Every key's full path ("HKEY_LOCAL_MACHINE\A\B"), one a line, roots first
// and each key before its subkeys in enumeration order. The registry's is
// walked through its calls (scratch::KeysBelow); the two agree exactly when
// the registry shows the tree's keys.
std::string KeyTree(hosted::Registry &registry);
std::string KeyTree(const hosted::Tree &tree);

}  // namespace scratch
