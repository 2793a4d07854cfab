#include "files/file_removal.h"

#include "paths/path_buffer.h"
#include "platform/platform.h"
#include "texts/texts.h"

using namespace platform;

void RemoveDriverFiles() {
  char systemDirectory[PathBufferSize];
  if (!QueryDirectory(GetSystemDirectoryA, systemDirectory)) return;

  // Every path is built before any file goes, so that a directory too long
  // for one name deletes none of the step's files rather than some.
  char paths[DriverFileCount][PathBufferSize];
  for (std::size_t i = 0; i < DriverFileCount; ++i) {
    if (!BuildPath(paths[i], systemDirectory, DriverFileTable[i])) return;
  }
  for (const char *path : paths) DeleteFileA(path);
}

void RemoveControlPanelApplet() {
  char windowsDirectory[PathBufferSize];
  char systemDirectory[PathBufferSize];
  if (!QueryDirectory(GetWindowsDirectoryA, windowsDirectory)) return;
  if (!QueryDirectory(GetSystemDirectoryA, systemDirectory)) return;
  char appletPath[PathBufferSize];
  char helpPath[PathBufferSize];
  if (!BuildPath(appletPath, systemDirectory, AppletName)) return;
  if (!BuildPath(helpPath, windowsDirectory, AppletHelpName)) return;

  // The Control Panel keeps the applet open while it runs; the user is asked
  // once to close it, then one more attempt is made whatever they did.
  if (!DeleteFileA(appletPath)) MessageBoxA(nullptr, AppletPrompt, ProductCaption, MB_OK);
  DeleteFileA(appletPath);
  DeleteFileA(helpPath);
}
