// The change journal kept beside registry.reg: every change of the registry
// is appended here, and made durable, before its call returns; the journal
// is folded into registry.reg at the end of the run, or by the next run
// after a kill (registry.h).
//
// It is REGEDIT4 text made of deletion lines, which registry.reg itself may
// not hold:
//
//   REGEDIT4
//   [-HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1234]
//
// A record counts only with its line end, which is written last: a record
// torn by a crash, and anything after it, is ignored. Comment lines (';')
// are skipped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hosted/file_io.h"

namespace hosted::journal {

inline constexpr char kJournalName[] = "registry.reg.journal";
inline constexpr std::string_view kHeader = "REGEDIT4\n";

// The bytes of one record deleting fullPath ("HKEY_LOCAL_MACHINE\A\B").
std::string Record(std::string_view fullPath);

// The deleted paths of the complete records of a journal's bytes, in order;
// *validBytes is the length of the header and those records (0 when even the
// header is torn).
std::vector<std::string> ReadRecords(std::string_view bytes, std::size_t *validBytes);

// The journal of the registry of the machine folder dirFd (not owned).
class Journal {
 public:
  // Reads a journal left by an earlier run, if any: Records() gets the paths
  // of its complete records. Changes nothing on disk. False with a reason,
  // and the journal as it was, when a journal is there but cannot be used (a
  // link, not a regular file, a file with other names, which may be outside
  // the folder, I/O).
  bool Load(int dirFd, std::string *error);

  // Appends a record and makes it durable (file and, for a new journal, the
  // folder synced) before returning true. On failure the journal's complete
  // records are as they were. Fails before Load.
  bool Append(std::string_view fullPath, std::string *error);

  // The deleted paths of every complete record, in order: those Load found,
  // then those appended.
  const std::vector<std::string> &Records() const { return records_; }

  // Deletes the journal file, if there is one, and syncs the folder.
  bool Remove(std::string *error);

 private:
  int dirFd_ = -1;
  Fd fd_;                       // open while the file is there (found by Load or created since)
  bool dirSynced_ = true;       // the journal's folder entry is durable
  std::size_t validBytes_ = 0;  // header and complete records
  bool tornTail_ = false;       // bytes past validBytes_ may be there
  std::vector<std::string> records_;
};

}  // namespace hosted::journal
