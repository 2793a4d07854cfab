// The REGEDIT4 store: registry.reg, a tree parsed from REGEDIT4 text and
// kept with that text. Saving writes the header and each section line's
// segment in file order, leaving out the sections of removed keys (the only
// change): an unchanged tree saves the file's bytes, and load(save(x)) == x.
// Deletion lines ("[-HKEY_...]") are refused: regedit of Windows 95/98
// exports none. Loading n bytes costs O(n log n) at worst, whatever their
// shape.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hosted/store.h"
#include "hosted/tree.h"

namespace hosted {

inline constexpr char kRegistryName[] = "registry.reg";

class Regedit4Store final : public Store {
 public:
  // The text of an empty registry, "REGEDIT4\r\n\r\n", until a parse.
  Regedit4Store();

  // Parses text into *tree, a new Tree, and keeps the text; false with
  // "NAME:LINE: reason", the text kept before still kept.
  bool Parse(std::string text, const std::string &name, Tree *tree, std::string *error);
  // The text of the tree the last parse filled: pieces of the text, then
  // maybe *extra (which must outlive them): section lines of the live keys
  // that only removed sections created implicitly.
  void SaveText(const Tree &tree, std::vector<std::string_view> *pieces, std::string *extra) const;
  std::string_view Text() const { return kept_->text; }

  const char *FileName() const override { return kRegistryName; }
  bool Load(int dirFd, std::unique_ptr<Tree> *tree, std::string *error) override;
  // Through a temporary file, renamed over registry.reg and synced.
  bool Save(int dirFd, const Tree &tree, std::string *error) override;

 private:
  friend class Parser;
  struct Segment {
    std::size_t begin;
    std::size_t end;
    const Key *key;  // null for the header
  };

  // The text last parsed and what a save needs of it; a tree's names point
  // into it, so a parse replaces it whole, and only once it succeeds.
  struct Kept {
    std::string text;
    std::unique_ptr<char[]> arena;  // decoded names and data, never reallocated
    std::size_t arenaUsed = 0;
    std::vector<Segment> segments;
  };
  std::unique_ptr<Kept> kept_;
  mode_t mode_ = 0644;  // registry.reg's, kept by a save
};

}  // namespace hosted
