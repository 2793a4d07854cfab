#include "app/uninstall.h"

#include "files/file_removal.h"
#include "platform/platform.h"
#include "registry/fixed_keys.h"
#include "registry/model_keys.h"
#include "registry/pci_device.h"
#include "sysini/system_ini.h"
#include "texts/texts.h"

void ResetRunState() {
  ResetPciDeviceState();
  ResetModelKeyState();
}

int RunUninstall() {
  ResetRunState();

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
