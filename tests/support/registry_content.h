// What a hosted registry holds, in a form tests compare: the oracle of the
// REGEDIT4 round trip, of the journal's replay and of the fold.
#pragma once

#include <string>
#include <string_view>

#include "platform/hosted/registry.h"

namespace testsupport {

// Every live key in enumeration order, each with its values (every name
// once, with its final type and the bytes a query returns, a "text"
// value's terminator included): two registries hold the same keys and
// values exactly when their texts are equal, whatever file they came from.
std::string Canonical(const hosted::regedit4::Document &content);
std::string Canonical(const hosted::Registry &registry);

// The content as REGEDIT4 text, as the fold would write it.
std::string SavedText(const hosted::Registry &registry);

// The live key at a full path with its root name ("HKEY_LOCAL_MACHINE\A"),
// case-insensitively.
bool KeyExists(const hosted::Registry &registry, std::string_view fullPath);

}  // namespace testsupport
