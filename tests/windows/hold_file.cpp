// Holds a file open as the Control Panel holds its applet: without
// FILE_SHARE_DELETE, so that DeleteFileA fails on it for as long as this
// program runs. It prints "holding" once the file is open, and lets go when
// its standard input ends.
//
// usage: hold_file.exe PATH
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD count = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "holding\n", 8, &count, nullptr);
  char byte;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr) && count > 0) {
  }
  CloseHandle(file);
  return 0;
}
