// The change journal kept beside registry.reg: every change of a bound
// registry is appended here, and made durable, before its call returns; the
// journal is folded into registry.reg at the end of the run (registry.h).
//
// It is REGEDIT4 text made of deletion lines (which registry.reg itself may
// not hold), each followed by an end marker holding the CRC-32 of the line:
//
//   REGEDIT4
//   [-HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1234]
//   ;end 1c291ca3
//
// A record counts only with its end marker and a matching CRC, so a record
// torn by a crash (and anything after it) is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hosted/host_fs.h"

namespace hosted::journal {

inline constexpr char kJournalName[] = "registry.reg.journal";
inline constexpr std::string_view kHeader = "REGEDIT4\n";

std::uint32_t Crc32(std::string_view bytes);

// The bytes of one record deleting fullPath ("HKEY_LOCAL_MACHINE\A\B").
std::string Record(std::string_view fullPath);

// The deleted paths of the complete records of a journal's bytes, in order;
// *validBytes is the length of the header and those records (0 when even the
// header is torn).
std::vector<std::string> ReadRecords(std::string_view bytes, std::size_t *validBytes);

// The journal of one bound registry, in the machine folder dirFd (not owned).
class Journal {
 public:
  explicit Journal(int dirFd) : dirFd_(dirFd) {}
  Journal(const Journal &) = delete;
  Journal &operator=(const Journal &) = delete;

  // Reads a journal left by an earlier run, if any: Records() gets the paths
  // of its complete records. Changes nothing on disk. False with a reason
  // when a journal is there but cannot be used (a link, not a regular file, a
  // file with other names, which may be outside the folder, I/O).
  bool Load(std::string *error);

  // Appends a record and makes it durable (file and, for a new journal, the
  // folder synced) before returning true. On failure the journal's valid
  // content is as it was.
  bool Append(std::string_view fullPath, std::string *error);

  // The deleted paths of every complete record, in order: those Load found,
  // then those appended.
  const std::vector<std::string> &Records() const { return records_; }

  // True when a journal file is there (found by Load or created since).
  bool Exists() const { return exists_; }
  // Deletes the journal file and syncs the folder.
  bool Remove(std::string *error);

 private:
  int dirFd_;
  Fd fd_;
  bool exists_ = false;
  bool dirSynced_ = true;       // the journal's folder entry is durable
  std::size_t validBytes_ = 0;  // header and complete records
  bool dirtyTail_ = false;      // bytes past validBytes_ may be there
  std::vector<std::string> records_;
};

}  // namespace hosted::journal
