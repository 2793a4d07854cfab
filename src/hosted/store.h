// A registry file of the machine folder in one file format. The registry
// (registry.h) works on a tree and the one store chosen at its start, and
// every run ends, as a killed run's next start begins, on one path: load,
// apply the journal, save.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "hosted/tree.h"

namespace hosted {

class Store {
 public:
  virtual ~Store() = default;

  // The file's name in the machine folder, for reasons.
  virtual const char *FileName() const = 0;
  // Brings *tree up to the file as it is now, keeping what Save needs and
  // the memory the tree's names point into. When the file holds what the
  // last load read, the tree stays, with the removals made since; else a new
  // tree of the file replaces it. False with a reason naming the file and
  // where in it, the tree and the store then as they were.
  virtual bool Load(int dirFd, std::unique_ptr<Tree> *tree, std::string *error) = 0;
  // A journal's record of a removal whose key the tree no longer shows: its
  // parent in the tree and its name. A store that writes in place may have
  // been cut short while writing it, and then finishes it at the next Save.
  virtual void RemovedBefore(const Key * /*parent*/, std::string_view /*name*/) {}
  // Writes the removals of the tree that the last Load filled back to the
  // file, leaving everything else in it as it was; with no removal, touches
  // nothing. False with a reason.
  virtual bool Save(int dirFd, const Tree &tree, std::string *error) = 0;
};

}  // namespace hosted
