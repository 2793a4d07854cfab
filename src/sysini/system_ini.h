// The rewrite of system.ini without the pieces that load the modem's driver.
#pragma once

void RewriteSystemIni();
