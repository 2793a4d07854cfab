// The run: one confirmation, the removal steps in their fixed order, the
// completion message.
#pragma once

// The program's entry into its own logic. Reads no arguments. Returns the
// exit status: 0 when the user did not say Yes (nothing touched), otherwise
// the result of the completion box (1 when acknowledged, 0 if it could not
// be shown).
int RunUninstall();
