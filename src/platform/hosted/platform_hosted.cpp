// The platform calls of platform.h on the hosted machine, reached through
// the call table of call_table.h. Each call does its work and writes its line
// to the call log; faults are a test layer's business, above the table.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/call_table.h"
#include "platform/hosted/hosted_state.h"
#include "platform/hosted/message_box.h"

namespace platform::native {

using hosted::LogLine;
using hosted::State;

namespace {

// The full path a registry call addresses, for the log.
std::string KeyPath(HKEY key, const char *subKey) {
  std::string path = State().registry->PathOf(key);
  if (subKey != nullptr && *subKey != '\0') {
    if (!path.empty()) path += '\\';
    path += subKey;
  }
  return path;
}

LogLine Line(const char *call) { return LogLine(++State().calls, call); }

long long HandleNumber(HANDLE file) {
  return file == INVALID_HANDLE_VALUE
             ? -1
             : static_cast<long long>(reinterpret_cast<std::uintptr_t>(file));
}

UINT DirectoryQuery(const char *call, const std::string &answer, LPSTR buffer, UINT size) {
  UINT result = 0;
  if (!answer.empty()) {
    const UINT length = static_cast<UINT>(answer.size());
    if (size < length + 1) {
      result = length + 1;
    } else if (buffer != nullptr) {
      std::memcpy(buffer, answer.c_str(), length + 1);
      result = length;
    }
  }
  State().log.Write(
      Line(call).Number("size", size).Text("directory", answer).Number("result", result));
  return result;
}

// Writes the log line of a read or write that gave result.
BOOL LoggedTransfer(const char *call, HANDLE file, DWORD asked, const DWORD *done, BOOL result) {
  State().log.Write(Line(call)
                        .Text("path", State().files.PathOf(file))
                        .Number("handle", HandleNumber(file))
                        .Number("asked", asked)
                        .Number("done", done != nullptr ? *done : 0)
                        .Number("result", result));
  return result;
}

// The answer to a box that is up: the next scripted one, else the terminal.
int Answer(const std::string &caption, const std::string &text, UINT style) {
  hosted::HostedState &s = State();
  if (s.nextAnswer < s.options.answers.size())
    return hosted::ResultOf(s.options.answers[s.nextAnswer++], style);
  if (s.options.terminal && ::isatty(STDIN_FILENO))
    return hosted::AskOnTerminal(caption, text, style, stdin,
                                 ::isatty(STDOUT_FILENO) ? stdout : stderr);
  return 0;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  const std::string key = KeyPath(hKey, lpSubKey);
  const LONG status = State().registry->OpenKey(hKey, lpSubKey, phkResult);
  State().log.Write(
      Line("RegOpenKeyExA").Text("key", key).Number("access", samDesired).Number("result", status));
  return status;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR,
                   LPDWORD, PFILETIME) {
  const std::string key = KeyPath(hKey, nullptr);
  const LONG status = State().registry->EnumKey(hKey, dwIndex, lpName, lpcchName);
  LogLine line = Line("RegEnumKeyExA").Text("key", key).Number("index", dwIndex);
  if (status == ERROR_SUCCESS) line.Text("name", lpName);
  State().log.Write(line.Number("result", status));
  return status;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  const std::string key = KeyPath(hKey, nullptr);
  const LONG status = State().registry->QueryValue(hKey, lpValueName, lpType, lpData, lpcbData);
  LogLine line = Line("RegQueryValueExA").Text("key", key).Text("value", lpValueName);
  if (status == ERROR_SUCCESS && lpcbData != nullptr) line.Number("bytes", *lpcbData);
  State().log.Write(line.Number("result", status));
  return status;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  const std::string key = KeyPath(hKey, lpSubKey);
  const LONG status = State().registry->DeleteKey(hKey, lpSubKey);
  State().log.Write(Line("RegDeleteKeyA").Text("key", key).Number("result", status));
  return status;
}

LONG RegCloseKey(HKEY hKey) {
  const std::string key = KeyPath(hKey, nullptr);
  const LONG status = State().registry->CloseKey(hKey);
  State().log.Write(Line("RegCloseKey").Text("key", key).Number("result", status));
  return status;
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return DirectoryQuery("GetWindowsDirectoryA", hosted::DefaultWindowsDir, lpBuffer, uSize);
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return DirectoryQuery("GetSystemDirectoryA", hosted::DefaultSystemDir, lpBuffer, uSize);
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  const BOOL result = State().files.Delete(lpFileName);
  State().log.Write(Line("DeleteFileA").Text("path", lpFileName).Number("result", result));
  return result;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  const BOOL result = State().files.Copy(lpExistingFileName, lpNewFileName, bFailIfExists != 0);
  State().log.Write(Line("CopyFileA")
                        .Text("from", lpExistingFileName)
                        .Text("to", lpNewFileName)
                        .Flag("failIfExists", bFailIfExists != 0)
                        .Number("result", result));
  return result;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
  const HANDLE file = State().files.Create(lpFileName, dwDesiredAccess, dwCreationDisposition);
  State().log.Write(Line("CreateFileA")
                        .Text("path", lpFileName)
                        .Number("access", dwDesiredAccess)
                        .Number("disposition", dwCreationDisposition)
                        .Number("result", HandleNumber(file)));
  return file;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
  return LoggedTransfer(
      "ReadFile", hFile, nNumberOfBytesToRead, lpNumberOfBytesRead,
      State().files.Read(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead));
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
  return LoggedTransfer(
      "WriteFile", hFile, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
      State().files.Write(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten));
}

BOOL CloseHandle(HANDLE hObject) {
  const std::string path = State().files.PathOf(hObject);
  const BOOL result = State().files.CloseHandle(hObject);
  State().log.Write(Line("CloseHandle")
                        .Text("path", path)
                        .Number("handle", HandleNumber(hObject))
                        .Number("result", result));
  return result;
}

int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  // Windows titles a box without a caption "Error".
  const std::string caption = lpCaption ? lpCaption : "Error", text = lpText ? lpText : "";
  const int result = Answer(caption, text, uType);
  State().log.Write(Line("MessageBoxA")
                        .Text("caption", caption)
                        .Text("text", text)
                        .Number("style", uType)
                        .Number("result", result));
  return result;
}

}  // namespace platform::native
