#include "app/uninstall.h"

#include "app/product.h"
#include "files/file_removal.h"
#include "platform/platform.h"
#include "registry/model_keys.h"
#include "registry/pci_device.h"
#include "sysini/system_ini.h"

namespace {

const char ConfirmationText[] =
    "If you want to remove the Quorvane TQ72 Modem from your system, Click Yes.  "
    "If you are intending to Upgrade the TQ72 Modem with new software drivers, "
    "Click No and simply run Setup.exe from within the new installation kit.";

const char CompletionText[] =
    "Software uninstall is finished.  To complete uninstallation, you must remove "
    "the hardware from the computer. ";

}  // namespace

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
