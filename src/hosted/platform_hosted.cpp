// The hosted platform: the one machine of the process, hosted.h's control of
// it, and the platform calls on it, reached through the call table (the log,
// the answers and faults are layers above the table).
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hosted/hosted.h"
#include "hosted/registry.h"
#include "hosted/text_helpers.h"
#include "hosted/windows_files.h"
#include "platform/box_rules.h"
#include "platform/call_table.h"

namespace hosted {

namespace {

WindowsFiles files;  // the machine folder, locked from Start to Stop
Registry registry;

}  // namespace

bool Start(const std::string &machine, std::string *error) {
  if (!files.Open(machine, error)) return false;
  if (!registry.Open(files.DirFd(), error, files.WindowsDir())) {
    // The reason names a file of the folder: which folder, among several?
    *error = "machine folder " + Quoted(machine) + ": " + *error;
    files.Close();
    return false;
  }
  // Known abandoned under the lock, and removed once the start is sure.
  files.RemoveLeftovers();
  return true;
}

bool Stop(std::string *error) {
  const bool ok = registry.Fold(error);
  files.Close();
  return ok;
}

std::string UnsavedNotice() { return registry.UnsavedNotice(); }

using namespace platform;

// ------------------------------------------------------- the terminal box

namespace {

// The widest text a box holds, as a dialog box keeps its lines short
// whatever the screen.
constexpr std::size_t WidestText = 70;
// A row is the text and 6 columns of frame: "|  " ... " |" and the padding.
constexpr std::size_t FrameColumns = 6;

char Shown(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f ? '?' : c;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += Shown(text[i]);
    }
  }
  return lines;
}

// The lines of the text as the box shows them, none wider than width: each
// line of the text wrapped at its blanks (those at a wrap go), a word broken
// only when it is longer than a whole line.
std::vector<std::string> Wrapped(std::string_view text, std::size_t width) {
  std::vector<std::string> rows;
  for (const std::string &line : Lines(text)) {
    std::string row;
    for (std::size_t at = 0; at < line.size();) {
      const std::size_t start = line.find_first_not_of(' ', at);
      if (start == std::string::npos) break;  // blanks at the end show nothing
      const std::size_t end = std::min(line.find(' ', start), line.size());
      std::string_view word = std::string_view(line).substr(start, end - start);
      if (row.size() + (start - at) + word.size() <= width) {
        row.append(line, at, end - at);  // with the blanks before it
      } else {
        if (!row.empty()) rows.push_back(std::move(row));
        for (; word.size() > width; word.remove_prefix(width))
          rows.emplace_back(word.substr(0, width));
        row = word;
      }
      at = end;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string Button(std::string_view name, bool isDefault) {
  return std::string(isDefault ? "< " : "[ ") + std::string(name) + (isDefault ? " >" : " ]");
}

int ChoiceOf(std::string line, unsigned style) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.empty()) return DefaultButton(style);
  auto is = [&](std::string_view word) {
    return NamesEqual(line, word) || NamesEqual(line, word.substr(0, 1));
  };
  if (!IsYesNo(style)) return is("ok") ? IDOK : 0;
  return is("yes") ? IDYES : is("no") ? IDNO : 0;
}

}  // namespace

unsigned TerminalColumns(std::FILE *out) {
  winsize size{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char *columns = std::getenv("COLUMNS")) {
    char *end = nullptr;
    const unsigned long value = std::strtoul(columns, &end, 10);
    if (end != columns && *end == '\0' && value > 0 && value < 10000)
      return static_cast<unsigned>(value);
  }
  return 80;
}

std::string DrawBox(std::string_view caption, std::string_view text, unsigned style,
                    unsigned columns) {
  // Room for the buttons and a short caption even on a very narrow terminal.
  const std::size_t textWidth =
      std::min(WidestText, std::max<std::size_t>(columns, 16 + FrameColumns) - FrameColumns);
  const int def = DefaultButton(style);
  const std::string buttons = IsYesNo(style)
                                  ? Button("Yes", def == IDYES) + "  " + Button("No", def == IDNO)
                                  : Button("OK", true);
  const std::vector<std::string> lines = Wrapped(text, textWidth);
  std::string title(caption.substr(0, textWidth - 2));
  std::transform(title.begin(), title.end(), title.begin(), Shown);
  std::size_t width = std::max<std::size_t>(buttons.size(), title.size() + 2);
  for (const auto &line : lines) width = std::max(width, line.size());
  width += 4;
  // Built with append: GCC 12 reports a false -Wrestrict on chains of
  // string concatenation at -O3.
  std::string box;
  auto row = [&](const std::string &inner, std::size_t indent) {
    box.append("|").append(indent, ' ').append(inner);
    box.append(width - indent - inner.size(), ' ').append("|\n");
  };
  box.append("+- ").append(title).append(" ").append(width - title.size() - 3, '-').append("+\n");
  row("", 0);
  for (const auto &line : lines) row(line, 2);
  row("", 0);
  row(buttons, (width - buttons.size()) / 2);
  box.append("+").append(width, '-').append("+\n");
  return box;
}

int AskOnTerminal(std::string_view caption, std::string_view text, unsigned style, std::FILE *in,
                  std::FILE *out) {
  if (!IsShowableStyle(style)) return 0;
  std::fputs(DrawBox(caption, text, style, TerminalColumns(out)).c_str(), out);
  const char *prompt = !IsYesNo(style)                ? "OK? [o, Enter = OK]: "
                       : DefaultButton(style) == IDNO ? "Yes or No? [y/n, Enter = No]: "
                                                      : "Yes or No? [y/n, Enter = Yes]: ";
  for (;;) {
    std::fputs(prompt, out);
    std::fflush(out);
    std::string line;
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) {
      std::fputs("\n", out);
      return 0;
    }
    if (int choice = ChoiceOf(line, style)) return choice;
  }
}

}  // namespace hosted

namespace platform::native {

namespace {

UINT DirectoryQuery(const std::string &answer, LPSTR buffer, UINT size) {
  const UINT length = static_cast<UINT>(answer.size());
  if (size < length + 1) return length + 1;
  if (buffer == nullptr) return 0;
  std::memcpy(buffer, answer.c_str(), length + 1);
  return length;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  return hosted::registry.OpenKey(hKey, lpSubKey, phkResult);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR,
                   LPDWORD, PFILETIME) {
  return hosted::registry.EnumKey(hKey, dwIndex, lpName, lpcchName);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  return hosted::registry.QueryValue(hKey, lpValueName, lpType, lpData, lpcbData);
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return hosted::registry.DeleteKey(hKey, lpSubKey);
}

LONG RegCloseKey(HKEY hKey) { return hosted::registry.CloseKey(hKey); }

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return DirectoryQuery(hosted::files.WindowsDir(), lpBuffer, uSize);
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return DirectoryQuery(hosted::files.WindowsDir() + "\\SYSTEM", lpBuffer, uSize);
}

BOOL DeleteFileA(LPCSTR lpFileName) { return hosted::files.Delete(lpFileName); }

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  return hosted::files.Copy(lpExistingFileName, lpNewFileName, bFailIfExists != 0);
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
  return hosted::files.Create(lpFileName, dwDesiredAccess, dwCreationDisposition);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
  return hosted::files.Read(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
  return hosted::files.Write(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
}

BOOL CloseHandle(HANDLE hObject) { return hosted::files.CloseHandle(hObject); }

// A box is asked on the terminal when standard input is one; otherwise it
// cannot be shown (0), and the person reading standard error is told why.
int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  const char *caption = ShownCaption(lpCaption);
  const char *text = lpText != nullptr ? lpText : "";
  if (::isatty(STDIN_FILENO))
    return hosted::AskOnTerminal(caption, text, uType, stdin,
                                 ::isatty(STDOUT_FILENO) ? stdout : stderr);
  std::fprintf(stderr, "tq72uninst: no terminal to show the box %s on: it counts as not shown\n",
               hosted::Quoted(caption).c_str());
  return 0;
}

}  // namespace platform::native
