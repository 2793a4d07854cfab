#include "interposer/interposer.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>

#include "platform/call_table.h"
#include "platform/key_path.h"
#include "session/session.h"

namespace interposer {

using namespace platform;

namespace {

struct State {
  Layer layer;
  Plan plan;
  unsigned injected = 0;
  std::vector<std::string> calls;
  DWORD readLimit = 0;
  UINT miscount = 0;
  HKEY localMachine = nullptr;
  std::optional<std::string> windows, system;
  bool answerBoxes = false;
  std::vector<int> answers;
  std::size_t nextAnswer = 0;
  std::function<void(const Box &)> onBox;
  std::vector<Box> boxes;
  std::set<HKEY> keys;
  std::set<HANDLE> files;
  std::vector<std::string> malformed;
  std::vector<std::string> deleted;
};

State *Current = nullptr;

// The calls installed when the interposer was: the platform's, or a session's.
const CallTable &Below() { return Current->layer.Below(); }

// Counts a call and says what the plan does to it, if anything.
std::optional<Effect> Next(const char *call) {
  State &s = *Current;
  s.calls.emplace_back(call);
  const unsigned n = static_cast<unsigned>(s.calls.size());
  const Plan &plan = s.plan;
  if (plan.call == 0) return std::nullopt;
  const bool persistent = plan.persistent && plan.effect == Effect::Fail;
  if (!(n == plan.call || (persistent && n > plan.call))) return std::nullopt;
  if (plan.effect != Effect::Fail && !HasEffect(plan.effect, call)) return std::nullopt;
  ++s.injected;
  return plan.effect;
}

HKEY Root(HKEY key) {
  return Current->localMachine != nullptr && key == HKEY_LOCAL_MACHINE ? Current->localMachine
                                                                       : key;
}

// "X:\" followed by one or more non-empty names joined by single backslashes.
bool IsFullPath(const char *path) {
  if (path == nullptr) return false;
  const char drive = path[0];
  if (!((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) || path[1] != ':' ||
      path[2] != '\\' || path[3] == '\0')
    return false;
  return IsWellFormedKeyPath(path + 3);  // the same rule for names as for keys
}

void Malformed(const char *call, const char *path) {
  Current->malformed.push_back(std::string(call) + " " + (path ? path : "(null)"));
}

void CheckFile(const char *call, const char *path) {
  if (!IsFullPath(path)) Malformed(call, path);
}

// An open may name the key itself (a null or empty sub-path); a deletion
// must name a key below it.
void CheckKey(const char *call, const char *subKey, bool mayBeEmpty) {
  const bool empty = subKey == nullptr || *subKey == '\0';
  if ((empty && !mayBeEmpty) || !IsWellFormedKeyPath(subKey)) Malformed(call, subKey);
}

// ------------------------------------------------------------------ registry

LONG InterposedRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult) {
  CheckKey("RegOpenKeyExA", lpSubKey, true);
  if (Next("RegOpenKeyExA")) return ERROR_ACCESS_DENIED;
  const LONG status = Below().RegOpenKeyExA(Root(hKey), lpSubKey, ulOptions, samDesired, phkResult);
  if (status == ERROR_SUCCESS) Current->keys.insert(*phkResult);
  return status;
}

LONG InterposedRegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                             LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime) {
  const auto effect = Next("RegEnumKeyExA");
  if (effect == Effect::Fail) return ERROR_ACCESS_DENIED;
  const LONG status = Below().RegEnumKeyExA(Root(hKey), dwIndex, lpName, lpcchName, lpReserved,
                                            lpClass, lpcchClass, lpftLastWriteTime);
  if (effect != Effect::Halfway || status != ERROR_SUCCESS) return status;
  // The first half of the name, terminated, as if the rest did not fit.
  lpName[(*lpcchName + 1) / 2] = '\0';
  return ERROR_MORE_DATA;
}

// Windows returns REG_EXPAND_SZ (2) as text, as it does REG_SZ; the logic
// never asks for it.
constexpr DWORD RegExpandSz = 2;
bool IsText(DWORD type) { return type == REG_SZ || type == RegExpandSz; }

LONG InterposedRegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  const auto effect = Next("RegQueryValueExA");
  if (effect == Effect::Fail) return ERROR_ACCESS_DENIED;
  DWORD type = REG_NONE;
  const LONG status =
      Below().RegQueryValueExA(Root(hKey), lpValueName, lpReserved, &type, lpData, lpcbData);
  if (lpType != nullptr) *lpType = type;
  if (!effect || status != ERROR_SUCCESS || lpData == nullptr || *lpcbData == 0) {
    if (status == ERROR_SUCCESS && lpData != nullptr) *lpcbData += Current->miscount;
    return status;
  }
  const DWORD size = *lpcbData;
  if (effect == Effect::Halfway) {
    // Undefined content on ERROR_MORE_DATA: the data, its last byte spoiled.
    lpData[size - 1] = '#';
    *lpcbData = size + 1;
    return ERROR_MORE_DATA;
  }
  if (IsText(type) && lpData[size - 1] == '\0') {
    lpData[size - 1] = '#';
    *lpcbData = size - 1;
  }
  return status;
}

LONG InterposedRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  CheckKey("RegDeleteKeyA", lpSubKey, false);
  Current->deleted.push_back(lpSubKey ? lpSubKey : "(null)");
  const auto effect = Next("RegDeleteKeyA");
  if (!effect) return Below().RegDeleteKeyA(Root(hKey), lpSubKey);
  if (effect == Effect::Halfway) {
    // One subkey goes with its subtree before the deletion fails.
    HKEY key = nullptr;
    if (Below().RegOpenKeyExA(Root(hKey), lpSubKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      char name[256];
      DWORD chars = sizeof name;
      if (Below().RegEnumKeyExA(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr) ==
          ERROR_SUCCESS)
        Below().RegDeleteKeyA(key, name);
      Below().RegCloseKey(key);
    }
  }
  return ERROR_ACCESS_DENIED;
}

LONG InterposedRegCloseKey(HKEY hKey) {
  const bool faulted = Next("RegCloseKey").has_value();
  Current->keys.erase(hKey);
  const LONG status = Below().RegCloseKey(hKey);
  return faulted ? ERROR_INVALID_HANDLE : status;
}

// ------------------------------------------------------------ directories

UINT Directory(const std::optional<std::string> &answer, UINT (*below)(LPSTR, UINT), LPSTR lpBuffer,
               UINT uSize) {
  if (!answer) return below(lpBuffer, uSize);
  if (answer->empty()) return 0;
  const UINT length = static_cast<UINT>(answer->size());
  if (uSize < length + 1) return length + 1;
  std::memcpy(lpBuffer, answer->c_str(), length + 1);
  return length + Current->miscount;
}

UINT InterposedGetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  if (Next("GetWindowsDirectoryA")) return 0;
  return Directory(Current->windows, Below().GetWindowsDirectoryA, lpBuffer, uSize);
}

UINT InterposedGetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  if (Next("GetSystemDirectoryA")) return 0;
  return Directory(Current->system, Below().GetSystemDirectoryA, lpBuffer, uSize);
}

// ------------------------------------------------------------------ files

BOOL InterposedDeleteFileA(LPCSTR lpFileName) {
  CheckFile("DeleteFileA", lpFileName);
  if (Next("DeleteFileA")) return FALSE;
  return Below().DeleteFileA(lpFileName);
}

// Half of the source's bytes written over the target, through the
// implementation's own calls.
void CopyHalf(LPCSTR from, LPCSTR to) {
  HANDLE in = Below().CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) return;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (Below().ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  Below().CloseHandle(in);
  HANDLE out = Below().CreateFileA(to, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  Below().WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size() / 2), &written, nullptr);
  Below().CloseHandle(out);
}

BOOL InterposedCopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  CheckFile("CopyFileA", lpExistingFileName);
  CheckFile("CopyFileA", lpNewFileName);
  const auto effect = Next("CopyFileA");
  if (!effect) return Below().CopyFileA(lpExistingFileName, lpNewFileName, bFailIfExists);
  if (effect == Effect::Halfway) CopyHalf(lpExistingFileName, lpNewFileName);
  return FALSE;
}

HANDLE InterposedCreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                             LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                             DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                             HANDLE hTemplateFile) {
  CheckFile("CreateFileA", lpFileName);
  const auto effect = Next("CreateFileA");
  if (effect == Effect::Fail) return INVALID_HANDLE_VALUE;
  HANDLE file = Below().CreateFileA(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                                    dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
  if (effect == Effect::Halfway) {
    // Created or emptied, then the open fails.
    if (file != INVALID_HANDLE_VALUE) Below().CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  if (file != INVALID_HANDLE_VALUE) Current->files.insert(file);
  return file;
}

BOOL InterposedReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                        LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  const auto effect = Next("ReadFile");
  if (effect == Effect::Fail) {
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
    return FALSE;
  }
  const DWORD limit = Current->readLimit;
  const DWORD asked = limit != 0 && nNumberOfBytesToRead > limit ? limit : nNumberOfBytesToRead;
  if (!effect) return Below().ReadFile(hFile, lpBuffer, asked, lpNumberOfBytesRead, lpOverlapped);
  Below().ReadFile(hFile, lpBuffer, asked / 2, lpNumberOfBytesRead, lpOverlapped);
  return FALSE;
}

BOOL InterposedWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                         LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  const auto effect = Next("WriteFile");
  if (effect == Effect::Fail) {
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
    return FALSE;
  }
  // Halfway: a short write that reports success, as a full disk can.
  const DWORD asked = effect ? nNumberOfBytesToWrite / 2 : nNumberOfBytesToWrite;
  return Below().WriteFile(hFile, lpBuffer, asked, lpNumberOfBytesWritten, lpOverlapped);
}

BOOL InterposedCloseHandle(HANDLE hObject) {
  const bool faulted = Next("CloseHandle").has_value();
  Current->files.erase(hObject);
  const BOOL result = Below().CloseHandle(hObject);
  return faulted ? FALSE : result;
}

int InterposedMessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  if (Next("MessageBoxA")) return 0;  // it could not be shown
  State &s = *Current;
  Box box{lpCaption ? lpCaption : "", lpText ? lpText : "", uType, 0};
  // A copy: the hook may replace itself while it runs.
  if (auto hook = s.onBox) hook(box);
  if (!s.answerBoxes) {
    box.result = Below().MessageBoxA(hWnd, lpText, lpCaption, uType);
  } else if (s.nextAnswer < s.answers.size()) {
    box.result = s.answers[s.nextAnswer++];
  } else {
    box.result = session::GoOnResult(uType);
  }
  s.boxes.push_back(box);
  return box.result;
}

#define TQ72_INTERPOSED_ENTRY(name) .name = &Interposed##name,
constexpr CallTable InterposedCalls{TQ72_PLATFORM_CALLS(TQ72_INTERPOSED_ENTRY)};
#undef TQ72_INTERPOSED_ENTRY

}  // namespace

bool HasEffect(Effect effect, const std::string &call) {
  static const char *const halfway[] = {"RegEnumKeyExA", "RegQueryValueExA", "RegDeleteKeyA",
                                        "CreateFileA",   "ReadFile",         "WriteFile",
                                        "CopyFileA"};
  switch (effect) {
    case Effect::Fail:
      return true;
    case Effect::Halfway:
      return std::find(std::begin(halfway), std::end(halfway), call) != std::end(halfway);
    case Effect::Unterminated:
      return call == "RegQueryValueExA";
  }
  return false;
}

Interposer::Interposer() {
  Current = new State;
  Current->layer.Install(InterposedCalls);
}

Interposer::~Interposer() {
  Current->layer.Remove();
  delete Current;
  Current = nullptr;
}

void Interposer::SetPlan(const Plan &plan) {
  Current->plan = plan;
  Current->calls.clear();
  Current->injected = 0;
}

void Interposer::SplitReads(DWORD bytes) { Current->readLimit = bytes; }
void Interposer::Miscount(UINT extra) { Current->miscount = extra; }

void Interposer::SetLocalMachine(HKEY key) { Current->localMachine = key; }

void Interposer::SetDirectories(std::string windows, std::string system) {
  Current->windows = std::move(windows);
  Current->system = std::move(system);
}

void Interposer::AnswerBoxes(std::vector<int> results) {
  Current->answerBoxes = true;
  Current->answers = std::move(results);
  Current->nextAnswer = 0;
}

void Interposer::OnBox(std::function<void(const Box &)> hook) { Current->onBox = std::move(hook); }

unsigned Interposer::CallCount() const { return static_cast<unsigned>(Current->calls.size()); }
const std::vector<std::string> &Interposer::CallNames() const { return Current->calls; }
unsigned Interposer::Injected() const { return Current->injected; }
const std::vector<Box> &Interposer::Boxes() const { return Current->boxes; }
std::size_t Interposer::OpenKeys() const { return Current->keys.size(); }
std::size_t Interposer::OpenFiles() const { return Current->files.size(); }
const std::vector<std::string> &Interposer::MalformedPaths() const { return Current->malformed; }
const std::vector<std::string> &Interposer::DeletedKeys() const { return Current->deleted; }

}  // namespace interposer
