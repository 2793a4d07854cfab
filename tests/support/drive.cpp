#include "support/drive.h"

namespace scratch {

std::string MsdosSys(std::string_view windowsDir) {
  const std::string dir(windowsDir);
  std::string text = "[Paths]\r\nWinDir=" + dir + "\r\nWinBootDir=" + dir +
                     "\r\nHostWinBootDrv=C\r\n\r\n[Options]\r\nBootMulti=1\r\nBootGUI=1\r\nDoubleBuffer=1\r\n"
                     "AutoScan=1\r\nWinVer=4.10.2222\r\n;\r\n"
                     ";The following lines are required for compatibility with other programs.\r\n"
                     ";Do not remove them (MSDOS.SYS needs to be >1024 bytes).\r\n";
  for (char letter = 'a'; letter <= 's'; ++letter) text += ";" + std::string(69, 'x') + letter + "\r\n";
  return text;
}

}  // namespace scratch
