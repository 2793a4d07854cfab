#include "support/drive.h"

#include "hosted/creg.h"
#include "platform/platform.h"
#include "support/creg_file.h"
#include "support/modem_fixture.h"

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

std::string SystemDat() {
  scratch::CregWriter writer(scratch::GenuineSystemDat());
  for (const Key &key : ModemKeys()) {
    std::vector<hosted::creg::Value> values;
    for (const scratch::Value &value : key.values) {
      std::string data = value.bytes;
      if (value.type == platform::REG_SZ && !data.empty() && data.back() == '\0') data.pop_back();
      values.push_back({value.type, value.name, data});
    }
    writer.AddKey(key.path, values);
  }
  return writer.Bytes();
}

std::vector<File> DriveFiles() {
  std::vector<File> files{{"MSDOS.SYS", MsdosSys("C:\\WIN98")}};
  for (const File &file : ModemFiles()) {
    std::string path = "WIN98/" + file.path;
    for (char &c : path) c = c == '\\' ? '/' : hosted::creg::Upper(c);
    files.push_back({path, file.bytes});
  }
  return files;
}

}  // namespace scratch
