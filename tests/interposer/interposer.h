// A layer between the removal logic and whichever platform is linked: it
// takes the place of the entries of platform::Calls and forwards to
// platform::NativeCalls, so the same faults reach the hosted platform and the
// real Win32 API alike. Faults come as real systems produce them: a call
// fails whole, or fails halfway after part of its work.
//
// The layer also keeps what a test checks after a run, whatever the
// implementation: calls made, handles left open, paths that name no file or
// key properly; and it can answer the directory queries, the message boxes
// and HKEY_LOCAL_MACHINE itself, so that a run stays inside a scratch folder
// and a scratch key on a real system.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace faults {

enum class Effect {
  // The call fails and changes nothing; a close still releases its handle.
  Fail,
  // The call does part of its work and then fails, as on a full disk or a
  // broken medium: RegEnumKeyExA writes part of the name and returns
  // ERROR_MORE_DATA; RegQueryValueExA writes the data without its terminator
  // and returns ERROR_MORE_DATA; RegDeleteKeyA removes one subkey of the key
  // and fails; CreateFileA creates or empties the file and fails; ReadFile
  // reads half of what was asked and fails; WriteFile writes half and
  // reports success; CopyFileA writes half of the source over the target
  // and fails. Other calls have no such effect and are not changed.
  Halfway,
  // RegQueryValueExA of text succeeds with the data as Windows 98 returns a
  // value stored without its terminator: the size counts the text only and
  // the byte after it is not zero. No other call is changed.
  Unterminated,
};

struct Plan {
  unsigned call = 0;        // number of the call hit, counted from 1; 0: none
  bool persistent = false;  // with Fail: that call and every later one
  Effect effect = Effect::Fail;
};

// The calls that Effect::Halfway and Effect::Unterminated change.
bool HasEffect(Effect effect, const std::string &call);

// Installs the layer for its lifetime; one at a time. The destructor puts
// the implementation's calls back.
class Layer {
 public:
  Layer();
  ~Layer();
  Layer(const Layer &) = delete;
  Layer &operator=(const Layer &) = delete;

  // Starts counting afresh with a new plan.
  void SetPlan(const Plan &plan);

  unsigned CallCount() const;
  // The name of each call made, in order.
  const std::vector<std::string> &CallNames() const;
  // Calls the plan changed.
  unsigned Injected() const;
  // Keys and files opened through the layer and not closed yet.
  std::size_t OpenKeys() const;
  std::size_t OpenFiles() const;
  // Calls that named a file by anything but a full path ("X:\" and
  // non-empty names), or deleted a key through an empty or malformed path.
  const std::vector<std::string> &MalformedPaths() const;

  // Answers the directory queries as Win32 does, with these paths instead of
  // asking the platform; an empty path makes that query fail.
  void SetDirectories(std::string windows, std::string system);
  // Sends every call on HKEY_LOCAL_MACHINE to this open key instead.
  void SetLocalMachine(platform::HKEY key);
  // Answers every message box itself, Yes to a Yes/No box and OK to any
  // other, without showing it; the texts are kept in order.
  void AnswerBoxes();
  const std::vector<std::string> &BoxTexts() const;
};

}  // namespace faults
