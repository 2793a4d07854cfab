#include "platform/hosted/registry_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace hosted::journal {

std::string Record(std::string_view fullPath) {
  std::string record = "[-";
  record += fullPath;
  record += "]\n";
  return record;
}

std::vector<std::string> ReadRecords(std::string_view bytes, std::size_t *validBytes) {
  std::vector<std::string> paths;
  *validBytes = 0;
  if (!bytes.starts_with(kHeader)) return paths;
  *validBytes = kHeader.size();
  for (std::size_t end; (end = bytes.find('\n', *validBytes)) != std::string_view::npos;
       *validBytes = end + 1) {
    const std::string_view line = bytes.substr(*validBytes, end - *validBytes);
    if (line.starts_with(';')) continue;
    if (line.size() < 4 || !line.starts_with("[-") || !line.ends_with(']')) break;
    paths.emplace_back(line.substr(2, line.size() - 3));
  }
  return paths;
}

bool Journal::Load(int dirFd, std::string *error) {
  Fd fd = OpenRegularAt(dirFd, kJournalName, O_RDWR, 0);
  std::string bytes;
  if (!fd.Valid() && errno != ENOENT) {
    *error = OpenFailure(kJournalName, errno);
    return false;
  }
  if (fd.Valid() && !ReadToEnd(fd.Get(), &bytes)) {
    *error = ErrnoReason(std::string("cannot read ") + kJournalName, errno);
    return false;
  }
  dirFd_ = dirFd;
  fd_ = std::move(fd);
  records_ = ReadRecords(bytes, &validBytes_);
  tornTail_ = validBytes_ != bytes.size();
  return true;
}

bool Journal::Append(std::string_view fullPath, std::string *error) {
  const std::string name = kJournalName;
  if (!fd_.Valid()) {
    fd_ = OpenRegularAt(dirFd_, kJournalName, O_RDWR | O_CREAT | O_EXCL, 0644);
    if (!fd_.Valid()) {
      *error = ErrnoReason("cannot create " + name, errno);
      return false;
    }
    dirSynced_ = false;
  }
  const std::string bytes = (validBytes_ == 0 ? std::string(kHeader) : "") + Record(fullPath);
  // Whatever follows the complete records (a torn one, or part of one whose
  // append failed) is cut off, so that a failed change never comes back.
  auto fail = [&](std::string_view what) {
    *error = ErrnoReason(what, errno);
    tornTail_ =
        ::ftruncate(fd_.Get(), static_cast<off_t>(validBytes_)) != 0 || ::fdatasync(fd_.Get()) != 0;
    return false;
  };
  if (tornTail_ && ::ftruncate(fd_.Get(), static_cast<off_t>(validBytes_)) != 0)
    return fail("cannot truncate " + name);
  tornTail_ = false;
  if (::lseek(fd_.Get(), static_cast<off_t>(validBytes_), SEEK_SET) < 0 ||
      !WriteAll(fd_.Get(), bytes))
    return fail("cannot write " + name);
  if (::fdatasync(fd_.Get()) != 0) return fail("cannot sync " + name);
  if (!dirSynced_ && ::fsync(dirFd_) != 0) return fail("cannot sync the machine folder");
  dirSynced_ = true;
  validBytes_ += bytes.size();
  records_.emplace_back(fullPath);
  return true;
}

bool Journal::Remove(std::string *error) {
  if (!fd_.Valid()) return true;
  if (::unlinkat(dirFd_, kJournalName, 0) != 0 && errno != ENOENT) {
    *error = ErrnoReason(std::string("cannot remove ") + kJournalName, errno);
    return false;
  }
  fd_.Reset();
  validBytes_ = 0;
  records_.clear();
  if (::fsync(dirFd_) != 0) {
    *error = ErrnoReason("cannot sync the machine folder", errno);
    return false;
  }
  return true;
}

}  // namespace hosted::journal
