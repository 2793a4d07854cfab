// The interposer: a layer over platform::Calls (platform::Layer), between
// the removal logic and whichever platform is linked, forwarding to the calls
// below it. So the same test reaches the hosted platform and the real Win32
// API alike, in the manner of SQLite's syscall table and LevelDB's
// ErrorEnv. It does three things:
//
// - faults: a call fails whole, or fails halfway after part of its work, as
//   real systems do; reads may come in small pieces;
// - redirection: HKEY_LOCAL_MACHINE, the directory queries and the message
//   boxes are answered by the test, so that a run stays inside a scratch key
//   and a scratch folder on a real system and needs nobody at the screen;
// - observation: the calls made, the boxes shown, the keys and files left
//   open, and any path that names no file or key properly.
//
// Every suite observes a run through it, on every platform.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "session/session.h"

namespace interposer {

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

// A message box that was put up, with the answer it got.
struct Box {
  std::string caption;
  std::string text;
  platform::UINT style = 0;
  int result = 0;
};

// Installs itself over the calls for its lifetime, above a session begun
// before it or below one begun after; one at a time. The destructor puts the
// calls below it back.
class Interposer {
 public:
  Interposer();
  ~Interposer();
  Interposer(const Interposer &) = delete;
  Interposer &operator=(const Interposer &) = delete;

  // ------------------------------------------------------------- faults
  // Starts counting afresh with a new plan.
  void SetPlan(const Plan &plan);
  // Every ReadFile asks the platform for at most `bytes` (0: as asked), so
  // that a file is divided between reads at every position, as a pipe or a
  // slow medium divides it.
  void SplitReads(platform::DWORD bytes);
  // Adds `extra` to the length a directory query and the size a value query
  // report when they succeed, as a platform whose count disagrees with what
  // it copied.
  void Miscount(platform::UINT extra);

  // -------------------------------------------------------- redirection
  // Sends every call on HKEY_LOCAL_MACHINE to this open key instead.
  void SetLocalMachine(platform::HKEY key);
  // Answers the directory queries as Win32 does, with these paths instead of
  // asking the platform; an empty path makes that query fail.
  void SetDirectories(std::string windows, std::string system);
  // Answers every box itself, without showing it: with the next of
  // `results`, and once they run out as a user who goes on would
  // (session::GoOnResult: Yes, or OK).
  void AnswerBoxes(std::vector<int> results = {});
  // Called as each box is put up, before it is answered (the user closes
  // the Control Panel while the applet prompt is open).
  void OnBox(std::function<void(const Box &)> hook);

  // -------------------------------------------------------- observation
  unsigned CallCount() const;
  // The name of each call made since the plan was set, in order.
  const std::vector<std::string> &CallNames() const;
  // Calls the plan changed.
  unsigned Injected() const;
  // The boxes put up, in order; a box the plan kept from showing is none.
  const std::vector<Box> &Boxes() const;
  // Keys and files opened through the interposer and not closed yet.
  std::size_t OpenKeys() const;
  std::size_t OpenFiles() const;
  // Calls that named a file by anything but a full path ("X:\" and
  // non-empty names), opened a key through a malformed path, or deleted one
  // through an empty or malformed path.
  const std::vector<std::string> &MalformedPaths() const;
  // The sub-path of every RegDeleteKeyA, as the caller passed it, in order,
  // whether the key existed or not: which names a step built and used.
  const std::vector<std::string> &DeletedKeys() const;
};

// A session for the scope's lifetime (session::Begin, then End), so that the
// calls below it come back however the test leaves the scope: a failed ASSERT
// returns from the middle of it.
class SessionScope {
 public:
  explicit SessionScope(const session::Settings &settings) { session::Begin(settings); }
  ~SessionScope() { session::End(); }
  SessionScope(const SessionScope &) = delete;
  SessionScope &operator=(const SessionScope &) = delete;
};

}  // namespace interposer
