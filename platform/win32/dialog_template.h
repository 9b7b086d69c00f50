// A dialog layout as an in-memory dialog template (DLGTEMPLATE and one
// DLGITEMTEMPLATE per control, in dialog units, in tab order), for
// DialogBoxIndirectParam.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/core/layout.h"

namespace tl {

// The window classes of the controls.
inline constexpr char kProgressClass[] = "msctls_progress32";
inline constexpr char kTreeViewClass[] = "SysTreeView32";

DWORD DialogStyleOf(const DialogLayout& layout);
DWORD ControlStyleOf(const ControlLayout& control);

// The template's words; DWORD-aligned when the vector's storage is.
std::vector<WORD> BuildDialogTemplate(const DialogLayout& layout);

}  // namespace tl
