// A Windows 98 drive's own files, for the drive suite and the make_drive tool.
#pragma once

#include <string>
#include <string_view>

namespace scratch {

// MSDOS.SYS as Windows 98 Setup writes it for the Windows folder windowsDir
// ("C:\WIN98"): [Paths] and [Options], CR LF, and the lines of x that keep
// it above 1024 bytes.
std::string MsdosSys(std::string_view windowsDir);

}  // namespace scratch
