#include "hosted/windows_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hosted/text_helpers.h"

namespace hosted {

using namespace platform;

namespace {

// The names in the folder dirFd; none when it cannot be read.
std::vector<std::string> Names(int dirFd) {
  std::vector<std::string> names;
  Fd scanFd(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR *scan = scanFd.Valid() ? ::fdopendir(scanFd.Get()) : nullptr;
  if (scan == nullptr) return names;
  scanFd.Release();  // the DIR owns it now
  while (const dirent *entry = ::readdir(scan)) names.emplace_back(entry->d_name);
  ::closedir(scan);
  return names;
}

bool CopyToEnd(int from, int to) {
  char buffer[64 * 1024];
  for (;;) {
    std::size_t got = 0;
    if (!ReadFull(from, buffer, sizeof buffer, &got)) return false;
    if (got == 0) return true;
    if (!WriteAll(to, std::string_view(buffer, got))) return false;
  }
}

// The name under which `name` exists in the directory: itself when present
// as given, else the smallest case-folded match; nothing when absent.
std::optional<std::string> FindEntry(int dirFd, const std::string &name) {
  struct stat st;
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
  if (errno != ENOENT) return std::nullopt;
  std::optional<std::string> best;
  for (std::string &candidate : Names(dirFd))
    if (NamesEqual(candidate, name) && (!best || candidate < *best)) best = std::move(candidate);
  return best;
}

// The folder the elements name below rootFd, entered without following a link.
Fd OpenFolder(int rootFd, const std::vector<std::string> &elements, std::size_t count) {
  Fd dir(::openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (std::size_t i = 0; dir.Valid() && i < count; ++i) {
    auto name = FindEntry(dir.Get(), elements[i]);
    if (!name) return Fd();
    dir = Fd(::openat(dir.Get(), name->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return dir;
}

}  // namespace

std::optional<HostPath> FindHostPath(int rootFd, const char *path) {
  auto elements = SplitWindowsPath(path);
  if (!elements || rootFd < 0) return std::nullopt;
  HostPath where;
  where.dir = OpenFolder(rootFd, *elements, elements->size() - 1);
  if (!where.dir.Valid()) return std::nullopt;
  auto leaf = FindEntry(where.dir.Get(), elements->back());
  where.exists = leaf.has_value();
  where.leaf = leaf ? *leaf : elements->back();
  return where;
}

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

std::optional<std::string> WindowsFolderOf(std::string_view msdosSys) {
  auto trimmed = [](std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
      text.remove_suffix(1);
    return text;
  };
  bool inPaths = false;
  for (std::size_t at = 0; at < msdosSys.size();) {
    const std::size_t end = std::min(msdosSys.find('\n', at), msdosSys.size());
    const std::string_view line = trimmed(msdosSys.substr(at, end - at));
    at = end + 1;
    if (line.starts_with('[')) {
      inPaths = NamesEqual(line, "[Paths]");
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inPaths || equals == std::string_view::npos || !NamesEqual(trimmed(line.substr(0, equals)), "WinDir"))
      continue;
    std::string folder(trimmed(line.substr(equals + 1)));
    if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    if (!SplitWindowsPath(folder.c_str())) return std::nullopt;
    return folder;
  }
  return "C:\\WINDOWS";
}

bool WindowsFiles::Open(const std::string &machineDir, std::string *error) {
  Close();
  dir_ = Fd(::open(machineDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir_.Valid()) {
    *error = ErrnoReason("machine folder " + Quoted(machineDir), errno);
    return false;
  }
  if (::flock(dir_.Get(), LOCK_EX | LOCK_NB) != 0) {
    *error =
        errno == EWOULDBLOCK ? kMachineInUse : ErrnoReason("cannot lock the machine folder", errno);
    dir_.Reset();
    return false;
  }
  // The drive's own word for its Windows folder; a folder it cannot name
  // stops the run here, before anything is touched.
  windowsDir_ = "C:\\WINDOWS";
  if (auto where = FindHostPath(dir_.Get(), "C:\\MSDOS.SYS"); where && where->exists) {
    std::string text;
    Fd fd = where->Open(O_RDONLY);
    if (!fd.Valid() || !ReadToEnd(fd.Get(), &text)) {
      *error = ErrnoReason("cannot read MSDOS.SYS", errno);
      Close();
      return false;
    }
    std::optional<std::string> folder = WindowsFolderOf(text);
    if (!folder) {
      *error = "MSDOS.SYS: its WinDir is not a folder of drive C: inside the machine folder";
      Close();
      return false;
    }
    windowsDir_ = *folder;
  }
  return true;
}

void WindowsFiles::Close() {
  handles_.clear();
  dir_.Reset();
}

void WindowsFiles::RemoveLeftovers() {
  std::vector<std::string> folders = SplitWindowsPath(windowsDir_.c_str()).value();
  folders.push_back("SYSTEM");
  for (std::size_t depth = 0; depth <= folders.size(); ++depth) {
    if (depth > 0 && depth < folders.size() - 1) continue;  // only C:\, the Windows folder, SYSTEM
    const Fd dir = OpenFolder(dir_.Get(), folders, depth);
    if (!dir.Valid()) return;
    struct stat st;
    for (const std::string &name : Names(dir.Get()))
      if (name.starts_with(kTemporaryPrefix) &&
          ::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
        ::unlinkat(dir.Get(), name.c_str(), 0);
  }
}

HANDLE WindowsFiles::Create(const char *path, DWORD access, DWORD disposition) {
  const bool readable = (access & GENERIC_READ) != 0;
  const bool writable = (access & GENERIC_WRITE) != 0;
  if ((access & ~(GENERIC_READ | GENERIC_WRITE)) != 0 || (!readable && !writable))
    return INVALID_HANDLE_VALUE;
  if (disposition != OPEN_EXISTING && !(disposition == CREATE_ALWAYS && writable))
    return INVALID_HANDLE_VALUE;
  auto where = FindHostPath(dir_.Get(), path);
  if (!where || (disposition == OPEN_EXISTING && !where->exists)) return INVALID_HANDLE_VALUE;
  int flags = readable && writable ? O_RDWR : writable ? O_WRONLY : O_RDONLY;
  if (disposition == CREATE_ALWAYS) flags |= O_CREAT;
  Fd fd = where->Open(flags);
  // A file with other names may be one outside the folder: rewriting it takes
  // this name off it and creates a file of our own (FAT has no hard links).
  if (!fd.Valid() && errno == EMLINK && disposition == CREATE_ALWAYS &&
      ::unlinkat(where->dir.Get(), where->leaf.c_str(), 0) == 0)
    fd = where->Open(flags | O_EXCL);
  struct stat st;
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) return INVALID_HANDLE_VALUE;
  // Truncated only once known to be ours, and only when not empty: ext4 takes
  // a truncation to 0 for a file being replaced and flushes it at the close.
  if (disposition == CREATE_ALWAYS && st.st_size != 0 && ::ftruncate(fd.Get(), 0) != 0)
    return INVALID_HANDLE_VALUE;
  // Every handle of ours holds a shared lock, so that Delete fails on a file
  // we have open, as on Windows 98 (one another holds fails there anyway).
  ::flock(fd.Get(), LOCK_SH | LOCK_NB);
  std::uintptr_t id = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(id, OpenFile{std::move(fd), readable, writable});
  return reinterpret_cast<HANDLE>(id);
}

int WindowsFiles::FdFor(HANDLE file, bool write, const void *buffer, DWORD size, DWORD *done) {
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(file));
  if (done != nullptr) *done = 0;
  if (it == handles_.end() || !(write ? it->second.writable : it->second.readable) ||
      done == nullptr || (buffer == nullptr && size != 0))
    return -1;
  return it->second.fd.Get();
}

BOOL WindowsFiles::Read(HANDLE file, void *buffer, DWORD size, DWORD *done) {
  const int fd = FdFor(file, false, buffer, size, done);
  std::size_t got = 0;
  const bool ok = fd >= 0 && ReadFull(fd, static_cast<char *>(buffer), size, &got);
  if (fd >= 0) *done = static_cast<DWORD>(got);
  return ok ? TRUE : FALSE;
}

BOOL WindowsFiles::Write(HANDLE file, const void *buffer, DWORD size, DWORD *done) {
  const int fd = FdFor(file, true, buffer, size, done);
  std::size_t written = 0;
  const bool ok =
      fd >= 0 && WriteAll(fd, std::string_view(static_cast<const char *>(buffer), size), &written);
  if (fd >= 0) *done = static_cast<DWORD>(written);
  return ok ? TRUE : FALSE;
}

BOOL WindowsFiles::CloseHandle(HANDLE file) {
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(file));
  if (it == handles_.end()) return FALSE;
  const int status = it->second.fd.Reset();
  handles_.erase(it);
  return status == 0 ? TRUE : FALSE;
}

BOOL WindowsFiles::Delete(const char *path) {
  auto where = FindHostPath(dir_.Get(), path);
  if (!where || !where->exists) return FALSE;
  const int dir = where->dir.Get();
  const char *leaf = where->leaf.c_str();
  struct stat named;
  if (::fstatat(dir, leaf, &named, AT_SYMLINK_NOFOLLOW) != 0) return FALSE;
  // A link goes by itself: its target, wherever it is, stays.
  if (S_ISLNK(named.st_mode)) return ::unlinkat(dir, leaf, 0) == 0 ? TRUE : FALSE;
  const Fd fd = where->Open(O_RDONLY);
  if (!fd.Valid()) return FALSE;
  // Another holder's lock, or one of our own handles, is the file being in
  // use; ours is held until the name is gone.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return FALSE;
  return ::unlinkat(dir, leaf, 0) == 0 ? TRUE : FALSE;
}

BOOL WindowsFiles::Copy(const char *from, const char *to, bool failIfExists) {
  auto source = FindHostPath(dir_.Get(), from);
  auto target = FindHostPath(dir_.Get(), to);
  if (!source || !source->exists || !target || (target->exists && failIfExists)) return FALSE;
  const Fd in = source->Open(O_RDONLY);
  struct stat st;
  std::string ignored;  // the rename refuses a folder as the target
  const bool ok = in.Valid() && ::fstat(in.Get(), &st) == 0 &&
                  ReplaceFile(
                      target->dir.Get(), target->leaf.c_str(), st.st_mode & 0777, failIfExists,
                      [&](int fd) { return CopyToEnd(in.Get(), fd); }, &ignored);
  return ok ? TRUE : FALSE;
}

}  // namespace hosted
