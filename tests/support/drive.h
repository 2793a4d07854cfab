// A Windows 98 drive's own files, for the drive suite and the make_drive tool.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support/scratch_machine.h"

namespace scratch {

// MSDOS.SYS as Windows 98 Setup writes it for the Windows folder windowsDir
// ("C:\WIN98"): [Paths] and [Options], CR LF, and the lines of x that keep
// it above 1024 bytes.
std::string MsdosSys(std::string_view windowsDir);

// The genuine SYSTEM.DAT with the modem fixture's keys added as Windows adds
// them (missing parents made, text stored without its terminator as Windows
// stores it).
std::string SystemDat();

// The files of such a drive with the modem installed, below its root (paths
// with '/'): MSDOS.SYS and the fixture's files below WIN98, in capitals as a
// mounted drive shows them; its registry is the caller's.
std::vector<File> DriveFiles();

}  // namespace scratch
