// Every text the user sees, and the caption of every box: in one place below
// the steps that show them, word for word as the boxes must read.
#pragma once

inline constexpr char ProductCaption[] = "Quorvane TQ72 Modem";

// Two blanks after "Click Yes.", one everywhere else.
inline constexpr char ConfirmationText[] =
    "If you want to remove the Quorvane TQ72 Modem from your system, Click Yes.  "
    "If you are intending to Upgrade the TQ72 Modem with new software drivers, "
    "Click No and simply run Setup.exe from within the new installation kit.";

// Two blanks after "finished." and one at the very end.
inline constexpr char CompletionText[] =
    "Software uninstall is finished.  To complete uninstallation, you must remove "
    "the hardware from the computer. ";

inline constexpr char NoProductKeyText[] = "Could not open either key";

inline constexpr char AppletPrompt[] =
    "Unable to delete Control Panel entry\r\n\r\nPlease close the Control Panel and continue";
