#include "platform/box_rules.h"

namespace platform {

namespace {

constexpr UINT ButtonMask = 0x000F;
constexpr UINT DefaultMask = 0x0F00;

}  // namespace

bool IsYesNo(UINT style) { return (style & ButtonMask) == MB_YESNO; }

bool IsShowableStyle(UINT style) { return (style & ButtonMask) == MB_OK || IsYesNo(style); }

int DefaultButton(UINT style) {
  if (!IsShowableStyle(style)) return 0;
  if (!IsYesNo(style)) return IDOK;
  return (style & DefaultMask) == MB_DEFBUTTON2 ? IDNO : IDYES;
}

LPCSTR ShownCaption(LPCSTR caption) { return caption != nullptr ? caption : "Error"; }

}  // namespace platform
