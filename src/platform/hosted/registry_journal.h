// Durability of the hosted registry: the change journal kept beside
// registry.reg and the crash-safe replacement of registry.reg itself.
//
// Every file is reached relative to the machine folder's directory fd, by a
// plain name, and never through a symbolic link (O_NOFOLLOW on every open,
// renameat and unlinkat act on the entry itself), so nothing outside the
// machine folder is ever read, written or deleted.
//
// The journal is REGEDIT4 text made of deletion lines (which registry.reg
// itself may not hold), each followed by an end marker holding the CRC-32 of
// the line:
//
//   REGEDIT4
//   [-HKEY_LOCAL_MACHINE\Enum\PCI\VEN_1234]
//   ;end 1c291ca3
//
// A record counts only with its end marker and a matching CRC, so a record
// torn by a crash (and anything after it) is ignored.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hosted::journal {

inline constexpr char kRegistryName[] = "registry.reg";
inline constexpr char kJournalName[] = "registry.reg.journal";
// The temporary file of a fold is named kTempPrefix plus "-PID": two runs
// never share one, and any left in the folder belong to a run that is gone
// once the machine lock is ours (older versions used kTempPrefix alone).
inline constexpr char kTempPrefix[] = "registry.reg.tq72tmp";
inline constexpr std::string_view kHeader = "REGEDIT4\n";

// The name of this process's temporary file of a fold.
std::string TempName();
// Removes the temporary files (regular files named kTempPrefix...) that an
// interrupted fold left in the folder. Only under the machine lock.
void RemoveAbandonedTemps(int dirFd);

std::uint32_t Crc32(std::string_view bytes);

// The bytes of one record deleting fullPath ("HKEY_LOCAL_MACHINE\A\B").
std::string Record(std::string_view fullPath);

// The deleted paths of the complete records of a journal's bytes, in order;
// *validBytes is the length of the header and those records (0 when even the
// header is torn).
std::vector<std::string> ReadRecords(std::string_view bytes, std::size_t *validBytes);

// Reads dirFd/name whole without following a link or opening anything but a
// regular file. Returns 0 on success, or the errno of the failure (ENOENT
// when missing, ELOOP for a link, EINVAL or EISDIR when not a regular file)
// with a reason in *error.
int ReadFileAt(int dirFd, const char *name, std::string *bytes, mode_t *mode, std::string *error);

// Replaces dirFd/name by the concatenated pieces, crash-safely: they are
// written to *tempFd (dirFd/tempName, a file of our own made beforehand so
// that nothing found only now can stop the fold), synced, and the temp file
// is renamed over name, then the folder is synced. Once renamed, *tempFd is
// closed and set to -1 (it is name now), even if the folder's sync then
// fails. A failure before the rename leaves name as it was and the temp file
// there again, empty.
bool ReplaceFileAt(int dirFd, int *tempFd, const std::string &tempName, const char *name,
                   mode_t mode, const std::vector<std::string_view> &pieces,
                   std::string *error);

// The journal of one bound registry.
class Journal {
 public:
  explicit Journal(int dirFd) : dirFd_(dirFd) {}
  ~Journal();
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
  int dirFd_;  // not owned
  int fd_ = -1;
  bool exists_ = false;
  bool dirSynced_ = true;       // the journal's folder entry is durable
  std::size_t validBytes_ = 0;  // header and complete records
  bool dirtyTail_ = false;      // bytes past validBytes_ may be there
  std::vector<std::string> records_;
};

}  // namespace hosted::journal
