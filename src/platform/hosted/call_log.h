// The call log of the hosted command line (--log): one JSON object per line
// for every platform call, in call order, flushed line by line so that a run
// that dies leaves every call it made before.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace hosted {

// Builds one line: {"n":N,"call":"...", fields in the order added}.
class LogLine {
 public:
  LogLine(unsigned callNumber, std::string_view call);
  LogLine &Text(std::string_view name, std::string_view value);
  // null for a null pointer, as the caller passed it.
  LogLine &Text(std::string_view name, const char *value);
  LogLine &Number(std::string_view name, long long value);
  LogLine &Flag(std::string_view name, bool value);
  std::string Finish() const { return json_ + "}\n"; }

 private:
  LogLine &Name(std::string_view name);
  std::string json_;
};

class CallLog {
 public:
  CallLog() = default;
  ~CallLog() { Close(); }
  CallLog(const CallLog &) = delete;
  CallLog &operator=(const CallLog &) = delete;

  // "" no log, "-" standard error, otherwise a file created or truncated.
  // A log that is, or would be created, inside the machine folder
  // machineDirFd (its folder, after resolving links, is the machine folder
  // or below it), a regular file with other names (one may be a file of the
  // machine) and a block device are refused before anything is opened for
  // writing: the log must never overwrite what the run works on.
  bool Open(const std::string &path, int machineDirFd, std::string *error);
  void Close();
  // Does nothing without a log; a failing write is not the run's failure.
  void Write(const LogLine &line);

 private:
  std::FILE *file_ = nullptr;
  bool owned_ = false;
};

}  // namespace hosted
