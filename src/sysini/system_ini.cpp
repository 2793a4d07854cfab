#include "sysini/system_ini.h"

void RewriteSystemIni() {}
