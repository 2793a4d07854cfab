// Texts shown to the user.
#pragma once

inline constexpr char ProductCaption[] = "Quorvane TQ72 Modem";
