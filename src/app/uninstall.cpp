#include "app/uninstall.h"

#include "files/file_removal.h"
#include "platform/platform.h"
#include "registry/fixed_keys.h"
#include "registry/model_keys.h"
#include "registry/pci_device.h"
#include "sysini/system_ini.h"
#include "texts/texts.h"

int RunUninstall() {
  // The module-level buffers as a new process finds them, so that a process
  // (a test's) may run the uninstaller more than once.
  ResetPciDeviceState();
  ResetModelKeyState();

  // Only an explicit Yes goes on: a box that could not be shown (0) must not
  // remove the modem without the user's consent.
  int answer = platform::MessageBoxA(nullptr, ConfirmationText, ProductCaption,
                                     platform::MB_YESNO | platform::MB_DEFBUTTON2);
  if (answer != platform::IDYES) return 0;

  RemovePciDevice();
  RemovePciEnumKey();
  for (const char *model : ModelKeyTable) RemoveModelClassKey(model);
  for (const char *model : ModelKeyTable) RemoveModelEnumKey(model);
  RemoveWaveResourceKey();
  RemoveUninstallEntry();
  RemoveDriverFiles();
  RemoveControlPanelApplet();
  RewriteSystemIni();

  return platform::MessageBoxA(nullptr, CompletionText, ProductCaption, platform::MB_OK);
}
