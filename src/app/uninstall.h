// The run: one confirmation, the removal steps in their fixed order, the
// completion message.
#pragma once

// The program's entry into its own logic. Reads no arguments. Returns the
// exit status: 0 when the user did not say Yes (nothing touched), otherwise
// the result of the completion box (1 when acknowledged, 0 if it could not
// be shown).
int RunUninstall();

// Puts the run's module-level buffers back to their start-up content, as a
// new process would find them. The entry calls it first, so that a test
// process can run the uninstaller more than once.
void ResetRunState();
