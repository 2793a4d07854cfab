// The Windows program's switches, as GetCommandLineA gives the command line:
// what an administrator types must mean what README.TXT says, and anything
// else must leave the program as it is without switches.
#include <gtest/gtest.h>

#include <string>

#include "windows_program/switches.h"

namespace {

struct Case {
  std::string line;
  bool silent, usage, log;
  std::string logPath;
};

TEST(SwitchesTest, ReadsSlashOrDashInAnyCaseAndIgnoresTheRest) {
  const std::string longName = "C:\\" + std::string(platform::MAX_PATH, 'x');
  const std::string longest(platform::MAX_PATH - 1, 'y');  // with its terminator, MAX_PATH
  const Case cases[] = {
      {"tq72uninst.exe", false, false, false, ""},
      {"tq72uninst.exe /S", true, false, false, ""},
      {"\"C:\\Program Files\\Setup /S\\tq72uninst.exe\"", false, false, false, ""},
      {"\"C:\\Program Files\\tq72uninst.exe\"\t-s", true, false, false, ""},
      {"TQ72UN~1.EXE /s /LOG=\"C:\\My Logs\\tq72.log\"", true, false, true, "C:\\My Logs\\tq72.log"},
      {"tq72uninst.exe \"-log=C:\\a b\\x.log\" /?", false, true, true, "C:\\a b\\x.log"},
      {"tq72uninst.exe /log=first.log /LOG=second.log", false, false, true, "second.log"},
      {"tq72uninst.exe /Log", false, false, true, ""},
      {"tq72uninst.exe /LOG=" + longName, false, false, true, ""},
      {"tq72uninst.exe /LOG=" + longest, false, false, true, longest},
      {"tq72uninst.exe /LOG=" + longest + "y", false, false, true, ""},
      {"tq72uninst.exe /SILENT /Q /LOGFILE=a.log S LOG=b.log s? /", false, false, false, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    Switches switches;
    switches.silent = true;  // every field must be set afresh
    ParseSwitches(c.line.c_str(), &switches);
    EXPECT_EQ(switches.silent, c.silent);
    EXPECT_EQ(switches.usage, c.usage);
    EXPECT_EQ(switches.log, c.log);
    EXPECT_EQ(switches.logPath, c.logPath);
  }
}

// Every file the run deletes or rewrites, under any folder and case; names
// that only contain one are fine.
TEST(SwitchesTest, RefusesALogNamedAsAFileOfTheRun) {
  for (const char *name :
       {"quninst.exe", "C:\\WINDOWS\\SYSTEM\\QVNVCD.VXD", "D:\\logs\\tq72pci.vxd",
        "C:/x/Tq72Pci1.Vxd", "A:tqc.cpl", "tqc.hlp", "C:\\WINDOWS\\SYSTEM.INI", "system.new"})
    EXPECT_TRUE(IsRunFileName(name)) << name;
  for (const char *name : {"", "C:\\tq72.log", "C:\\WINDOWS\\system.ini.log", "C:\\WINDOWS\\",
                           "xsystem.ini", "Help", "C:\\WINDOWS\\Help\\tqc"})
    EXPECT_FALSE(IsRunFileName(name)) << name;
}

}  // namespace
