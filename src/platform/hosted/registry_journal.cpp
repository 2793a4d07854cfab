#include "platform/hosted/registry_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>

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

std::string EndMarker(std::string_view line) {
  char marker[32];
  std::snprintf(marker, sizeof marker, ";end %08x", static_cast<unsigned>(Crc32(line)));
  return marker;
}

}  // namespace

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

// ----------------------------------------------------------------- journal

bool Journal::Load(std::string *error) {
  records_.clear();
  Fd fd = OpenRegularAt(dirFd_, kJournalName, O_RDWR, 0, Links::One);
  if (!fd.Valid()) {
    if (errno == ENOENT) return true;
    *error = OpenFailure(kJournalName, errno);
    return false;
  }
  std::string bytes;
  if (!ReadToEnd(fd.Get(), &bytes)) {
    *error = ErrnoReason(std::string("cannot read ") + kJournalName, errno);
    return false;
  }
  records_ = ReadRecords(bytes, &validBytes_);
  dirtyTail_ = validBytes_ != bytes.size();
  fd_ = std::move(fd);
  exists_ = true;
  return true;
}

bool Journal::Append(std::string_view fullPath, std::string *error) {
  std::string bytes;
  if (validBytes_ == 0) bytes = kHeader;
  bytes += Record(fullPath);

  if (!fd_.Valid()) {
    fd_ = OpenRegularAt(dirFd_, kJournalName, O_RDWR | O_CREAT | O_EXCL, 0644, Links::One);
    if (!fd_.Valid()) {
      *error = ErrnoReason(std::string("cannot create ") + kJournalName, errno);
      return false;
    }
    exists_ = true;
    dirSynced_ = false;
  }
  auto fail = [&](std::string_view what) {
    *error = ErrnoReason(what, errno);
    // Drop whatever part of the record reached the file.
    dirtyTail_ =
        ::ftruncate(fd_.Get(), static_cast<off_t>(validBytes_)) != 0 || ::fdatasync(fd_.Get()) != 0;
    return false;
  };
  const std::string name = kJournalName;
  if (dirtyTail_ && ::ftruncate(fd_.Get(), static_cast<off_t>(validBytes_)) != 0)
    return fail("cannot truncate " + name);
  dirtyTail_ = false;
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
  fd_.Reset();
  if (!exists_) return true;
  if (::unlinkat(dirFd_, kJournalName, 0) != 0 && errno != ENOENT) {
    *error = ErrnoReason(std::string("cannot remove ") + kJournalName, errno);
    return false;
  }
  exists_ = false;
  validBytes_ = 0;
  records_.clear();
  dirtyTail_ = false;
  if (::fsync(dirFd_) != 0) {
    *error = ErrnoReason("cannot sync the machine folder", errno);
    return false;
  }
  return true;
}

}  // namespace hosted::journal
