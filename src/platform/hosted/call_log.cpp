#include "platform/hosted/call_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/hosted/file_io.h"
#include "platform/hosted/text_helpers.h"

namespace hosted {

LogLine::LogLine(unsigned callNumber, std::string_view call) {
  json_ = "{\"n\":" + std::to_string(callNumber) + ",\"call\":" + JsonString(call);
}

LogLine &LogLine::Name(std::string_view name) {
  json_ += ',';
  json_ += JsonString(name);
  json_ += ':';
  return *this;
}

LogLine &LogLine::Text(std::string_view name, std::string_view value) {
  Name(name);
  json_ += JsonString(value);
  return *this;
}

LogLine &LogLine::Text(std::string_view name, const char *value) {
  if (value != nullptr) return Text(name, std::string_view(value));
  Name(name);
  json_ += "null";
  return *this;
}

LogLine &LogLine::Number(std::string_view name, long long value) {
  Name(name);
  json_ += std::to_string(value);
  return *this;
}

LogLine &LogLine::Flag(std::string_view name, bool value) {
  Name(name);
  json_ += value ? "true" : "false";
  return *this;
}

namespace {

// True when the folder dirFd is the machine folder or lies below it, walking
// up through ".." (after links were resolved, so the walk follows the path
// the kernel took). O_PATH needs no read permission on the folders walked.
bool InsideMachine(int dirFd, const struct stat &machine, std::string *error) {
  Fd fd(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
  for (;;) {
    struct stat here;
    if (!fd.Valid() || ::fstat(fd.Get(), &here) != 0) {
      *error = std::string("cannot check where the log is: ") + std::strerror(errno);
      return true;
    }
    if (here.st_dev == machine.st_dev && here.st_ino == machine.st_ino) return true;
    Fd parent(::openat(fd.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat up;
    if (parent.Valid() && ::fstat(parent.Get(), &up) == 0 && up.st_dev == here.st_dev &&
        up.st_ino == here.st_ino)
      return false;  // the root: its parent is itself
    fd = std::move(parent);
  }
}

}  // namespace

bool CallLog::Open(const std::string &path, int machineDirFd, std::string *error) {
  Close();
  if (path.empty()) return true;
  if (path == "-") {
    file_ = stderr;
    return true;
  }
  const std::string name = "log " + Quoted(path);
  auto fail = [&](const std::string &reason) {
    *error = name + ": " + reason;
    return false;
  };
  struct stat machine;
  if (::fstat(machineDirFd, &machine) != 0) return fail(std::strerror(errno));
  // Where the log lands: the file a link names, else the new file's folder.
  std::string where;
  if (char *real = ::realpath(path.c_str(), nullptr)) {
    where = real;
    std::free(real);
  } else if (errno == ENOENT) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string leaf = path.substr(slash == std::string::npos ? 0 : slash + 1);
    char *real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr) return fail(std::strerror(errno));
    where = std::string(real) + "/" + leaf;
    std::free(real);
    if (leaf.empty() || leaf == "." || leaf == "..") return fail(std::strerror(EISDIR));
  } else {
    return fail(std::strerror(errno));
  }
  const std::size_t slash = where.rfind('/');
  const Fd dir(
      ::open(slash == 0 ? "/" : where.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir.Valid()) return fail(std::strerror(errno));
  std::string reason;
  if (InsideMachine(dir.Get(), machine, &reason))
    return fail(reason.empty() ? "inside the machine folder: refusing to write it there" : reason);
  // Not through a link now: a link put in place since would go unchecked.
  const std::string leaf = where.substr(slash + 1);
  Fd fd(::openat(dir.Get(), leaf.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                 0666));
  int openErrno = errno;
  // A pipe or terminal named through /proc (/dev/stdout, /dev/fd/N) has no
  // path to resolve; it is opened as named, and must not be a file.
  const bool unresolved = !fd.Valid() && openErrno == ELOOP;
  if (unresolved) {
    fd = Fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    openErrno = errno;
  }
  if (!fd.Valid()) return fail(std::strerror(openErrno));
  struct stat st;
  const char *refused = nullptr;
  if (::fstat(fd.Get(), &st) != 0) {
    refused = std::strerror(errno);
  } else if (unresolved && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
    refused = "a link that could not be resolved: refusing it";
  } else if (S_ISBLK(st.st_mode)) {
    refused = "a block device: refusing to write it";
  } else if (S_ISREG(st.st_mode) && st.st_nlink != 1) {
    refused = "has other names (hard links), which may be files of the machine: refusing it";
  } else if (S_ISREG(st.st_mode) && ::ftruncate(fd.Get(), 0) != 0) {
    refused = std::strerror(errno);
  }
  if (refused == nullptr) file_ = ::fdopen(fd.Get(), "wb");
  if (file_ == nullptr) return fail(refused != nullptr ? refused : std::strerror(errno));
  fd.Release();  // the stream owns it now
  owned_ = true;
  return true;
}

void CallLog::Close() {
  if (file_ != nullptr && owned_)
    std::fclose(file_);
  else if (file_ != nullptr)
    std::fflush(file_);
  file_ = nullptr;
  owned_ = false;
}

void CallLog::Write(const LogLine &line) {
  if (file_ == nullptr) return;
  const std::string text = line.Finish();
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

}  // namespace hosted
