// The Windows program's entry: a GUI-subsystem program with no window of its
// own, whose only interface is the message boxes. The start-up arguments
// (instance, command line, show state) are deliberately ignored.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "app/uninstall.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunUninstall(); }
