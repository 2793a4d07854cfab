// The rules of a message box that both the session (answers given without
// showing a box, and its log) and the hosted terminal box follow.
#pragma once

#include "platform/platform.h"

namespace platform {

// The boxes the program shows are MB_OK and MB_YESNO; any other button set
// cannot be shown (result 0). The default button is the second one when
// MB_DEFBUTTON2 is set on a Yes/No box, else the first.
bool IsShowableStyle(UINT style);
bool IsYesNo(UINT style);
// IDOK, IDYES or IDNO; 0 for a box that cannot be shown.
int DefaultButton(UINT style);
// The caption a box shows: Windows titles a box without one "Error".
LPCSTR ShownCaption(LPCSTR caption);

}  // namespace platform
