#include "session/session.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/box_rules.h"
#include "platform/call_table.h"

namespace session {

using namespace platform;

namespace {

// ---------------------------------------------------------------- the log

// A log line is built here and handed on at its end, or in pieces when it
// outgrows the buffer (a long box text), so that no text is ever cut.
class LineWriter {
 public:
  // One line: {"n":number,"call":"call", then a field for each name=type
  // of fields (separated by blanks), its value the next argument:
  //   s  text (const char *; null as null)
  //   u  unsigned int    d  int    b  int, as false or true
  //   h  a file handle (HANDLE): its number, -1 for INVALID_HANDLE_VALUE
  // One formatter for every call keeps the program small.
  void Write(LogWriter writer, bool crlf, unsigned number, const char *call, const char *fields,
             va_list arguments) {
    writer_ = writer;
    length_ = 0;
    Raw("{\"n\":");
    Decimal(number);
    Raw(",\"call\":");
    Quoted(call);
    while (*fields != '\0') {
      Put(',');
      Put('"');
      for (; *fields != '='; ++fields) Put(*fields);
      Raw("\":");
      const char type = *++fields;
      for (++fields; *fields == ' '; ++fields) {
      }
      if (type == 's') {
        const char *text = va_arg(arguments, const char *);
        if (text != nullptr) {
          Quoted(text);
        } else {
          Raw("null");
        }
      } else if (type == 'u') {
        Decimal(va_arg(arguments, unsigned));
      } else if (type == 'd') {
        const int value = va_arg(arguments, int);
        if (value < 0) Put('-');
        Decimal(value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value));
      } else if (type == 'b') {
        Raw(va_arg(arguments, int) != 0 ? "true" : "false");
      } else {
        const HANDLE file = va_arg(arguments, HANDLE);
        if (file == INVALID_HANDLE_VALUE) {
          Raw("-1");
        } else {
          Decimal(reinterpret_cast<std::uintptr_t>(file));
        }
      }
    }
    Raw(crlf ? "}\r\n" : "}\n");
    Flush();
  }

 private:
  void Put(char c) {
    if (length_ == sizeof buffer_) Flush();
    buffer_[length_++] = c;
  }
  void Raw(const char *text) {
    while (*text != '\0') Put(*text++);
  }
  void Flush() {
    if (length_ != 0) writer_(buffer_, length_);
    length_ = 0;
  }
  // Pointer-sized, so that the 32-bit program needs no 64-bit division.
  void Decimal(std::uintptr_t value) {
    char digits[24];
    unsigned count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) Put(digits[--count]);
  }
  void Escaped(const char *text) {
    static constexpr char Hex[] = "0123456789abcdef";
    for (; *text != '\0'; ++text) {
      const auto byte = static_cast<unsigned char>(*text);
      if (byte == '"' || byte == '\\') {
        Put('\\');
        Put(*text);
      } else if (byte == '\n' || byte == '\r' || byte == '\t') {
        Put('\\');
        Put(byte == '\n' ? 'n' : byte == '\r' ? 'r' : 't');
      } else if (byte < 0x20 || byte >= 0x7f) {
        // JSON is Unicode: a byte of the ANSI code page is written as its
        // Latin-1 code point, so that every line is plain ASCII.
        Raw("\\u00");
        Put(Hex[byte >> 4]);
        Put(Hex[byte & 15]);
      } else {
        Put(*text);
      }
    }
  }
  void Quoted(const char *text) {
    Put('"');
    Escaped(text);
    Put('"');
  }

  LogWriter writer_ = nullptr;
  unsigned length_ = 0;
  char buffer_[1024] = {};
};

// ------------------------------------------------------ paths of handles

struct OpenPath {
  const void *handle = nullptr;
  char path[PathCapacity] = {};
};

struct OpenPaths {
  OpenPath entries[OpenPathCapacity];

  const char *Find(const void *handle) const {
    for (const OpenPath &entry : entries) {
      if (handle != nullptr && entry.handle == handle) return entry.path;
    }
    return "";
  }
  // Keeps path for handle; a path that does not fit is kept as "".
  void Remember(const void *handle, const char *path) {
    Forget(handle);
    for (OpenPath &entry : entries) {
      if (entry.handle != nullptr) continue;
      entry.handle = handle;
      const std::size_t length = std::strlen(path);
      if (length < PathCapacity) {
        std::memcpy(entry.path, path, length + 1);
      } else {
        entry.path[0] = '\0';
      }
      return;
    }
  }
  void Clear() {
    for (OpenPath &entry : entries) entry.handle = nullptr;
  }
  void Forget(const void *handle) {
    for (OpenPath &entry : entries) {
      if (handle != nullptr && entry.handle == handle) entry.handle = nullptr;
    }
  }
};

// ------------------------------------------------------------- the state

struct State {
  Settings settings;
  unsigned nextAnswer = 0;
  unsigned calls = 0;
  Layer layer;
  LineWriter line;
  OpenPaths keys;
  OpenPaths files;
  char joined[PathCapacity] = {};  // SubkeyPath's
};

constinit State Current;

// Every key the logic opens is below HKEY_LOCAL_MACHINE.
const char *KeyPath(HKEY key) {
  return key == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : Current.keys.Find(key);
}

// The full path of subKey below key, joined once for both the call's log
// line and the handle an open makes: "key\subKey", or whichever is not
// empty; "" when it does not fit.
const char *SubkeyPath(HKEY key, const char *subKey) {
  const char *path = KeyPath(key);
  const std::size_t a = std::strlen(path);
  const std::size_t b = subKey != nullptr ? std::strlen(subKey) : 0;
  const std::size_t slash = a != 0 && b != 0 ? 1 : 0;
  char *joined = Current.joined;
  joined[0] = '\0';
  if (a + slash + b >= PathCapacity) return joined;
  std::memcpy(joined, path, a);
  if (slash != 0) joined[a] = '\\';
  std::memcpy(joined + a + slash, b != 0 ? subKey : "", b + 1);
  return joined;
}

// Counts the call and writes its line, when there is a log.
void LogLine(const char *call, const char *fields, ...) {
  ++Current.calls;
  if (Current.settings.log == nullptr) return;
  va_list arguments;
  va_start(arguments, fields);
  Current.line.Write(Current.settings.log, Current.settings.crlf, Current.calls, call, fields,
                     arguments);
  va_end(arguments);
}

// The field language, checked against the arguments at compile time:
// LineWriter reads each with va_arg as its field's type says, so an argument
// of another type would be read as something it is not. The type each
// argument is read as; '?' for a type no field takes.
template <typename T>
constexpr char FieldType() {
  if constexpr (std::is_same_v<T, const char *> || std::is_same_v<T, char *>) return 's';
  if constexpr (std::is_same_v<T, unsigned>) return 'u';
  if constexpr (std::is_same_v<T, int>) return 'd';  // and 'b'
  if constexpr (std::is_same_v<T, HANDLE>) return 'h';
  return '?';
}

// True when each name=type of fields takes the next of Args, in order, and
// every one of them is taken.
template <typename... Args>
constexpr bool FieldsMatch(const char *fields) {
  const char types[] = {FieldType<Args>()..., '\0'};
  unsigned next = 0;
  while (*fields != '\0') {
    if (*fields == '=' || *fields == ' ') return false;  // a field without a name
    while (*fields != '=') {
      if (*fields == '\0' || *fields == ' ') return false;
      ++fields;
    }
    const char type = *++fields == 'b' ? 'd' : *fields;
    if (type == '\0' || type == '?' || next == sizeof...(Args) || types[next++] != type)
      return false;
    ++fields;
    if (*fields != '\0' && *fields != ' ') return false;
    while (*fields == ' ') ++fields;
  }
  return next == sizeof...(Args);
}

static_assert(FieldsMatch<const char *, unsigned, int, HANDLE>("path=s asked=u ok=b handle=h"));
static_assert(!FieldsMatch<const char *, int>("key=s access=u"), "a type of another field");
static_assert(!FieldsMatch<const char *, long>("key=s result=d"), "a type of no field");
static_assert(!FieldsMatch<const char *>("key=s result=d"), "an argument short");
static_assert(!FieldsMatch<const char *, int>("key=s"), "an argument over");
static_assert(!FieldsMatch<const char *>("key=sx"), "an unknown type");

// Not constexpr: reached only while a Fields is made at compile time from
// fields that do not match, where calling it is the error.
void FieldsDoNotMatchTheArguments() {}

template <typename... Args>
struct Fields {
  consteval Fields(const char *text) : text(text) {
    if (!FieldsMatch<Args...>(text)) FieldsDoNotMatchTheArguments();
  }
  const char *text;
};

// LogLine with its fields checked against its arguments; inlined, so the
// program holds the same calls as without the check.
template <typename... Args>
[[gnu::always_inline]] inline void Log(const char *call,
                                       Fields<std::type_identity_t<Args>...> fields,
                                       Args... arguments) {
  LogLine(call, fields.text, arguments...);
}

// ---------------------------------------------------------------- calls

LONG SessionRegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
  const LONG status =
      Current.layer.Below().RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
  const char *path = SubkeyPath(hKey, lpSubKey);
  if (status == ERROR_SUCCESS) Current.keys.Remember(*phkResult, path);
  Log("RegOpenKeyExA", "key=s access=u result=d", path, samDesired, status);
  return status;
}

LONG SessionRegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
  const LONG status = Current.layer.Below().RegEnumKeyExA(
      hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
  if (status == ERROR_SUCCESS) {
    Log("RegEnumKeyExA", "key=s index=u name=s result=d", KeyPath(hKey), dwIndex, lpName, status);
  } else {
    Log("RegEnumKeyExA", "key=s index=u result=d", KeyPath(hKey), dwIndex, status);
  }
  return status;
}

LONG SessionRegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
  const LONG status = Current.layer.Below().RegQueryValueExA(hKey, lpValueName, lpReserved, lpType,
                                                             lpData, lpcbData);
  if (status == ERROR_SUCCESS && lpcbData != nullptr) {
    Log("RegQueryValueExA", "key=s value=s bytes=u result=d", KeyPath(hKey), lpValueName, *lpcbData,
        status);
  } else {
    Log("RegQueryValueExA", "key=s value=s result=d", KeyPath(hKey), lpValueName, status);
  }
  return status;
}

LONG SessionRegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  const LONG status = Current.layer.Below().RegDeleteKeyA(hKey, lpSubKey);
  Log("RegDeleteKeyA", "key=s result=d", SubkeyPath(hKey, lpSubKey), status);
  return status;
}

LONG SessionRegCloseKey(HKEY hKey) {
  const LONG status = Current.layer.Below().RegCloseKey(hKey);
  Log("RegCloseKey", "key=s result=d", KeyPath(hKey), status);
  Current.keys.Forget(hKey);  // a close releases the handle whatever it returns
  return status;
}

UINT LoggedDirectory(const char *call, LPSTR lpBuffer, UINT uSize, UINT result) {
  // What the caller got: the path only when it fitted.
  Log(call, "size=u directory=s result=u", uSize,
      result != 0 && result < uSize && lpBuffer != nullptr ? lpBuffer : "", result);
  return result;
}

UINT SessionGetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return LoggedDirectory("GetWindowsDirectoryA", lpBuffer, uSize,
                         Current.layer.Below().GetWindowsDirectoryA(lpBuffer, uSize));
}

UINT SessionGetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return LoggedDirectory("GetSystemDirectoryA", lpBuffer, uSize,
                         Current.layer.Below().GetSystemDirectoryA(lpBuffer, uSize));
}

BOOL SessionDeleteFileA(LPCSTR lpFileName) {
  const BOOL result = Current.layer.Below().DeleteFileA(lpFileName);
  Log("DeleteFileA", "path=s result=d", lpFileName, result);
  return result;
}

BOOL SessionCopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  const BOOL result =
      Current.layer.Below().CopyFileA(lpExistingFileName, lpNewFileName, bFailIfExists);
  Log("CopyFileA", "from=s to=s failIfExists=b result=d", lpExistingFileName, lpNewFileName,
      bFailIfExists, result);
  return result;
}

HANDLE SessionCreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  const HANDLE file = Current.layer.Below().CreateFileA(lpFileName, dwDesiredAccess, dwShareMode,
                                                        lpSecurityAttributes, dwCreationDisposition,
                                                        dwFlagsAndAttributes, hTemplateFile);
  if (file != INVALID_HANDLE_VALUE && lpFileName != nullptr)
    Current.files.Remember(file, lpFileName);
  Log("CreateFileA", "path=s access=u disposition=u result=h", lpFileName, dwDesiredAccess,
      dwCreationDisposition, file);
  return file;
}

BOOL LoggedTransfer(const char *call, HANDLE file, DWORD asked, const DWORD *done, BOOL result) {
  Log(call, "path=s handle=h asked=u done=u result=d", Current.files.Find(file), file, asked,
      done != nullptr ? *done : 0, result);
  return result;
}

BOOL SessionReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  return LoggedTransfer("ReadFile", hFile, nNumberOfBytesToRead, lpNumberOfBytesRead,
                        Current.layer.Below().ReadFile(hFile, lpBuffer, nNumberOfBytesToRead,
                                                       lpNumberOfBytesRead, lpOverlapped));
}

BOOL SessionWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  return LoggedTransfer("WriteFile", hFile, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                        Current.layer.Below().WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite,
                                                        lpNumberOfBytesWritten, lpOverlapped));
}

BOOL SessionCloseHandle(HANDLE hObject) {
  const BOOL result = Current.layer.Below().CloseHandle(hObject);
  Log("CloseHandle", "path=s handle=h result=d", Current.files.Find(hObject), hObject, result);
  Current.files.Forget(hObject);
  return result;
}

int SessionMessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  int result;
  if (Current.nextAnswer < Current.settings.answerCount) {
    result = ResultOf(Current.settings.answers[Current.nextAnswer++], uType);
  } else if (Current.settings.goOn) {
    result = GoOnResult(uType);
  } else {
    result = Current.layer.Below().MessageBoxA(hWnd, lpText, lpCaption, uType);
  }
  Log("MessageBoxA", "caption=s text=s style=u result=d", ShownCaption(lpCaption),
      lpText != nullptr ? lpText : "", uType, result);
  return result;
}

#define TQ72_SESSION_ENTRY(name) .name = &Session##name,
constexpr CallTable SessionCalls{TQ72_PLATFORM_CALLS(TQ72_SESSION_ENTRY)};
#undef TQ72_SESSION_ENTRY

}  // namespace

int ResultOf(Answer answer, UINT style) {
  if (!IsShowableStyle(style) || answer == Answer::None) return 0;
  if (IsYesNo(style) && answer == Answer::Yes) return IDYES;
  if (IsYesNo(style) && answer == Answer::No) return IDNO;
  if (!IsYesNo(style) && answer == Answer::Ok) return IDOK;
  return DefaultButton(style);
}

int GoOnResult(UINT style) { return ResultOf(IsYesNo(style) ? Answer::Yes : Answer::Ok, style); }

void Begin(const Settings &settings) {
  Current.settings = settings;
  Current.nextAnswer = 0;
  Current.calls = 0;
  Current.keys.Clear();
  Current.files.Clear();
  Current.layer.Install(SessionCalls);
}

void End() { Current.layer.Remove(); }

}  // namespace session
