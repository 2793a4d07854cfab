// Placeholder until the hosted command line lands.
#include "app/uninstall.h"
int main() { return RunUninstall(); }
