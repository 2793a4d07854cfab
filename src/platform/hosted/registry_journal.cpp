#include "platform/hosted/registry_journal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/hosted/open_regular.h"

namespace hosted::journal {

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr auto kCrcTable = MakeCrcTable();

std::string Errno(std::string_view what, int err) {
  std::string text(what);
  text += ": ";
  text += std::strerror(err);
  return text;
}

std::string EndMarker(std::string_view line) {
  char marker[32];
  std::snprintf(marker, sizeof marker, ";end %08x", static_cast<unsigned>(Crc32(line)));
  return marker;
}

// Writes all bytes at offset; false with errno set on failure.
bool PWriteAll(int fd, std::string_view bytes, off_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Why dirFd/name could not be opened, from the errno of OpenRegularAt.
std::string OpenFailure(const char *name, int err) {
  switch (err) {
    case ELOOP:
      return std::string(name) +
             " is a symbolic link: refusing to follow it (nothing outside the machine folder may "
             "be read or written)";
    case ENOENT:
      return std::string("no ") + name + " in the machine folder";
    case EINVAL:
    case EISDIR:
      return std::string(name) + " is not a regular file: refusing it";
    case EMLINK:
      return std::string(name) +
             " has other names (hard links), which may be outside the machine folder: refusing "
             "to write it";
    default:
      return Errno(std::string("cannot open ") + name, err);
  }
}

}  // namespace

std::string TempName() { return std::string(kTempPrefix) + "-" + std::to_string(::getpid()); }

void RemoveAbandonedTemps(int dirFd) { RemoveRegularFilesWithPrefix(dirFd, kTempPrefix); }

std::uint32_t Crc32(std::string_view bytes) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (char ch : bytes) c = kCrcTable[(c ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string Record(std::string_view fullPath) {
  std::string line = "[-";
  line += fullPath;
  line += ']';
  std::string record = line;
  record += '\n';
  record += EndMarker(line);
  record += '\n';
  return record;
}

std::vector<std::string> ReadRecords(std::string_view bytes, std::size_t *validBytes) {
  std::vector<std::string> paths;
  *validBytes = 0;
  if (bytes.substr(0, kHeader.size()) != kHeader) return paths;
  std::size_t pos = kHeader.size();
  *validBytes = pos;
  for (;;) {
    const std::size_t nl1 = bytes.find('\n', pos);
    if (nl1 == std::string_view::npos) break;
    const std::size_t nl2 = bytes.find('\n', nl1 + 1);
    if (nl2 == std::string_view::npos) break;
    const std::string_view line = bytes.substr(pos, nl1 - pos);
    const std::string_view marker = bytes.substr(nl1 + 1, nl2 - nl1 - 1);
    if (line.size() < 4 || line.substr(0, 2) != "[-" || line.back() != ']') break;
    if (marker != EndMarker(line)) break;
    paths.emplace_back(line.substr(2, line.size() - 3));
    pos = nl2 + 1;
    *validBytes = pos;
  }
  return paths;
}

int ReadFileAt(int dirFd, const char *name, std::string *bytes, mode_t *mode, std::string *error) {
  const int fd = OpenRegularAt(dirFd, name, O_RDONLY, 0, Links::Any);
  if (fd < 0) {
    const int err = errno;
    *error = OpenFailure(name, err);
    return err;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    *error = Errno(std::string("cannot stat ") + name, err);
    return err;
  }
  if (mode != nullptr) *mode = st.st_mode & 07777;
  bytes->clear();
  bytes->resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  for (;;) {
    if (got == bytes->size()) bytes->resize(got + 65536);  // grew while reading
    const ssize_t n = ::read(fd, bytes->data() + got, bytes->size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      *error = Errno(std::string("cannot read ") + name, err);
      return err;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes->resize(got);
  ::close(fd);
  return 0;
}

bool ReplaceFileAt(int dirFd, int *tempFdOut, const std::string &tempName, const char *name,
                   mode_t mode, const std::vector<std::string_view> &pieces,
                   std::string *error) {
  const int tempFd = *tempFdOut;
  auto fail = [&](std::string reason) {
    // Give the space back; the empty file stays for the next attempt.
    if (::ftruncate(tempFd, 0) == 0) ::lseek(tempFd, 0, SEEK_SET);
    *error = std::move(reason);
    return false;
  };
  if (::ftruncate(tempFd, 0) != 0 || ::lseek(tempFd, 0, SEEK_SET) != 0)
    return fail(Errno("cannot empty " + tempName, errno));
  for (std::string_view piece : pieces) {
    if (!WriteAll(tempFd, piece)) return fail(Errno("cannot write " + tempName, errno));
  }
  if (::fchmod(tempFd, mode) != 0) return fail(Errno("cannot chmod " + tempName, errno));
  if (::fsync(tempFd) != 0) return fail(Errno("cannot sync " + tempName, errno));
  // Only our own file goes over name, even if another program meddled.
  struct stat ours, named;
  if (::fstat(tempFd, &ours) != 0 ||
      ::fstatat(dirFd, tempName.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      ours.st_dev != named.st_dev || ours.st_ino != named.st_ino)
    return fail("cannot rename " + tempName + ": it was removed or replaced during the run");
  if (::renameat(dirFd, tempName.c_str(), dirFd, name) != 0)
    return fail(Errno("cannot rename " + tempName + " over " + name, errno));
  ::close(tempFd);
  *tempFdOut = -1;
  if (::fsync(dirFd) != 0) {
    *error = Errno("cannot sync the machine folder", errno);
    return false;
  }
  return true;
}

// ----------------------------------------------------------------- journal

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
}

bool Journal::Load(std::string *error) {
  records_.clear();
  const int fd = OpenRegularAt(dirFd_, kJournalName, O_RDWR, 0, Links::One);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    *error = OpenFailure(kJournalName, errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    *error = Errno(std::string("cannot stat ") + kJournalName, err);
    return false;
  }
  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      *error = Errno(std::string("cannot read ") + kJournalName, err);
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  records_ = ReadRecords(bytes, &validBytes_);
  dirtyTail_ = validBytes_ != bytes.size();
  fd_ = fd;
  exists_ = true;
  return true;
}

bool Journal::Append(std::string_view fullPath, std::string *error) {
  std::string bytes;
  if (validBytes_ == 0) bytes = kHeader;
  bytes += Record(fullPath);

  if (fd_ < 0) {
    fd_ = OpenRegularAt(dirFd_, kJournalName, O_RDWR | O_CREAT | O_EXCL, 0644, Links::One);
    if (fd_ < 0) {
      *error = Errno(std::string("cannot create ") + kJournalName, errno);
      return false;
    }
    exists_ = true;
    dirSynced_ = false;
  }
  auto fail = [&](std::string reason) {
    // Drop whatever part of the record reached the file.
    if (::ftruncate(fd_, static_cast<off_t>(validBytes_)) == 0 && ::fdatasync(fd_) == 0) {
      dirtyTail_ = false;
    } else {
      dirtyTail_ = true;
    }
    *error = std::move(reason);
    return false;
  };
  if (dirtyTail_) {
    if (::ftruncate(fd_, static_cast<off_t>(validBytes_)) != 0)
      return fail(Errno(std::string("cannot truncate ") + kJournalName, errno));
    dirtyTail_ = false;
  }
  if (!PWriteAll(fd_, bytes, static_cast<off_t>(validBytes_))) {
    dirtyTail_ = true;
    return fail(Errno(std::string("cannot write ") + kJournalName, errno));
  }
  if (::fdatasync(fd_) != 0) {
    dirtyTail_ = true;
    return fail(Errno(std::string("cannot sync ") + kJournalName, errno));
  }
  if (!dirSynced_) {
    if (::fsync(dirFd_) != 0) {
      dirtyTail_ = true;
      return fail(Errno("cannot sync the machine folder", errno));
    }
    dirSynced_ = true;
  }
  validBytes_ += bytes.size();
  records_.emplace_back(fullPath);
  return true;
}

bool Journal::Remove(std::string *error) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!exists_) return true;
  if (::unlinkat(dirFd_, kJournalName, 0) != 0 && errno != ENOENT) {
    *error = Errno(std::string("cannot remove ") + kJournalName, errno);
    return false;
  }
  exists_ = false;
  validBytes_ = 0;
  records_.clear();
  dirtyTail_ = false;
  if (::fsync(dirFd_) != 0) {
    *error = Errno("cannot sync the machine folder", errno);
    return false;
  }
  return true;
}

}  // namespace hosted::journal
