#include "platform/hosted/host_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/hosted/names.h"
#include "platform/hosted/open_regular.h"
#include "platform/hosted/quoted.h"

namespace hosted {

using namespace platform;

namespace {

// An owned descriptor, so that every early return of a walk closes it.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd &&other) noexcept : fd_(other.Release()) {}
  Fd &operator=(Fd &&other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// The name under which `name` exists in the directory: itself when present
// as given, else the smallest case-folded match; nothing when absent.
std::optional<std::string> FindEntry(int dirFd, const std::string &name) {
  struct stat st;
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
  if (errno != ENOENT) return std::nullopt;
  int scanFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (scanFd < 0) return std::nullopt;
  DIR *dir = ::fdopendir(scanFd);
  if (dir == nullptr) {
    ::close(scanFd);
    return std::nullopt;
  }
  std::optional<std::string> best;
  while (const dirent *entry = ::readdir(dir)) {
    std::string_view candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (NamesEqual(candidate, name) && (!best || candidate < *best)) best = std::string(candidate);
  }
  ::closedir(dir);
  return best;
}

// A Windows path resolved to its parent folder and the leaf's host name.
struct Located {
  Fd dir;
  std::string leaf;
  bool exists = false;
};

// The folder the elements name below rootFd, entered without following a link.
Fd OpenFolder(int rootFd, const std::vector<std::string> &elements, std::size_t count) {
  Fd dir(::openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (std::size_t i = 0; dir.Valid() && i < count; ++i) {
    auto name = FindEntry(dir.Get(), elements[i]);
    if (!name) return Fd();
    // O_NOFOLLOW: a linked folder is never entered, wherever it points.
    dir = Fd(::openat(dir.Get(), name->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return dir;
}

std::optional<Located> Locate(int rootFd, const char *path) {
  auto elements = SplitWindowsPath(path);
  if (!elements || rootFd < 0) return std::nullopt;
  Located where;
  where.dir = OpenFolder(rootFd, *elements, elements->size() - 1);
  if (!where.dir.Valid()) return std::nullopt;
  auto leaf = FindEntry(where.dir.Get(), elements->back());
  where.exists = leaf.has_value();
  where.leaf = leaf ? *leaf : elements->back();
  return where;
}

// Opens an existing regular file of the walk (or creates one with O_CREAT)
// without following a link and without opening anything else; -1 otherwise.
Fd OpenRegular(int dirFd, const std::string &leaf, int flags) {
  return Fd(OpenRegularAt(dirFd, leaf.c_str(), flags, 0666, Links::Any));
}

constexpr std::string_view kCopyPrefix = ".tq72-copy-";

bool WriteAll(int fd, const char *data, std::size_t size, std::size_t *written) {
  *written = 0;
  while (*written < size) {
    ssize_t n = ::write(fd, data + *written, size - *written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    *written += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, char *data, std::size_t size, std::size_t *got) {
  *got = 0;
  while (*got < size) {
    ssize_t n = ::read(fd, data + *got, size - *got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *got += static_cast<std::size_t>(n);
  }
  return true;
}

// The kernel copies without the bytes passing through us where the file
// systems allow it (copy_file_range); where they do not (an error before or
// after some bytes, or an end reported early by a file system that knows no
// size), the rest goes through a buffer from where the kernel stopped. Only a
// read of 0 ends the copy.
bool CopyContent(int from, int to) {
  for (;;) {
    ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, std::size_t{1} << 30, 0);
    if (n > 0 || (n < 0 && errno == EINTR)) continue;
    break;
  }
  char buffer[64 * 1024];
  for (;;) {
    std::size_t got = 0, written = 0;
    if (!ReadAll(from, buffer, sizeof buffer, &got)) return false;
    if (got == 0) return true;
    if (!WriteAll(to, buffer, got, &written)) return false;
  }
}

}  // namespace

std::optional<std::vector<std::string>> SplitWindowsPath(const char *path) {
  if (path == nullptr) return std::nullopt;
  std::string_view text = path;
  // Windows 98 refuses paths of MAX_PATH characters and more.
  if (text.size() < 4 || text.size() >= MAX_PATH) return std::nullopt;
  if ((text[0] != 'C' && text[0] != 'c') || text[1] != ':' || text[2] != '\\') return std::nullopt;
  std::vector<std::string_view> names;
  if (!SplitNames(text.substr(3), &names)) return std::nullopt;
  for (std::string_view name : names) {
    if (name == "." || name == ".." || name.find('/') != std::string_view::npos)
      return std::nullopt;
  }
  return std::vector<std::string>(names.begin(), names.end());
}

HostFiles::~HostFiles() { Close(); }

bool HostFiles::Open(const std::string &machineDir, std::string *error) {
  Close();
  int fd = ::open(machineDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = "machine folder " + Quoted(machineDir) + ": " + std::strerror(errno);
    return false;
  }
  dirFd_ = fd;
  return true;
}

void HostFiles::Close() {
  for (auto &[id, file] : handles_) ::close(file.fd);
  handles_.clear();
  if (dirFd_ >= 0) ::close(dirFd_);
  dirFd_ = -1;
}

void HostFiles::RemoveAbandonedCopies() {
  static const std::vector<std::string> kFolders = {"WINDOWS", "SYSTEM"};
  for (std::size_t depth = 0; depth <= kFolders.size(); ++depth) {
    Fd dir = OpenFolder(dirFd_, kFolders, depth);
    if (!dir.Valid()) return;
    RemoveRegularFilesWithPrefix(dir.Get(), kCopyPrefix);
  }
}

HANDLE HostFiles::Create(const char *path, DWORD access, DWORD disposition) {
  const bool readable = (access & GENERIC_READ) != 0;
  const bool writable = (access & GENERIC_WRITE) != 0;
  if ((access & ~(GENERIC_READ | GENERIC_WRITE)) != 0 || (!readable && !writable))
    return INVALID_HANDLE_VALUE;
  if (disposition != OPEN_EXISTING && !(disposition == CREATE_ALWAYS && writable))
    return INVALID_HANDLE_VALUE;
  auto where = Locate(dirFd_, path);
  if (!where || (disposition == OPEN_EXISTING && !where->exists)) return INVALID_HANDLE_VALUE;
  int flags = readable && writable ? O_RDWR : writable ? O_WRONLY : O_RDONLY;
  if (disposition == CREATE_ALWAYS) flags |= O_CREAT;
  Fd fd = OpenRegular(where->dir.Get(), where->leaf, flags);
  struct stat st;
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) return INVALID_HANDLE_VALUE;
  // A file with other names may be shared with a file outside the folder (a
  // FAT disk has no hard links): it is never written in place. Rewriting
  // takes this name off it and creates a file of our own.
  if (writable && st.st_nlink > 1) {
    if (disposition != CREATE_ALWAYS) return INVALID_HANDLE_VALUE;
    fd.Reset();
    if (::unlinkat(where->dir.Get(), where->leaf.c_str(), 0) != 0) return INVALID_HANDLE_VALUE;
    fd = OpenRegular(where->dir.Get(), where->leaf, flags | O_EXCL);
  }
  // Truncated only once known to be a regular file of the folder, and only
  // when it holds something: ext4 takes a truncation to 0 for a file being
  // replaced and writes all of it back at the close, which a scratch file
  // such as system.new, deleted right after, must not cost.
  if (!fd.Valid() ||
      (disposition == CREATE_ALWAYS && st.st_size != 0 && ::ftruncate(fd.Get(), 0) != 0))
    return INVALID_HANDLE_VALUE;
  std::uintptr_t id = nextHandle_;
  nextHandle_ += 4;
  handles_[id] = OpenFile{fd.Release(), readable, writable};
  return reinterpret_cast<HANDLE>(id);
}

BOOL HostFiles::Read(HANDLE file, void *buffer, DWORD size, DWORD *done) {
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(file));
  if (done != nullptr) *done = 0;
  if (it == handles_.end() || !it->second.readable || done == nullptr ||
      (buffer == nullptr && size != 0))
    return FALSE;
  std::size_t got = 0;
  bool ok = ReadAll(it->second.fd, static_cast<char *>(buffer), size, &got);
  *done = static_cast<DWORD>(got);
  return ok ? TRUE : FALSE;
}

BOOL HostFiles::Write(HANDLE file, const void *buffer, DWORD size, DWORD *done) {
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(file));
  if (done != nullptr) *done = 0;
  if (it == handles_.end() || !it->second.writable || done == nullptr ||
      (buffer == nullptr && size != 0))
    return FALSE;
  std::size_t written = 0;
  bool ok = WriteAll(it->second.fd, static_cast<const char *>(buffer), size, &written);
  *done = static_cast<DWORD>(written);
  return ok ? TRUE : FALSE;
}

BOOL HostFiles::CloseHandle(HANDLE file) {
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(file));
  if (it == handles_.end()) return FALSE;
  int status = ::close(it->second.fd);
  handles_.erase(it);
  return status == 0 ? TRUE : FALSE;
}

BOOL HostFiles::Delete(const char *path) {
  auto where = Locate(dirFd_, path);
  if (!where || !where->exists) return FALSE;
  const int dir = where->dir.Get();
  const char *leaf = where->leaf.c_str();
  struct stat named;
  if (::fstatat(dir, leaf, &named, AT_SYMLINK_NOFOLLOW) != 0) return FALSE;
  // A link goes by itself: its target, wherever it is, stays.
  if (S_ISLNK(named.st_mode)) return ::unlinkat(dir, leaf, 0) == 0 ? TRUE : FALSE;
  Fd fd = OpenRegular(dir, where->leaf, O_RDONLY);
  if (!fd.Valid()) return FALSE;
  // Another holder's lock is the file being in use; ours is held until the
  // name is gone.
  if (IsOpenHere(fd.Get()) || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return FALSE;
  struct stat opened, now;
  if (::fstat(fd.Get(), &opened) != 0 || ::fstatat(dir, leaf, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
      opened.st_ino != now.st_ino || opened.st_dev != now.st_dev)
    return FALSE;
  return ::unlinkat(dir, leaf, 0) == 0 ? TRUE : FALSE;
}

bool HostFiles::IsOpenHere(int fd) const {
  struct stat file;
  if (::fstat(fd, &file) != 0) return false;
  for (const auto &[id, open] : handles_) {
    struct stat other;
    if (::fstat(open.fd, &other) == 0 && other.st_dev == file.st_dev && other.st_ino == file.st_ino)
      return true;
  }
  return false;
}

BOOL HostFiles::Copy(const char *from, const char *to, bool failIfExists) {
  auto source = Locate(dirFd_, from);
  if (!source || !source->exists) return FALSE;
  Fd in = OpenRegular(source->dir.Get(), source->leaf, O_RDONLY);
  auto target = Locate(dirFd_, to);
  if (!in.Valid() || !target) return FALSE;
  const int dir = target->dir.Get();
  struct stat st;
  if (target->exists) {
    if (failIfExists) return FALSE;
    if (::fstatat(dir, target->leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
      return FALSE;
  }
  if (::fstat(in.Get(), &st) != 0) return FALSE;
  static unsigned serial = 0;
  std::string temp =
      std::string(kCopyPrefix) + std::to_string(::getpid()) + "-" + std::to_string(++serial);
  Fd out(::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  st.st_mode & 0777));
  if (!out.Valid()) return FALSE;
  bool ok = CopyContent(in.Get(), out.Get()) && ::fsync(out.Get()) == 0;
  ok = ::close(out.Release()) == 0 && ok;
  // RENAME_NOREPLACE keeps bFailIfExists true even against a target that
  // appears meanwhile.
  if (ok)
    ok = (failIfExists ? ::renameat2(dir, temp.c_str(), dir, target->leaf.c_str(), RENAME_NOREPLACE)
                       : ::renameat(dir, temp.c_str(), dir, target->leaf.c_str())) == 0;
  if (!ok) {
    ::unlinkat(dir, temp.c_str(), 0);
    return FALSE;
  }
  ::fsync(dir);
  return TRUE;
}

}  // namespace hosted
