#include "platform/hosted/open_regular.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace hosted {

namespace {

int KindError(mode_t mode) {
  if (S_ISLNK(mode)) return ELOOP;
  if (S_ISDIR(mode)) return EISDIR;
  return EINVAL;
}

int Refuse(int fd, int error) {
  if (fd >= 0) ::close(fd);
  errno = error;
  return -1;
}

}  // namespace

int OpenRegularAt(int dirFd, const char *name, int flags, mode_t mode, Links links) {
  flags = (flags & ~O_TRUNC) | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
  struct stat named;
  int fd;
  if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(named.st_mode)) return Refuse(-1, KindError(named.st_mode));
    if ((flags & O_EXCL) != 0) return Refuse(-1, EEXIST);
    // O_NONBLOCK: should the entry be swapped for a FIFO meanwhile, the open
    // must not wait for a writer.
    fd = ::openat(dirFd, name, (flags & ~O_CREAT) | O_NONBLOCK);
  } else {
    if (errno != ENOENT || (flags & O_CREAT) == 0) return -1;
    // Only a file of our own making: whatever appears meanwhile is refused.
    fd = ::openat(dirFd, name, flags | O_EXCL | O_NONBLOCK, mode);
  }
  if (fd < 0) return -1;
  struct stat opened;
  if (::fstat(fd, &opened) != 0) return Refuse(fd, errno);
  if (!S_ISREG(opened.st_mode)) return Refuse(fd, KindError(opened.st_mode));
  if (links == Links::One && opened.st_nlink != 1) return Refuse(fd, EMLINK);
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) return Refuse(fd, errno);
  return fd;
}

void RemoveRegularFilesWithPrefix(int dirFd, std::string_view prefix) {
  const int scanFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *scan = scanFd < 0 ? nullptr : ::fdopendir(scanFd);
  if (scan == nullptr) {
    if (scanFd >= 0) ::close(scanFd);
    return;
  }
  // Names first, removals after: unlinking while readdir runs may skip entries.
  std::vector<std::string> names;
  while (const dirent *entry = ::readdir(scan)) {
    struct stat st;
    if (std::string_view(entry->d_name).starts_with(prefix) &&
        ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      names.emplace_back(entry->d_name);
  }
  ::closedir(scan);
  for (const std::string &name : names) ::unlinkat(dirFd, name.c_str(), 0);
}

}  // namespace hosted
